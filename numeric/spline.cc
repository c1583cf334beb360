#include "numeric/spline.h"

#include <array>
#include <bit>
#include <cmath>
#include <vector>

namespace brix::numeric {
namespace {

// One unit in the last place above the double nearest to pi. The results are
// fixed to the bit, so this exact value is what the angle is built from.
constexpr double PI = std::bit_cast<double>(0x400921FB54442D19ULL);
static_assert(PI == 3.1415926535897936);

// Row coefficients of the band system: a(i,k) = p * C2(k) + C1(k) for the
// three band columns, and C1(4) weights the middle value of the second
// difference. The C2 thirds are 14-digit decimals, not 1/3 and 4/3.
constexpr double C1[4] = {1.0, -4.0, 6.0, -2.0};
constexpr double C2[4] = {0.0, std::bit_cast<double>(0x3FD5555555555519ULL),
                          std::bit_cast<double>(0x3FF5555555555546ULL), 0.0};
static_assert(C2[1] == 0.33333333333333 && C2[1] != 1.0 / 3.0);
static_assert(C2[2] == 1.33333333333333 && C2[2] != 4.0 / 3.0);

}  // namespace

SplineOutcome spline(std::int32_t n, const float* y, float* ys, float& p, std::int32_t period) {
  if (n < 4) {
    ys[0] = -9998.0f;
    return SplineOutcome::kTooFew;
  }
  // Row i of a holds the pentadiagonal system in band form: a[i][0] =
  // A(i,i-2), a[i][1] = A(i,i-1), a[i][2] = A(i,i). The decomposition
  // overwrites it with the Cholesky factor, keeping 1/L(i,i) in a[i][2]. b
  // holds the right-hand side, then the forward and the back solution.
  std::vector<std::array<double, 3>> a(static_cast<std::size_t>(n));
  std::vector<double> b(static_cast<std::size_t>(n));

  // The smoothing parameter that gives a response of one half at the period:
  // p = 6 (cos w - 1)^2 / (cos w + 2) with w = 2 pi / T.
  const std::int32_t nc = n - 2;
  const double t_period = static_cast<double>(period);
  const double omega = (PI * 2.0) / t_period;
  const double c = std::cos(omega);
  const double d = c + (-1.0);
  const double pd = ((d * d) * 6.0) / (c + 2.0);
  p = static_cast<float>(pd);

  // (Q'Q + pS) u = Q'y, Q' being the second-difference operator; the
  // smoothed series is then y - Qu.
  for (std::int32_t i = 0; i < nc; ++i) {
    for (int k = 0; k < 3; ++k) a[i][k] = (pd * C2[k]) + C1[k];
    const double y0 = y[i];
    const double y1 = y[i + 1];
    const double y2 = y[i + 2];
    b[i] = ((C1[3] * y1) + y0) + y2;
  }
  a[0][0] = 0.0;
  a[0][1] = 0.0;
  a[1][0] = 0.0;

  // Cholesky decomposition in the band. A pivot so small against the diagonal
  // that adding e times it leaves the diagonal unchanged counts as a failure.
  const double e = 1.0 / (static_cast<double>(nc) * 16.0);
  for (std::int32_t i = 0; i < nc; ++i) {
    const double diagonal = a[i][2];
    if (i >= 2) a[i][0] = a[i][0] * a[i - 2][2];
    if (i >= 1) {
      double off = a[i][1];
      if (i >= 2) off = off - a[i][0] * a[i - 1][1];
      a[i][1] = off * a[i - 1][2];
    }
    double t = diagonal;
    if (i >= 2) t = t - a[i][0] * a[i][0];
    if (i >= 1) t = t - a[i][1] * a[i][1];
    if (diagonal + e * t <= diagonal) {  // false for a NaN t
      ys[0] = -9999.0f;
      return SplineOutcome::kNotPositive;
    }
    a[i][2] = 1.0 / std::sqrt(t);
  }

  // Forward substitution. Leading rows with a zero right-hand side give zero
  // and are left out of the later rows, so their factor entries never mix
  // into the solution.
  bool started = false;
  int m = 0;
  for (std::int32_t i = 0; i < nc; ++i) {
    double t = b[i];
    if (started) {
      m = m + 1 < 2 ? m + 1 : 2;
      if (m == 2) t = t - a[i][0] * b[i - 2];
      t = t - a[i][1] * b[i - 1];
    } else if (!(t == 0.0)) {
      started = true;
    }
    b[i] = t * a[i][2];
  }

  // Back substitution with the transposed factor.
  b[nc - 1] = b[nc - 1] * a[nc - 1][2];
  for (std::int32_t i = nc - 2; i >= 0; --i) {
    double t = b[i] - a[i + 1][1] * b[i + 1];
    if (i + 2 < nc) t = t - a[i + 2][0] * b[i + 2];
    b[i] = t * a[i][2];
  }

  // The correction Qu, rounded to single, then subtracted in single. The two
  // end rows of Q have fewer than three entries each.
  for (std::int32_t i = 2; i < nc; ++i) {
    ys[i] = static_cast<float>(((-2.0 * b[i - 1]) + b[i - 2]) + b[i]);
  }
  ys[0] = static_cast<float>(b[0]);
  ys[1] = static_cast<float>((-2.0 * b[0]) + b[1]);
  ys[n - 1] = static_cast<float>(b[nc - 1]);
  ys[n - 2] = static_cast<float>((-2.0 * b[nc - 1]) + b[nc - 2]);

  for (std::int32_t i = 0; i < n; ++i) {
    const float correction = ys[i];
    ys[i] = y[i] - correction;
  }
  return SplineOutcome::kSmoothed;
}

}  // namespace brix::numeric
