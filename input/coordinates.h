// The XY coordinate file: one latitude/longitude pair per grid point.
#pragma once

#include "input/run_data.h"
#include "records/unit.h"

namespace brix::input {

// Reads every pair of the file open on `file` into grid_lat and grid_lon in
// the order coord_order gives (1: lat lon, 2: lon lat), skipping lines that
// are not numbers, finds the band's grid points and allocates its rows for
// read_reconstruction, echoes the count on `console` and closes the file.
// More than max_points pairs end the run with the run-time error report;
// rows that cannot be had throw std::bad_alloc.
void read_coordinates(records::Unit& file, records::Unit& console, int coord_order,
                      RunData& data);

// Raises every longitude below 0.0 by 360.0 (single precision). The band,
// chosen by latitude alone, stays as it is.
void shift_dateline(RunData& data);

}  // namespace brix::input
