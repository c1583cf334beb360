// The horizontal grid of a variable: its kind, its dimensions, and the
// latitude and longitude of each of its cells.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "import/source.h"

namespace brix::importer {

enum class GridKind {
  kRectilinear,   // one-dimensional latitude and longitude
  kRotated,       // one-dimensional latitude and longitude about a displaced pole
  kCurvilinear,   // two-dimensional latitude and longitude
  kUnstructured,  // one horizontal dimension, a latitude and a longitude per cell
};

// The cells are held as rows by columns in the variable's storage order:
// rows are its first horizontal dimension and columns its second; an
// unstructured mesh has a single row.
struct Grid {
  GridKind kind = GridKind::kRectilinear;
  std::string dims;     // the horizontal dimensions' names: "lat, lon", "y, x", "ncol"
  int row_dim = -1;     // places among the variable's dimensions (-1: a single row)
  int column_dim = -1;
  std::size_t rows = 1, columns = 0;
  // Each cell's latitude and longitude at [i * columns + j]; NaN where the
  // coordinates hold a fill value (a cell that is not a point).
  std::vector<double> cell_lat, cell_lon;
  // Rectilinear grids: the latitudes and longitudes, and whether the rows
  // are the latitudes.
  std::vector<double> lat, lon;
  bool rows_are_lat = true;
};

// The grid of variable `var` (named `name` in messages) whose time is
// dimension `time_dim` of it. Throws Failure when it has none that places
// its cells.
Grid read_grid(Source& source, int var, int time_dim, const std::string& name);

// Why grid `g` (of the file `path`) is not grid `ref` (of `ref_path`), or ""
// when they are the same, their coordinates equal to the bit.
std::string grid_difference(const Grid& ref, const std::string& ref_path, const Grid& g);

// The true latitude and longitude, in degrees, of the point at grid latitude
// `rlat` and grid longitude `rlon` of a grid whose north pole lies at true
// latitude `pole_lat` and longitude `pole_lon`, the true north pole being at
// grid longitude `pole_grid_lon`.
void unrotate(double rlat, double rlon, double pole_lat, double pole_lon, double pole_grid_lon,
              double& lat, double& lon);

}  // namespace brix::importer
