// Powers of ten in double precision, as both directions of conversion scale
// by them.
#pragma once

#include <cstdint>

namespace brix::records {

// 10^n in double precision by repeated squaring of 10.0, multiplying in the
// squares that the bits of n ask for, lowest bit first.
inline double power_of_ten(std::int64_t n) {
  double result = 1.0;
  double square = 10.0;
  while (n > 0) {
    if (n & 1) result *= square;
    n >>= 1;
    if (n > 0) square *= square;
  }
  return result;
}

}  // namespace brix::records
