#include "stats/yearly.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

#include "records/test_util.h"

namespace brix::stats {
namespace {

// The table and the series of a run on a band of 3000 points over 100 years,
// values about 28.5 with some NaN, and year 7 all cold.
std::string run(float threshold, int threads, YearlySeries& series) {
  static input::RunData data;
  data.n_points = data.n_band = 3000;
  data.allocate_rows();
  data.n_years = 100;
  data.first_year = 1;
  unsigned state = 12345;
  auto next = [&] { return (state = state * 1103515245u + 12345u) >> 8; };
  for (int k = 0; k < data.n_band; ++k) {
    data.band_points[k] = k + 1;
    data.grid_lon[k] = static_cast<float>(next() % 36000) / 100.0f - 180.0f;
  }
  for (int y = 1; y <= data.n_years; ++y)
    for (int k = 0; k < data.n_band; ++k)
      data.band_row(y)[k] = y == 7 ? 20.0f
                            : next() % 997 == 0
                                ? std::numeric_limits<float>::quiet_NaN()
                                : 26.0f + static_cast<float>(next() % 6000) / 1000.0f;
  records::testing::TempFile file;
  records::Unit table("10", -1, -1, false);
  table.open_unknown(file.path());
  yearly_statistics(table, data, threshold, series, threads);
  table.close();
  return file.read();
}

TEST(YearlyStatistics, SameOnAnyNumberOfThreads) {
  static YearlySeries one, many;
  const std::string expected = run(28.5f, 1, one);
  ASSERT_NE(expected.find("\n    7  0.000    -NaN    0.00"), std::string::npos) << expected;
  for (int threads : {2, 3, 4, 7, 200}) {
    run(27.0f, 1, many);  // figures of another threshold, that a skipped year would keep
    EXPECT_EQ(run(28.5f, threads, many), expected) << threads << " threads";
    EXPECT_EQ(std::memcmp(&one, &many, sizeof one), 0) << threads << " threads";
  }
}

}  // namespace
}  // namespace brix::stats
