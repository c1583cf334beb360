// Input conversions: the text of fields and free-form values to 32-bit
// numbers.
#pragma once

#include <cstdint>
#include <string_view>

namespace brix::records {

// Iw input of one field whose blanks are already removed: an optional sign
// and decimal digits; an empty field reads 0. False on any other character.
// A value beyond the 32-bit range saturates at its limit.
bool get_integer_field(std::string_view field, std::int32_t& value);

// Free-form integer: an optional sign and at least one decimal digit, within
// the 32-bit range. False otherwise.
bool get_integer_value(std::string_view text, std::int32_t& value);

// Real input of a field or value text without blanks. implied_decimals is the
// d of Fw.d (a field without "." gets that many implied decimals), or 0 for a
// free-form value. An empty text reads 0.0. False when the text breaks the
// syntax of a number.
bool get_real(std::string_view text, int implied_decimals, float& value);

// Removes every blank of a field in place and returns the remaining text.
std::string_view strip_blanks(char* scratch, std::string_view field);
}  // namespace brix::records
