#include "input/coordinates.h"

#include <string>

#include "records/band.h"
#include "records/freeform.h"
#include "records/report.h"
#include "records/write.h"

namespace brix::input {

using records::Format;
using records::Handles;
using records::Outcome;
using records::Target;

namespace {

// Finds the grid points of the band from the latitudes and allocates the
// band's rows for max_years records: a run needs the memory of its own band.
// std::bad_alloc when they cannot be had.
void find_band(RunData& data) {
  data.n_band = 0;
  for (int p = 1; p <= data.n_points; ++p) {
    data.band_keep[p - 1] = records::in_band(data.grid_lat[p - 1]) ? 1 : 0;
    if (data.band_keep[p - 1] != 0) data.band_points[data.n_band++] = p;
  }
  data.allocate_rows();
}

}  // namespace

void read_coordinates(records::Unit& file, records::Unit& console, int coord_order,
                      RunData& data) {
  static const Format kCount("(/1x,'Grid points read in is: ',i5)");
  // The two scratch reals keep their values from one pair to the next: a
  // line holding only "/" adds a point with the values they still hold.
  float first = 0.0f;
  float second = 0.0f;
  data.n_points = 0;
  for (;;) {
    Outcome outcome =
        records::read_free(file, {Target::real(first), Target::real(second)}, Handles::kErrorsAndEnd);
    if (outcome == Outcome::kEnd) break;
    if (outcome == Outcome::kError) continue;  // not a pair of numbers: skip the line
    if (data.n_points == max_points) {
      records::report(records::Statement::kRead, file,
                      "Too many grid points (more than " + std::to_string(max_points) + ")");
    }
    ++data.n_points;
    int p = data.n_points - 1;
    data.grid_lat[p] = coord_order == 1 ? first : second;
    data.grid_lon[p] = coord_order == 1 ? second : first;
  }
  // The band is known from the latitudes alone: its rows are allocated now,
  // while the coordinate file's reading is the request in progress, before
  // any reconstruction is opened.
  find_band(data);
  records::write(console, kCount, {data.n_points});
  file.close();
}

void shift_dateline(RunData& data) {
  for (int p = 0; p < data.n_points; ++p) {
    if (data.grid_lon[p] < 0.0f) data.grid_lon[p] = data.grid_lon[p] + 360.0f;
  }
}

}  // namespace brix::input
