// Cubic smoothing spline for a series of equally spaced values.
#pragma once

#include <cstdint>

namespace brix::numeric {

// Longest series brix_eli smooths (its capacity of years is within it).
inline constexpr int mxy = 5000;

// What became of a series.
enum class SplineOutcome {
  kSmoothed,
  kTooFew,       // fewer than 4 values: ys(1) = -9998
  kNotPositive,  // the decomposition failed: ys(1) = -9999
};

// Smooths y(1..n) into ys(1..n) with the natural cubic spline g, knots at
// 1..n, that minimises sum (y(i) - g(i))^2 + 1/(2p) * integral of g''^2.
// p is derived from period, the period (in samples) that comes out with half
// its amplitude, and written to p as a single.
//
// n < 4: ys(1) = -9998, nothing else written. A failed decomposition:
// ys(1) = -9999, nothing else written. ys must not overlap y and needs a
// first element even when n < 1. Its work storage is allocated for the call
// (std::bad_alloc when there is none): calls on other threads do not meet.
SplineOutcome spline(std::int32_t n, const float* y, float* ys, float& p, std::int32_t period);

}  // namespace brix::numeric
