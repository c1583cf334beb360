// Mean and sample standard deviation of a series of single-precision values.
#pragma once

#include <cstdint>

namespace brix::numeric {

// Sets mean and sd (divisor n - 1) of x(1..n). Every operation is single
// precision. No count is refused: 0 and 1 give the plain IEEE results (NaN,
// negative zero), and x is not read when n < 1.
void mnsd(const float* x, const std::int32_t& n, float& mean, float& sd);

}  // namespace brix::numeric
