// The reconstruction data file: a header line, then one line per year with
// the year and one value per grid point.
#pragma once

#include "input/run_data.h"
#include "records/unit.h"

namespace brix::input {

// Reads the header line and every year record of the file open on `file`
// into sst, sets first_year, last_year and n_years, echoes them on `console`
// and closes the file. Unreadable year lines are skipped and their slot is
// reused. More than max_years records end the run with the run-time error
// report.
void read_reconstruction(records::Unit& file, records::Unit& console, RunData& data);

}  // namespace brix::input
