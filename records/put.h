// Output conversions: 32-bit numbers to the text of fixed-width fields.
#pragma once

#include <cstdint>

namespace brix::records {

// Iw output: the decimal digits right-justified in w columns, or w asterisks
// when they do not fit. Writes exactly w characters to out.
void put_integer(char* out, int w, std::int32_t value);

// Fw.d output: the value with d decimals right-justified in w columns, or w
// asterisks when it does not fit; NaN and infinities as "NaN" and "INF",
// signed by the sign bit; negative zero without a sign. Needs w >= d + 2.
// Writes exactly w characters to out.
void put_real(char* out, int w, int d, float value);
}  // namespace brix::records
