// Yearly statistics of the warm points of the equatorial band: those whose
// value exceeds the convection threshold.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "stats/series.h"

namespace brix::stats {

// One row a year of the band block `values` (n_years rows of band_lon.size()
// values, one after another), the first for `first_year`. A large block is
// worked on by up to `threads` threads (the calling one among them), with
// the same results.
std::vector<YearRow> yearly_rows(std::span<const float> band_lon, const float* values,
                                 std::int32_t n_years, std::int32_t first_year,
                                 float convection_threshold, int threads = 1);

}  // namespace brix::stats
