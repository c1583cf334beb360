// The region: the cells of a grid whose latitude and longitude lie in the
// ranges asked for, each a point of the coordinate file, or on a
// rectilinear grid blocks of n by n of them, each a point at the mean of
// its cells' positions.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "import/grid.h"

namespace brix::importer {

struct Range {
  double lo = 0, hi = 0;
};

struct RegionRequest {
  Range lat;                 // both limits included
  std::optional<Range> lon;  // west:east, crossing the dateline when west > east; none: all
  int coarsen = 1;           // rectilinear grids: blocks of coarsen by coarsen cells make one point
};

// A point of the coordinate file: its position, and the cells whose values
// it averages (one, unless coarsened), at cells[first] to cells[first + n - 1].
struct Point {
  double lat, lon;
  std::size_t first, n;
};
struct Cell {
  std::size_t i, j;  // row and column
};

struct Selection {
  std::vector<Point> points;
  std::vector<Cell> cells;
  int cells_in_region = 0;  // counting those dropped
  int repeated = 0;         // cells at the position of another one, dropped
  int rows = 0, columns = 0;  // rectilinear grids: the region's latitudes and longitudes
};

// Every cell of the grid in the region is a point, in storage order, but
// one at the position of an earlier one (a longitude stored as both 0 and
// 360); with coarsen > 1, blocks of cells are. `name` is the variable's in
// messages. Throws Failure when no cell lies in the region.
Selection select_region(const Grid& g, const RegionRequest& r, const std::string& name);

// The bounding rows and columns of the selection's cells: only they are read.
struct Bounds {
  std::size_t i0, ni, j0, nj;
};
Bounds bounds_of(const Selection& s);

// Whether longitude x lies on the arc from r.lo eastwards to r.hi, both included.
bool on_arc(double x, const Range& r);

// Whether brix_eli should count negative longitudes from 180 to 360: the kept
// longitudes include both signs and, on the 0-360 circle, the widest empty
// stretch between them holds 0 (so they run across 180, not across 0).
bool crosses_dateline(const std::vector<double>& lons);

// The advice when `kept` points of the region are more than brix_eli takes.
std::string too_many(const Grid& g, const RegionRequest& r, const Selection& s, int kept);

std::string range_text(const Range& r);

}  // namespace brix::importer
