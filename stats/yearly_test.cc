#include "stats/yearly.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

namespace brix::stats {
namespace {

// A band of 3000 points over 100 years, values about the threshold, with a
// year all cold, a year with one warm point and some NaN.
input::RunData& band_data() {
  static input::RunData data;
  data.n_points = data.n_band = 3000;
  data.n_years = 100;
  data.first_year = 1871;
  unsigned state = 12345;
  auto next = [&] { return (state = state * 1103515245u + 12345u) >> 8; };
  for (int k = 0; k < data.n_band; ++k) {
    data.band_points[k] = k + 1;
    data.grid_lon[k] = static_cast<float>(next() % 36000) / 100.0f - 180.0f;
  }
  for (int y = 1; y <= data.n_years; ++y)
    for (int k = 0; k < data.n_band; ++k)
      data.band_row(y)[k] = y == 7 || (y == 8 && k != 5) ? 20.0f
                            : y == 8                ? 29.5f
                            : next() % 997 == 0     ? std::numeric_limits<float>::quiet_NaN()
                                                : 26.0f + static_cast<float>(next() % 6000) / 1000.0f;
  return data;
}

// The table and the series of one run.
std::string run(const input::RunData& data, float threshold, int threads, YearlySeries& series) {
  const std::string path = testing::TempDir() + "/yearly_table.txt";
  records::Unit table("10", -1, -1, false);
  table.open_unknown(path);
  yearly_statistics(table, data, threshold, series, threads);
  table.close();
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

TEST(YearlyStatistics, SameOnAnyNumberOfThreads) {
  const input::RunData& data = band_data();
  static YearlySeries one, many;
  const std::string expected = run(data, 28.5f, 1, one);
  ASSERT_EQ(std::count(expected.begin(), expected.end(), '\n'), 101);
  ASSERT_NE(expected.find("\n 1877  0.000    -NaN    0.00"), std::string::npos) << expected;
  ASSERT_NE(expected.find("29.500    -NaN    -NaN\n"), std::string::npos) << expected;
  for (int threads : {2, 3, 4, 7, 200}) {
    run(data, 27.0f, 1, many);  // figures of another threshold, that a skipped year would keep
    EXPECT_EQ(run(data, 28.5f, threads, many), expected) << threads << " threads";
    EXPECT_EQ(std::memcmp(&one, &many, sizeof one), 0) << threads << " threads";
  }
}

}  // namespace
}  // namespace brix::stats
