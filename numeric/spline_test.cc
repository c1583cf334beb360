#include "numeric/spline.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <limits>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace brix::numeric {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }

// Runs body with standard output sent to a temporary file and returns what
// was written there.
std::string stdout_of(const std::function<void()>& body) {
  std::fflush(stdout);
  std::FILE* file = std::tmpfile();
  const int saved = dup(1);
  dup2(fileno(file), 1);
  body();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  std::string text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
  std::fclose(file);
  return text;
}

struct Result {
  std::vector<float> ys;
  float p;
  std::string console;
};

// Calls spline on y with outputs preset to sentinels, so that unwritten
// elements can be recognised.
Result smooth(const std::vector<float>& y, std::int32_t period, std::int32_t n) {
  Result r{std::vector<float>(std::max<std::size_t>(y.size(), 1), 777.0f), 555.0f, {}};
  r.console = stdout_of([&] { spline(n, y.data(), r.ys.data(), r.p, period); });
  return r;
}

Result smooth(const std::vector<float>& y, std::int32_t period) {
  return smooth(y, period, static_cast<std::int32_t>(y.size()));
}

// p = 6 (cos w - 1)^2 / (cos w + 2), w = 2 pi / T, in long double.
long double reference_p(long double period) {
  const long double c = std::cos(2.0L * 3.14159265358979323846264338327950288L / period);
  return 6.0L * (c - 1.0L) * (c - 1.0L) / (c + 2.0L);
}

TEST(Spline, SmoothingParameter) {
  const std::vector<float> y = {1, 5, 2, 8};
  const struct {
    std::int32_t period;
    float p;
  } known[] = {{1, 0.0f},          {2, 24.0f},         {3, 9.0f},
               {4, 3.0f},          {5, 1.2406774f},    {10, 0.0779087670f},
               {20, 0.0048703871f}};
  for (const auto& k : known) {
    SCOPED_TRACE(k.period);
    EXPECT_EQ(bits(smooth(y, k.period).p), bits(k.p));
  }
  for (std::int32_t period = 1; period <= 20; ++period) {
    SCOPED_TRACE(period);
    const float p = smooth(y, period).p;
    const float want = static_cast<float>(reference_p(period));
    const std::int64_t ulps = static_cast<std::int64_t>(bits(p)) - bits(want);
    EXPECT_LE(std::abs(ulps), 1) << p << " vs " << want;
    EXPECT_EQ(bits(smooth(y, -period).p), bits(p)) << "the sign of the period matters";
  }
}

TEST(Spline, SmallestSeries) {
  const Result r = smooth({1, 5, 2, 8}, 5);
  const float want[] = {1.4658675f, 3.1107306f, 4.3809361f, 7.0424657f};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(bits(r.ys[i]), bits(want[i])) << i;
  EXPECT_EQ(r.console, "");
}

// Series with exactly zero second differences have nothing to smooth.
TEST(Spline, StraightSeriesComeBackUnchanged) {
  auto ramp = [](int n, float slope, float offset) {
    std::vector<float> y(n);
    for (int i = 0; i < n; ++i) y[i] = slope * static_cast<float>(i + 1) + offset;
    return y;
  };
  const struct {
    const char* name;
    std::vector<float> y;
    std::int32_t period;
  } cases[] = {
      {"constant", std::vector<float>(50, 3.7f), 5},
      {"negative zeros", std::vector<float>(4, -0.0f), 10},
      {"half steps", ramp(7, 0.5f, -3.0f), 2},
      {"1..mxy, the longest series", ramp(mxy, 1.0f, 0.0f), 20},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Result r = smooth(c.y, c.period);
    for (std::size_t i = 0; i < c.y.size(); ++i) {
      ASSERT_EQ(bits(r.ys[i]), bits(c.y[i])) << i;
    }
  }
}

TEST(Spline, NaNSpreadsEverywhere) {
  for (int at : {0, 5, 11}) {
    SCOPED_TRACE(at);
    std::vector<float> y = {3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8};
    y[at] = kNaN;
    const Result r = smooth(y, 7);
    for (float v : r.ys) EXPECT_TRUE(std::isnan(v)) << v;
    EXPECT_FALSE(std::isnan(r.p));
  }
}

TEST(Spline, PeriodZeroGivesNaNQuietly) {
  const Result r = smooth({3, 1, 4, 1, 5, 9}, 0);
  EXPECT_TRUE(std::isnan(r.p));
  for (float v : r.ys) EXPECT_TRUE(std::isnan(v)) << v;
  EXPECT_EQ(r.console, "");
}

TEST(Spline, TooShortSetsOnlyTheMarker) {
  const std::vector<float> y = {1, 2, 3, 4};
  for (std::int32_t n : {3, 2, 1, 0, -5}) {
    SCOPED_TRACE(n);
    const Result r = smooth(y, 5, n);
    EXPECT_EQ(r.ys[0], -9998.0f);
    for (int i = 1; i < 4; ++i) EXPECT_EQ(r.ys[i], 777.0f) << i;
    EXPECT_EQ(r.p, 555.0f);
    EXPECT_EQ(r.console, "");
  }
}

