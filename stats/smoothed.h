// Whole-record means, the smoothing of the five yearly series and the
// smoothed table.
#pragma once

#include <cstdint>

#include "records/unit.h"
#include "stats/series.h"

namespace brix::stats {

// Means over years 1 to n_years of the fraction, mean longitude and mean
// temperature series.
void record_means(const YearlySeries& series, std::int32_t n_years, RecordMeans& means);

// The heading line of the smoothed table.
void smoothed_heading(records::Unit& table);

// Smooths the five series with the given period, then writes one row per
// year. Does not close the file.
void smooth_and_tabulate(records::Unit& table, const YearlySeries& series,
                         const RecordMeans& means, std::int32_t n_years,
                         std::int32_t first_year, std::int32_t spline_period,
                         SmoothedSeries& smoothed);

}  // namespace brix::stats
