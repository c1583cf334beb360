// The SST field of a CF netCDF dataset: its variable, its one-dimensional
// latitude, longitude and time coordinates, and its values as degrees
// Celsius with the missing ones as NaN.
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
  const std::vector<double>& lat() const { return lat_; }
  const std::vector<double>& lon() const { return lon_; }
  const std::vector<double>& time() const { return time_; }  // NaN where missing
  const TimeUnits& time_units() const { return time_units_; }
  const std::string& calendar_name() const { return calendar_name_; }
  bool lat_before_lon() const { return lat_dim_ < lon_dim_; }
  // What the reader could not take as it is (units neither kelvin nor celsius).
  const std::vector<std::string>& warnings() const { return warnings_; }

  // The values of time steps t0 .. t0+nt-1, latitude rows i0 .. i0+ni-1 and
  // longitude columns j0 .. j0+nj-1, in degrees Celsius with missing values
  // as NaN, at out[((t - t0) * ni + (i - i0)) * nj + (j - j0)].
  void read(std::size_t t0, std::size_t nt, std::size_t i0, std::size_t ni, std::size_t j0,
            std::size_t nj, std::vector<double>& out) const;

 private:
  void find_variable(const std::string& name);
  void find_axes();
  void read_packing();

  std::string path_;
  int ncid_ = -1;
  int varid_ = -1;
  std::string name_, units_, title_, calendar_name_;
  std::vector<std::size_t> shape_;
  int lat_dim_ = -1, lon_dim_ = -1, time_dim_ = -1;  // positions among the variable's dimensions
  std::vector<double> lat_, lon_, time_;
  TimeUnits time_units_;
  std::vector<std::string> warnings_;
  // Unpacking and missing values.
  double scale_ = 1, offset_ = 0, celsius_offset_ = 0;
  std::vector<double> missing_;            // packed values that mean "missing"
  static constexpr double kInf = std::numeric_limits<double>::infinity();
  double raw_min_ = -kInf, raw_max_ = kInf;  // valid range of packed values
  double min_ = -kInf, max_ = kInf;          // valid range of unpacked values
  mutable std::vector<double> raw_;
};

}  // namespace brix::importer
