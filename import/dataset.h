// The SST field of a CF netCDF dataset: its variable, the position of each of
// its grid cells, its time coordinate, and its values as degrees Celsius with
// the missing ones as NaN.
#pragma once

#include <cstddef>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "import/calendar.h"

namespace brix::importer {

// Anything that stops the import; the message says what and where.
struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

enum class GridKind {
  kRectilinear,   // one-dimensional latitude and longitude
  kRotated,       // one-dimensional latitude and longitude about a displaced pole
  kCurvilinear,   // two-dimensional latitude and longitude
  kUnstructured,  // one horizontal dimension, a latitude and a longitude per cell
};

// The cells of the grid are held as rows by columns in the variable's storage
// order: rows are its first horizontal dimension and columns its second; an
// unstructured mesh has a single row.
class Field {
 public:
  // Opens the file and finds the variable: `name`, or when it is empty the
  // variable whose standard_name is sea_surface_temperature, else one named
  // sst, tos or SST. Throws Failure.
  Field(const std::string& path, const std::string& name);
  ~Field();
  Field(const Field&) = delete;
  Field& operator=(const Field&) = delete;

  const std::string& name() const { return name_; }
  const std::string& units() const { return units_; }
  const std::string& title() const { return title_; }  // the global "title", or empty
  GridKind kind() const { return kind_; }
  std::size_t rows() const { return rows_; }
  std::size_t columns() const { return columns_; }
  const std::string& grid_dims() const { return grid_dims_; }  // "lat, lon", "y, x", "ncol"
  // Each cell's latitude and longitude at [i * columns() + j]; NaN where the
  // coordinates hold a fill value (a cell that is not a point).
  const std::vector<double>& cell_lat() const { return cell_lat_; }
  const std::vector<double>& cell_lon() const { return cell_lon_; }
  // Rectilinear grids: the latitudes and longitudes, and whether the rows
  // are the latitudes.
  const std::vector<double>& lat() const { return lat_; }
  const std::vector<double>& lon() const { return lon_; }
  bool rows_are_latitudes() const { return rows_are_lat_; }
  const std::vector<double>& time() const { return time_; }  // NaN where missing
  const TimeUnits& time_units() const { return time_units_; }
  const std::string& calendar_name() const { return calendar_name_; }
  // What the reader could not take as it is (units neither kelvin nor celsius).
  const std::vector<std::string>& warnings() const { return warnings_; }

  // The values of time steps t0 .. t0+nt-1, rows i0 .. i0+ni-1 and columns
  // j0 .. j0+nj-1, in degrees Celsius with missing values as NaN, at
  // out[((t - t0) * ni + (i - i0)) * nj + (j - j0)].
  void read(std::size_t t0, std::size_t nt, std::size_t i0, std::size_t ni, std::size_t j0,
            std::size_t nj, std::vector<double>& out) const;

 private:
  void find_variable(const std::string& name);
  void find_time(const std::vector<int>& dims);
  void find_grid(const std::vector<int>& dims);
  bool grid_from_coordinates(const std::vector<int>& horizontal);
  bool grid_from_dimensions(const std::vector<int>& horizontal);
  bool grid_from_rotated_pole(const std::vector<int>& horizontal);
  void read_packing();

  std::string path_;
  int ncid_ = -1;
  int varid_ = -1;
  std::string name_, units_, title_, calendar_name_, grid_dims_;
  std::vector<std::size_t> shape_;
  GridKind kind_ = GridKind::kRectilinear;
  int row_dim_ = -1, column_dim_ = -1, time_dim_ = -1;  // positions among the variable's dimensions
  std::size_t rows_ = 1, columns_ = 0;
  std::vector<double> cell_lat_, cell_lon_, lat_, lon_, time_;
  bool rows_are_lat_ = true;
  TimeUnits time_units_;
  std::vector<std::string> warnings_;
  // Unpacking and missing values.
  double scale_ = 1, offset_ = 0, celsius_offset_ = 0;
  std::vector<double> missing_;  // packed values that mean "missing"
  static constexpr double kInf = std::numeric_limits<double>::infinity();
  double raw_min_ = -kInf, raw_max_ = kInf;  // valid range of packed values
  double min_ = -kInf, max_ = kInf;          // valid range of unpacked values
  mutable std::vector<double> raw_;
};

// The true latitude and longitude, in degrees, of the point at grid latitude
// `rlat` and grid longitude `rlon` of a grid whose north pole lies at true
// latitude `pole_lat` and longitude `pole_lon`, the true north pole being at
// grid longitude `pole_grid_lon`.
void unrotate(double rlat, double rlon, double pole_lat, double pole_lon, double pole_grid_lon,
              double& lat, double& lon);

}  // namespace brix::importer
