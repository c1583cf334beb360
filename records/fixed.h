// Fixed-point numbers written exactly, from an integer count of units of
// 10^-decimals: what the generator and the importer write into the files
// the program reads, without a detour through floating point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace brix::records {

// v / 10^decimals with that many decimals ("-5.00", "29.512", "-.5" is never
// made: "-0.500"); at most 15 characters, no NUL. Returns their number.
std::size_t put_fixed(char* out, std::int32_t v, int decimals);

// The same right-justified in a field of w characters (no NUL), as "%w.df"
// prints it; w asterisks when it does not fit.
void put_fixed_field(char* out, int w, int decimals, std::int32_t v);

// A line of fixed fields, as a year record is written: `first` right-justified
// in `first_width` columns (asterisks when it does not fit), then each of
// `values` by put_fixed_field in `width` columns, then LF. Writes
// first_width + values.size() * width + 1 characters and returns that number.
std::size_t put_fixed_line(char* out, int first_width, std::int32_t first, int width, int decimals,
                           std::span<const std::int32_t> values);

}  // namespace brix::records
