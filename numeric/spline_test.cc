// The smoothing spline against what it must compute: its smoothing parameter,
// the example series, series it must leave alone, NaN, the too-short marker,
// and a dense solution of the minimisation it solves.
#include "numeric/spline.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <optional>
#include <random>
#include <vector>

namespace brix::numeric {
namespace {

std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }

struct Result {
  std::vector<float> ys;
  float p;
};

// Calls spline on y with the outputs preset to sentinels, so that unwritten
// elements show.
Result smooth(const std::vector<float>& y, std::int32_t period,
              std::optional<std::int32_t> n = {}) {
  Result r{std::vector<float>(std::max<std::size_t>(y.size(), 1), 777.0f), 555.0f};
  const std::int32_t count = n.value_or(static_cast<std::int32_t>(y.size()));
  SplineOutcome outcome = spline(count, y.data(), r.ys.data(), r.p, period);
  EXPECT_EQ(outcome, count < 4 ? SplineOutcome::kTooFew : SplineOutcome::kSmoothed) << count;
  return r;
}

// p = 6 (cos w - 1)^2 / (cos w + 2), w = 2 pi / T, in long double.
long double reference_p(long double period) {
  const long double c = std::cos(2.0L * std::numbers::pi_v<long double> / period);
  return 6.0L * (c - 1.0L) * (c - 1.0L) / (c + 2.0L);
}

TEST(Spline, SmoothingParameterAndTheExampleSeries) {
  const std::vector<float> y = {1, 5, 2, 8};
  const struct {
    std::int32_t period;
    float p;
  } known[] = {{1, 0.0f}, {2, 24.0f}, {3, 9.0f}, {4, 3.0f}, {5, 1.2406774f},
               {10, 0.0779087670f}, {20, 0.0048703871f}};
  for (const auto& k : known) EXPECT_EQ(bits(smooth(y, k.period).p), bits(k.p)) << k.period;
  for (std::int32_t period = 1; period <= 20; ++period) {
    const float p = smooth(y, period).p, want = static_cast<float>(reference_p(period));
    EXPECT_LE(std::abs(static_cast<std::int64_t>(bits(p)) - bits(want)), 1) << period;
    EXPECT_EQ(bits(smooth(y, -period).p), bits(p)) << "the sign of the period matters";
  }
  const Result r = smooth(y, 5);
  const float want[] = {1.4658675f, 3.1107306f, 4.3809361f, 7.0424657f};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(bits(r.ys[i]), bits(want[i])) << i;
}

TEST(Spline, SpecialSeries) {
  // Zero second differences: nothing to smooth, the values come back, for
  // series longer than brix_eli's too.
  std::vector<float> ramp(mxy + 1), half(7);
  for (int i = 0; i <= mxy; ++i) ramp[i] = static_cast<float>(i + 1);
  for (int i = 0; i < 7; ++i) half[i] = 0.5f * static_cast<float>(i + 1) - 3.0f;
  for (const auto& y : {std::vector<float>(50, 3.7f), std::vector<float>(4, -0.0f), half, ramp}) {
    const Result r = smooth(y, 5);
    for (std::size_t i = 0; i < y.size(); ++i) ASSERT_EQ(bits(r.ys[i]), bits(y[i])) << i;
  }
  // A NaN anywhere spreads everywhere; the period 0 gives NaN everywhere.
  for (int at : {0, 5, 11}) {
    std::vector<float> y = {3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8};
    y[at] = std::numeric_limits<float>::quiet_NaN();
    for (float v : smooth(y, 7).ys) EXPECT_TRUE(std::isnan(v)) << at;
  }
  const Result zero = smooth({3, 1, 4, 1, 5, 9}, 0);
  EXPECT_TRUE(std::isnan(zero.p));
  for (float v : zero.ys) EXPECT_TRUE(std::isnan(v));
  // Fewer than 4 values: only the marker in the first element.
  for (std::int32_t n : {3, 2, 1, 0, -5}) {
    const Result r = smooth({1, 2, 3, 4}, 5, n);
    EXPECT_EQ(r.ys, (std::vector<float>{-9998.0f, 777.0f, 777.0f, 777.0f})) << n;
    EXPECT_EQ(r.p, 555.0f) << n;
  }
}

// Solves A X = B (A n x n, B n x m, both row-major) by Gaussian elimination
// with partial pivoting.
std::vector<double> solve(std::vector<double> a, std::vector<double> b, int n, int m) {
  for (int k = 0; k < n; ++k) {
    int pivot = k;
    for (int i = k + 1; i < n; ++i)
      if (std::abs(a[i * n + k]) > std::abs(a[pivot * n + k])) pivot = i;
    for (int j = 0; j < n; ++j) std::swap(a[k * n + j], a[pivot * n + j]);
    for (int j = 0; j < m; ++j) std::swap(b[k * m + j], b[pivot * m + j]);
    for (int i = k + 1; i < n; ++i) {
      const double f = a[i * n + k] / a[k * n + k];
      for (int j = k; j < n; ++j) a[i * n + j] -= f * a[k * n + j];
      for (int j = 0; j < m; ++j) b[i * m + j] -= f * b[k * m + j];
    }
  }
  for (int k = n - 1; k >= 0; --k)
    for (int j = 0; j < m; ++j) {
      double s = b[k * m + j];
      for (int i = k + 1; i < n; ++i) s -= a[k * n + i] * b[i * m + j];
      b[k * m + j] = s / a[k * n + k];
    }
  return b;
}

// The natural cubic spline with knots 1..n minimising |y - g|^2 + alpha *
// integral g''^2. With g'' = gamma at the interior knots, the spline
// conditions are Q'g = R gamma and the integral is gamma' R gamma, where Q
// (n x (n-2)) has columns (1, -2, 1) and R is tridiagonal with 2/3 and 1/6.
// Eliminating gamma leaves (I + alpha Q R^-1 Q') g = y.
std::vector<double> dense_smoothing_spline(const std::vector<float>& y, double alpha) {
  const int n = static_cast<int>(y.size()), nc = n - 2;
  std::vector<double> q(n * nc, 0.0), qt(nc * n, 0.0), r(nc * nc, 0.0);
  for (int j = 0; j < nc; ++j) {
    for (int k = 0; k < 3; ++k) q[(j + k) * nc + j] = qt[j * n + j + k] = (k == 1 ? -2.0 : 1.0);
    r[j * nc + j] = 2.0 / 3.0;
    if (j + 1 < nc) r[j * nc + j + 1] = r[(j + 1) * nc + j] = 1.0 / 6.0;
  }
  const std::vector<double> rinv_qt = solve(r, qt, nc, n);
  std::vector<double> system(n * n, 0.0), rhs(y.begin(), y.end());
  for (int i = 0; i < n; ++i) {
    system[i * n + i] = 1.0;
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < nc; ++k) system[i * n + j] += alpha * q[i * nc + k] * rinv_qt[k * n + j];
  }
  return solve(system, rhs, n, 1);
}

TEST(Spline, MatchesDenseSolutionOfTheMinimisation) {
  std::mt19937 rng(20240611);
  std::uniform_real_distribution<float> noise(-50.0f, 50.0f);
  for (int n : {4, 5, 9, 23, 60}) {
    for (std::int32_t period : {3, 5, 10, 25}) {
      std::vector<float> y(n);
      for (int i = 0; i < n; ++i) y[i] = 0.8f * static_cast<float>(i) + noise(rng);
      const Result r = smooth(y, period);
      const std::vector<double> g =
          dense_smoothing_spline(y, 1.0 / (2.0 * static_cast<double>(reference_p(period))));
      for (int i = 0; i < n; ++i) {
        // The correction y - g is rounded to single and subtracted in single;
        // the reference is far more accurate than an ulp, so the results
        // agree to the bit.
        const float correction = static_cast<float>(static_cast<double>(y[i]) - g[i]);
        EXPECT_EQ(bits(r.ys[i]), bits(y[i] - correction)) << "n=" << n << " T=" << period;
      }
    }
  }
}

}  // namespace
}  // namespace brix::numeric
