// The analysis as a library: the warm points of the equatorial band year by
// year, their statistics, and those series smoothed, as rows of values. It
// holds no state between calls, writes nothing and never ends the process:
// two analyses may run at once on two threads, and a series the spline
// refuses is said in the result. The tables' text is made from the rows by
// the functions of analysis/tables.h.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

#include "numeric/spline.h"
#include "stats/series.h"
#include "stats/smoothed.h"

namespace brix::analysis {

using numeric::SplineOutcome;
using stats::SmoothedRow;
using stats::YearRow;

struct Settings {
  float convection_threshold = 28.5f;  // a point is warm above it
  std::int32_t spline_period = 10;     // years, 5 or more in brix_eli's dialogue
  int threads = 1;                     // for the yearly statistics of a large block
};

struct Result {
  std::vector<YearRow> yearly;
  std::vector<SmoothedRow> smoothed;
  float spline_factor = 0.0f;
  // Fraction, longitude mean and deviation, temperature mean and deviation.
  std::array<SplineOutcome, stats::kSmoothedSeries> spline_outcomes{};
};

// Input that does not make an analysis: sizes that disagree, no grid point.
struct BadInput : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

// The analysis of the band alone: its points' longitudes and `values`, one
// row of band_lon.size() values a year for n_years years from first_year (a
// band without points has rows too, of NaN).
Result analyse_band(std::span<const float> band_lon, std::span<const float> values,
                    std::int32_t n_years, std::int32_t first_year, const Settings& settings);

// The analysis of grid points `lat`, `lon` and `values` (one row of
// lat.size() values a year, from first_year): the band is the points from 5S
// to 5N, both included; with `dateline`, negative longitudes count from 180
// to 360 (raised by 360), as brix_eli's dateline answer "y" does.
Result analyse(std::span<const float> lat, std::span<const float> lon,
               std::span<const float> values, std::int32_t first_year, bool dateline,
               const Settings& settings);

// The two steps of analyse_band, for a caller that learns the spline period
// only after the yearly rows (brix_eli's dialogue).
std::vector<YearRow> yearly(std::span<const float> band_lon, std::span<const float> values,
                            std::int32_t n_years, std::int32_t first_year,
                            const Settings& settings);
void smooth(Result& result, std::int32_t spline_period);

}  // namespace brix::analysis
