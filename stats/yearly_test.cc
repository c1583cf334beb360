#include "stats/yearly.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <limits>
#include <vector>

namespace brix::stats {
namespace {

// The rows of a band of 3000 points over 100 years, values about 28.5 with
// some NaN, and year 7 all cold.
std::vector<YearRow> rows(float threshold, int threads) {
  const int n_band = 3000, n_years = 100;
  std::vector<float> lon(n_band), values(std::size_t{n_band} * n_years);
  unsigned state = 12345;
  auto next = [&] { return (state = state * 1103515245u + 12345u) >> 8; };
  for (float& x : lon) x = static_cast<float>(next() % 36000) / 100.0f - 180.0f;
  for (int y = 1; y <= n_years; ++y)
    for (int k = 0; k < n_band; ++k)
      values[std::size_t(y - 1) * n_band + k] =
          y == 7              ? 20.0f
          : next() % 997 == 0 ? std::numeric_limits<float>::quiet_NaN()
                              : 26.0f + static_cast<float>(next() % 6000) / 1000.0f;
  return yearly_rows(lon, values.data(), n_years, 1, threshold, threads);
}

TEST(YearlyRows, SameOnAnyNumberOfThreads) {
  const std::vector<YearRow> one = rows(28.5f, 1);
  ASSERT_EQ(one.size(), 100u);
  EXPECT_EQ(one[6].year, 7);
  EXPECT_EQ(one[6].npeak, 0.0f);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(one[6].lon_mean), 0xFFC00000u);  // 0 / 0, the default NaN
  for (int threads : {2, 3, 4, 7, 200}) {
    const std::vector<YearRow> many = rows(28.5f, threads);
    ASSERT_EQ(many.size(), one.size());
    EXPECT_EQ(std::memcmp(many.data(), one.data(), one.size() * sizeof(YearRow)), 0)
        << threads << " threads";
  }
}

}  // namespace
}  // namespace brix::stats
