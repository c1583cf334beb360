// Whole-record means of the yearly series and their smoothing: the rows of
// the smoothed table.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "numeric/spline.h"
#include "stats/series.h"

namespace brix::stats {

// The smoothed series in the order smoothed: fraction, longitude mean and
// deviation, temperature mean and deviation.
inline constexpr int kSmoothedSeries = 5;

struct Smoothed {
  std::vector<SmoothedRow> rows;
  float spline_factor = 0.0f;  // the smoothing parameter (0 when no series was long enough)
  // What became of each series: a series the spline refused has its marker
  // (-9998 or -9999) as its first smoothed value and zeros after it.
  std::array<numeric::SplineOutcome, kSmoothedSeries> outcomes{};
};

// The means over all years of the fraction, mean longitude and mean
// temperature series, and the five series smoothed with the given period.
Smoothed smoothed_rows(std::span<const YearRow> yearly, std::int32_t spline_period);

}  // namespace brix::stats
