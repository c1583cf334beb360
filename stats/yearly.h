// Yearly statistics of the warm points of the equatorial band (5S to 5N) and
// the yearly table.
#pragma once

#include "input/run_data.h"
#include "records/unit.h"
#include "stats/series.h"

namespace brix::stats {

// Writes the heading and one row per year to `table` and fills entries 1 to
// n_years of the five yearly series. Does not close the file. A large record
// is worked on up to `threads` threads (the calling one among them), with
// the same results.
void yearly_statistics(records::Unit& table, const input::RunData& data,
                       float convection_threshold, YearlySeries& series, int threads = 1);

}  // namespace brix::stats
