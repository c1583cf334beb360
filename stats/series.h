// The rows of the two tables: each year's band statistics, and beside them
// the smoothed series and the whole-record means.
#pragma once

#include <cstdint>

namespace brix::stats {

// A year of the yearly table: the warm points' fraction of the band, and
// the mean, standard deviation and standard error of their longitudes and
// of their values.
struct YearRow {
  std::int32_t year = 0;
  float npeak = 0, lon_mean = 0, lon_sd = 0, lon_se = 0, tmp_mean = 0, tmp_sd = 0, tmp_se = 0;
};

// A year of the smoothed table: five yearly series, each beside its
// smoothed value, three of them beside their whole-record means.
struct SmoothedRow {
  std::int32_t year = 0;
  float npeak = 0, npeak_smooth = 0, npeak_overall = 0;
  float lon_mean = 0, lon_mean_smooth = 0, lon_mean_overall = 0;
  float lon_sd = 0, lon_sd_smooth = 0;
  float tmp_mean = 0, tmp_mean_smooth = 0, tmp_mean_overall = 0;
  float tmp_sd = 0, tmp_sd_smooth = 0;
};

}  // namespace brix::stats
