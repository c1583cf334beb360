// The yearly series of the band statistics, their whole-record means and
// their smoothed counterparts.
#pragma once

#include "input/run_data.h"

namespace brix::stats {

using input::max_years;

struct YearlySeries {
  float npeak_series[max_years];
  float lon_mean_series[max_years];
  float lon_sd_series[max_years];
  float tmp_mean_series[max_years];
  float tmp_sd_series[max_years];
};

struct RecordMeans {
  float npeak_overall = 0.0f;
  float lon_mean_overall = 0.0f;
  float tmp_mean_overall = 0.0f;
};

struct SmoothedSeries {
  float npeak_smooth[max_years];
  float lon_mean_smooth[max_years];
  float lon_sd_smooth[max_years];
  float tmp_mean_smooth[max_years];
  float tmp_sd_smooth[max_years];
  float spline_factor = 0.0f;  // the smoothing parameter of the last call
};

}  // namespace brix::stats
