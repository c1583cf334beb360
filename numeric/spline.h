// Cubic smoothing spline for a series of equally spaced values.
#pragma once

#include <cstdint>

namespace brix::numeric {

// Longest series the spline accepts; its work storage is sized by it.
inline constexpr int mxy = 5000;

// Smooths y(1..n) into ys(1..n) with the natural cubic spline g, knots at
// 1..n, that minimises sum (y(i) - g(i))^2 + 1/(2p) * integral of g''^2.
// p is derived from period, the period (in samples) that comes out with half
// its amplitude, and written to p as a single.
//
// n < 4: ys(1) = -9998, nothing else written. n > mxy: a message on the
// console and the run stops. A failed decomposition: ys(1) = -9999 and a
// message line. ys must not overlap y and needs a first element even when
// n < 1. Uses fixed static work storage: not re-entrant.
void spline(const std::int32_t& n, const float* y, float* ys, float& p,
            const std::int32_t& period);

}  // namespace brix::numeric
