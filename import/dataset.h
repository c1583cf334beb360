// The SST field of one CF netCDF file: its variable, its time coordinate and
// the calendar month of each step, the position of each of its grid cells,
// and its values as degrees Celsius with the missing ones as NaN.
#pragma once

#include <cstddef>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "import/calendar.h"
#include "import/chunks.h"
#include "import/extent.h"

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

// What the values' units make of them.
enum class Scale { kCelsius, kKelvin, kOther };

// A time step: the calendar month it belongs to (none when its time is
// missing or out of reach), and its time in seconds from day 0 of the
// calendar, which orders steps of files whose units differ.
struct Stamp {
  std::optional<YearMonth> month;
  double instant = 0;
};

// The cells of the grid are held as rows by columns in the variable's storage
// order: rows are its first horizontal dimension and columns its second; an
// unstructured mesh has a single row.
//
// The file is opened when it is needed and may be closed between reads, so
// that a dataset of thousands of files never holds more than a few open.
class Variable {
 public:
  // Opens the file, finds the variable (`name`, or when it is empty the
  // variable whose standard_name is sea_surface_temperature, else one named
  // sst, tos or SST) and reads its time axis. Throws Failure.
  Variable(const std::string& path, const std::string& name);
  ~Variable();
  Variable(const Variable&) = delete;
  Variable& operator=(const Variable&) = delete;

  // Reads the grid's coordinates and the values' packing and units; `units`,
  // when not empty, stands for the variable's own units. Throws Failure.
  void load_grid(const std::string& units);
  // Frees the coordinates (of a file whose grid was found the same as
  // another's) and closes the file; read() opens it again.
  void release_grid();
  void close() const;
  // Threads for inflating a netCDF-4 file's chunks (1: the calling one alone).
  void set_threads(int threads) { threads_ = threads; }
  // Processor time spent reading and decoding chunks straight from the file.
  ChunkTimes chunk_times() const;
  // Whether values came straight from the chunks (else through netCDF-C).
  bool direct() const { return direct_; }

  const std::string& path() const { return path_; }
  const std::string& name() const { return name_; }
  const std::string& units() const { return units_; }  // as applied: the file's or those given
  const std::string& file_units() const { return file_units_; }
  Scale scale() const { return scale_kind_; }
  // standard_name sea_surface_temperature, or the name sst, tos or SST.
  bool is_sst() const { return is_sst_; }
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
  // One stamp a step. A step belongs to the month that holds the middle of
  // its bounds when the time variable has them (for climatology bounds, the
  // middle of the first year's span), else to the month its time falls in.
  const std::vector<Stamp>& stamps() const { return stamps_; }
  const std::string& bounds_name() const { return bounds_name_; }  // empty: time stamps used
  bool climatology() const { return climatology_; }
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
  void open() const;
  // Throws Failure when the file is too short to hold variable `var` (up to
  // its record `last`, or all its records).
  void need(int var, std::optional<std::size_t> last = std::nullopt) const;
  void find_variable(const std::string& name);
  void find_time(const std::vector<int>& dims);
  void find_bounds(int time_var, const std::vector<double>& time);
  void find_grid(const std::vector<int>& dims);
  bool grid_from_coordinates(const std::vector<int>& horizontal);
  bool grid_from_dimensions(const std::vector<int>& horizontal);
  bool grid_from_rotated_pole(const std::vector<int>& horizontal);
  void read_packing(const std::string& units);

  std::string path_;
  mutable int ncid_ = -1;
  mutable bool checked_ = false;
  int threads_ = 1;
  mutable bool chunks_tried_ = false;
  mutable std::unique_ptr<ChunkReader> chunks_;
  mutable ChunkTimes closed_times_;  // of the readers closed with the file
  mutable bool direct_ = false;
  std::optional<Extent> extent_;
  int varid_ = -1;
  std::string name_, units_, file_units_, title_, calendar_name_, grid_dims_, bounds_name_;
  Scale scale_kind_ = Scale::kOther;
  bool is_sst_ = false, climatology_ = false;
  std::vector<std::size_t> shape_;
  GridKind kind_ = GridKind::kRectilinear;
  int row_dim_ = -1, column_dim_ = -1, time_dim_ = -1;  // positions among the variable's dimensions
  std::size_t rows_ = 1, columns_ = 0;
  std::vector<double> cell_lat_, cell_lon_, lat_, lon_;
  std::vector<Stamp> stamps_;
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