std::string too_long_output_path(pid_t test_process) {
  return ::testing::TempDir() + "spline_too_long." + std::to_string(test_process);
}

TEST(SplineDeathTest, TooLongStopsTheRun) {
  const std::string path = too_long_output_path(getpid());
  std::vector<float> y(mxy + 1, 1.0f), ys(mxy + 1, 0.0f);
  float p = 0.0f;
  std::fflush(stdout);  // nothing buffered may reach the child's redirected output
  EXPECT_EXIT(
      {
        // The child's parent is this test process, whose path is wanted.
        const int fd = open(too_long_output_path(getppid()).c_str(),
                            O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        spline(mxy + 1, y.data(), ys.data(), p, 5);
      },
      ::testing::ExitedWithCode(0), "^$");
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::remove(path.c_str());
  EXPECT_EQ(text.str(),
            "\n"
            " *** series too long for spline subroutine ***\n"
            "  *** enlarge mxy parameter in subroutine ***\n"
            "\n");
}

// Least-squares straight line through (i, y(i)), i = 1..n.
std::vector<double> straight_line(const std::vector<float>& y) {
  const double n = static_cast<double>(y.size());
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (std::size_t i = 0; i < y.size(); ++i) {
    const double x = static_cast<double>(i + 1);
    sx += x, sy += y[i], sxx += x * x, sxy += x * y[i];
  }
  const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
  const double intercept = (sy - slope * sx) / n;
  std::vector<double> line(y.size());
  for (std::size_t i = 0; i < y.size(); ++i) line[i] = intercept + slope * static_cast<double>(i + 1);
  return line;
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

double scale_of(const std::vector<float>& y) {
  double s = 0.0;
  for (float v : y) s = std::max(s, std::abs(static_cast<double>(v)));
  return s;
}

std::vector<float> random_series(std::mt19937& rng, int n) {
  std::uniform_real_distribution<float> noise(-50.0f, 50.0f);
  std::vector<float> y(n);
  for (int i = 0; i < n; ++i) y[i] = 0.8f * static_cast<float>(i) + noise(rng);
  return y;
}

TEST(Spline, MatchesDenseSolutionOfTheMinimisation) {
  std::mt19937 rng(20240611);
  for (int n : {4, 5, 9, 23, 60}) {
    for (std::int32_t period : {3, 5, 10, 25}) {
      SCOPED_TRACE(::testing::Message() << "n=" << n << " period=" << period);
      const std::vector<float> y = random_series(rng, n);
      const Result r = smooth(y, period);
      const std::vector<double> g =
          dense_smoothing_spline(y, 1.0 / (2.0 * static_cast<double>(reference_p(period))));
      const double tolerance = 1e-5 * scale_of(y);
      for (int i = 0; i < n; ++i) {
        ASSERT_NEAR(r.ys[i], g[i], tolerance) << i;
        // The correction y - g is rounded to single and then subtracted in
        // single. The reference correction is far more accurate than a
        // single ulp, so the rounded results agree to the bit.
        const float correction = static_cast<float>(static_cast<double>(y[i]) - g[i]);
        const float rounded = y[i] - correction;
        EXPECT_EQ(bits(r.ys[i]), bits(rounded)) << i;
      }
    }
  }
}

// p = 0 makes the curvature infinitely expensive: the least-squares line.
// A very long period comes as close to it.
TEST(Spline, LongestPeriodsGiveTheStraightLine) {
  std::mt19937 rng(7);
  for (std::int32_t period : {1, 1000000}) {
    SCOPED_TRACE(period);
    const std::vector<float> y = random_series(rng, 30);
    const std::vector<double> line = straight_line(y);
    const Result r = smooth(y, period);
    for (std::size_t i = 0; i < y.size(); ++i) ASSERT_NEAR(r.ys[i], line[i], 1e-5 * scale_of(y)) << i;
  }
}

// The period is the one whose amplitude is halved, away from the ends.
TEST(Spline, HalvesTheAmplitudeAtItsPeriod) {
  for (std::int32_t period : {20, 50}) {
    SCOPED_TRACE(period);
    const int n = 1000;
    std::vector<float> y(n);
    for (int i = 0; i < n; ++i) y[i] = static_cast<float>(std::sin(2.0 * std::numbers::pi * i / period));
    const Result r = smooth(y, period);
    // Root mean square over whole periods in the middle, where the ends no
    // longer reach.
    double in = 0.0, out = 0.0;
    for (int i = 300; i < 700; ++i) in += double(y[i]) * y[i], out += double(r.ys[i]) * r.ys[i];
    EXPECT_NEAR(std::sqrt(out / in), 0.5, 0.01);
  }
}

}  // namespace
}  // namespace brix::numeric
