#include "import/dataset.h"

#include <netcdf.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace brix::importer {
namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// What to make of a failure to read a file that looks like netCDF: unless
// memory ran out, the file may be damaged.
constexpr const char* kMayBeDamaged =
    "; the file may be damaged or incomplete (a download cut short?)";
std::string damaged(int status) { return status == NC_ENOMEM ? "" : kMayBeDamaged; }

// A file shorter than its header says it is.
Failure cut_short(const std::string& path, std::uint64_t length, const std::string& needs) {
  return Failure(path + " is cut short, perhaps an incomplete download: the file ends at byte " +
                 std::to_string(length) + "; its header needs " + needs);
}

bool one_of(const std::string& s, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), s) != names.end();
}

// A text attribute (char or string), or "" when there is none.
std::string text_att(int nc, int var, const char* name) {
  nc_type type = 0;
  std::size_t len = 0;
  if (nc_inq_att(nc, var, name, &type, &len) != NC_NOERR) return "";
  if (type == NC_CHAR) {
    std::string s(len, '\0');
    if (nc_get_att_text(nc, var, name, s.data()) != NC_NOERR) return "";
    s.erase(std::find(s.begin(), s.end(), '\0'), s.end());
    return s;
  }
  if (type == NC_STRING && len >= 1) {
    std::vector<char*> strings(len);
    if (nc_get_att_string(nc, var, name, strings.data()) != NC_NOERR) return "";
    std::string s = strings[0] ? strings[0] : "";
    nc_free_string(len, strings.data());
    return s;
  }
  return "";
}

// A numeric attribute's values, empty when there is none; *type gets its type.
std::vector<double> number_att(int nc, int var, const char* name, nc_type* type = nullptr) {
  nc_type t = 0;
  std::size_t len = 0;
  if (nc_inq_att(nc, var, name, &t, &len) != NC_NOERR || t == NC_CHAR || t == NC_STRING) return {};
  std::vector<double> v(len);
  if (nc_get_att_double(nc, var, name, v.data()) != NC_NOERR) return {};
  if (type != nullptr) *type = t;
  return v;
}

std::string var_name(int nc, int var) {
  char name[NC_MAX_NAME + 1] = {};
  nc_inq_varname(nc, var, name);
  return name;
}

std::string dim_name(int nc, int dim) {
  char name[NC_MAX_NAME + 1] = {};
  nc_inq_dimname(nc, dim, name);
  return name;
}

std::vector<int> var_dims(int nc, int var) {
  int n = 0;
  nc_inq_varndims(nc, var, &n);
  std::vector<int> dims(static_cast<std::size_t>(n));
  nc_inq_vardimid(nc, var, dims.data());
  return dims;
}

std::string join(const std::vector<std::string>& names) {
  std::string s;
  for (const auto& n : names) s += (s.empty() ? "" : ", ") + n;
  return s.empty() ? "none" : s;
}

enum class Axis { kOther, kLat, kLon, kTime };

// A unit text in lower case without blanks, so that "Deg C" is "degc".
std::string squeezed(const std::string& s) {
  std::string out;
  for (char c : lower(s))
    if (c != ' ') out += c;
  return out;
}

bool radians(const std::string& units) {
  return one_of(squeezed(units), {"radian", "radians", "rad"});
}

// What a variable is a coordinate of. A latitude is known by its units
// (degrees_north) or its standard_name, never by its axis alone: the grid
// latitudes of a rotated pole have axis Y too. Coordinates in radians
// count when their standard_name, or else their name, says which they are.
Axis axis_of(int nc, int var) {
  std::string units = squeezed(text_att(nc, var, "units"));
  std::string axis = lower(text_att(nc, var, "axis"));
  std::string standard = lower(text_att(nc, var, "standard_name"));
  std::string name = lower(var_name(nc, var));
  bool in_radians = radians(units) && standard.empty();
  if (one_of(units,
             {"degrees_north", "degree_north", "degrees_n", "degree_n", "degreesn", "degreen"}) ||
      standard == "latitude" || (in_radians && name.rfind("lat", 0) == 0))
    return Axis::kLat;
  if (one_of(units,
             {"degrees_east", "degree_east", "degrees_e", "degree_e", "degreese", "degreee"}) ||
      standard == "longitude" || (in_radians && name.rfind("lon", 0) == 0))
    return Axis::kLon;
  if (units.find("since") != std::string::npos || axis == "t" || standard == "time")
    return Axis::kTime;
  return Axis::kOther;
}

// The default fill value of a type, which marks values never written.
std::vector<double> default_fill(nc_type type) {
  switch (type) {
    case NC_SHORT:
      return {NC_FILL_SHORT};
    case NC_USHORT:
      return {NC_FILL_USHORT};
    case NC_INT:
      return {NC_FILL_INT};
    case NC_UINT:
      return {NC_FILL_UINT};
    case NC_INT64:
      return {static_cast<double>(NC_FILL_INT64)};
    case NC_UINT64:
      return {static_cast<double>(NC_FILL_UINT64)};
    case NC_FLOAT:
      return {NC_FILL_FLOAT};
    case NC_DOUBLE:
      return {NC_FILL_DOUBLE};
    default:
      return {};  // bytes have no default fill that marks missing values
  }
}

}  // namespace

Variable::Variable(const std::string& path, const std::string& name) : path_(path) {
  open();
  title_ = text_att(ncid_, NC_GLOBAL, "title");
  find_variable(name);
  std::vector<int> dims = var_dims(ncid_, varid_);
  shape_.resize(dims.size());
  for (std::size_t k = 0; k < dims.size(); ++k) nc_inq_dimlen(ncid_, dims[k], &shape_[k]);
  find_time(dims);
}

Variable::~Variable() { close(); }

void Variable::open() const {
  if (ncid_ >= 0) return;
  if (!checked_) {
    // A header that reaches past the end, or an HDF5 file whose data should
    // end beyond it, is cut short before anything is read.
    const_cast<Variable*>(this)->extent_ = read_extent(path_);
    checked_ = true;
    if (extent_ && extent_->needed > extent_->length)
      throw cut_short(
          path_, extent_->length,
          (extent_->header_cut ? "at least " : "") + std::to_string(extent_->needed) + " bytes");
  }
  int status = nc_open(path_.c_str(), NC_NOWRITE, &ncid_);
  if (status != NC_NOERR) {
    ncid_ = -1;
    throw Failure("cannot read " + path_ + " as a netCDF file: " + nc_strerror(status) +
                  (extent_ ? damaged(status) : std::string()));
  }
}

void Variable::need(int var, std::optional<std::size_t> last) const {
  if (!extent_ || extent_->kind != Extent::Kind::kClassic) return;
  std::string name = var_name(ncid_, var);
  auto it = extent_->variables.find(name);
  if (it == extent_->variables.end() || (it->second.record && extent_->streaming)) return;
  if (it->second.record && extent_->records == 0) return;
  std::uint64_t needed = bytes_needed(*extent_, name, last ? *last : extent_->records - 1);
  if (needed > extent_->length)
    throw cut_short(path_, extent_->length, std::to_string(needed) + " bytes (for " + name + ")");
}

ChunkTimes Variable::chunk_times() const {
  ChunkTimes t = closed_times_;
  if (chunks_) t.reading += chunks_->times().reading, t.decoding += chunks_->times().decoding;
  return t;
}

void Variable::close() const {
  if (ncid_ >= 0) nc_close(ncid_);
  ncid_ = -1;
  if (chunks_) {
    closed_times_.reading += chunks_->times().reading;
    closed_times_.decoding += chunks_->times().decoding;
  }
  chunks_.reset();  // its own handle on the file
  chunks_tried_ = false;
}

void Variable::load_grid(const std::string& units) {
  open();
  find_grid(var_dims(ncid_, varid_));
  read_packing(units);
}

void Variable::release_grid() {
  for (auto* v : {&cell_lat_, &cell_lon_, &lat_, &lon_}) std::vector<double>().swap(*v);
  close();
}

void Variable::find_variable(const std::string& name) {
  int nvars = 0;
  nc_inq_nvars(ncid_, &nvars);
  // Data variables: those of two dimensions or more (time and cells at least).
  std::vector<std::string> candidates, standard;
  for (int v = 0; v < nvars; ++v) {
    std::string n = var_name(ncid_, v);
    std::vector<int> dims = var_dims(ncid_, v);
    if (dims.size() < 2 || axis_of(ncid_, v) != Axis::kOther) continue;
    candidates.push_back(n);
    if (text_att(ncid_, v, "standard_name") == "sea_surface_temperature") standard.push_back(n);
  }
  if (!name.empty()) {
    if (nc_inq_varid(ncid_, name.c_str(), &varid_) != NC_NOERR)
      throw Failure(path_ + " has no variable " + name +
                    "; its data variables: " + join(candidates));
  } else if (standard.size() > 1) {
    throw Failure(path_ + " has several variables with standard_name sea_surface_temperature (" +
                  join(standard) + "); choose one with --var");
  } else if (standard.size() == 1) {
    nc_inq_varid(ncid_, standard[0].c_str(), &varid_);
  } else {
    for (const char* guess : {"sst", "tos", "SST"})
      if (nc_inq_varid(ncid_, guess, &varid_) == NC_NOERR) break;
    if (varid_ < 0)
      throw Failure(path_ +
                    " has no variable with standard_name sea_surface_temperature and none named "
                    "sst, tos or SST; choose one with --var among its data variables: " +
                    join(candidates));
  }
  name_ = var_name(ncid_, varid_);
  is_sst_ = text_att(ncid_, varid_, "standard_name") == "sea_surface_temperature" ||
            one_of(name_, {"sst", "tos", "SST"});
  nc_type type = 0;
  nc_inq_vartype(ncid_, varid_, &type);
  if (type == NC_CHAR || type == NC_STRING || type > NC_STRING)
    throw Failure("variable " + name_ + " does not hold numbers");
}

namespace {

// The coordinate variable of a dimension: the one of its name, else another
// one-dimensional variable over it that says what it is; -1 when none.
int coordinate_of(int nc, int dim) {
  int cv = -1;
  std::vector<int> over{dim};
  if (nc_inq_varid(nc, dim_name(nc, dim).c_str(), &cv) == NC_NOERR && var_dims(nc, cv) == over)
    return cv;
  int nvars = 0;
  nc_inq_nvars(nc, &nvars);
  for (int v = 0; v < nvars; ++v)
    if (var_dims(nc, v) == over && axis_of(nc, v) != Axis::kOther) return v;
  return -1;
}

}  // namespace

void Variable::find_time(const std::vector<int>& dims) {
  int tv = -1;
  for (std::size_t k = 0; k < dims.size() && time_dim_ < 0; ++k) {
    int cv = coordinate_of(ncid_, dims[k]);
    if (cv >= 0 && axis_of(ncid_, cv) == Axis::kTime) {
      time_dim_ = static_cast<int>(k);
      tv = cv;
    }
  }
  // A time variable whose units are not "UNIT since DATE" (such as "Month"
  // or a bare "days") is not taken for another axis: the message names it.
  int unlimited = -1;
  nc_inq_unlimdim(ncid_, &unlimited);
  for (std::size_t k = 0; k < dims.size() && time_dim_ < 0; ++k) {
    std::string dname = lower(dim_name(ncid_, dims[k]));
    int cv = coordinate_of(ncid_, dims[k]);
    if (cv < 0 || (dims[k] != unlimited && dname.find("time") == std::string::npos && dname != "t"))
      continue;
    time_dim_ = static_cast<int>(k);
    tv = cv;
  }
  const char* expected =
      "brix_import needs \"UNIT since DATE\", UNIT being days, hours, minutes or seconds "
      "(such as \"days since 1850-01-01\")";
  if (time_dim_ < 0)
    throw Failure(name_ +
                  " has no time coordinate (a dimension with a variable of units "
                  "\"UNIT since DATE\", axis T or standard_name time)");
  std::string units = text_att(ncid_, tv, "units");
  auto unreadable = [&](const std::string& why) {
    bool form = why.find("expected") != std::string::npos;  // not "UNIT since DATE" at all
    return Failure("the time variable " + var_name(ncid_, tv) + " of " + name_ + " has units \"" +
                   units + "\"" + (form ? "" : " (" + why + ")") + "; " + expected);
  };

  std::vector<double> time(shape_[static_cast<std::size_t>(time_dim_)]);
  need(tv);
  int status = nc_get_var_double(ncid_, tv, time.data());
  if (status != NC_NOERR)
    throw Failure("cannot read the time coordinate of " + path_ + ": " + nc_strerror(status) +
                  damaged(status));
  calendar_name_ = text_att(ncid_, tv, "calendar");
  if (calendar_name_.empty()) calendar_name_ = "standard";
  std::optional<Calendar> calendar = parse_calendar(calendar_name_);
  if (!calendar)
    throw Failure("calendar \"" + calendar_name_ + "\" of " + name_ +
                  "'s time is not one of standard, gregorian, proleptic_gregorian, julian, noleap, "
                  "365_day, all_leap, 366_day, 360_day");
  std::string why;
  std::optional<TimeUnits> parsed = parse_time_units(units, *calendar, &why);
  if (!parsed) throw unreadable(why.substr(why.find("\": ") + 3));
  time_units_ = *parsed;
  std::vector<double> fill = number_att(ncid_, tv, "_FillValue");
  stamps_.resize(time.size());
  for (std::size_t t = 0; t < time.size(); ++t) {
    if (!fill.empty() && time[t] == fill[0]) time[t] = std::nan("");
    stamps_[t].instant = seconds_of(time_units_, time[t]);
    stamps_[t].month = month_of(time_units_, time[t]);
  }
  find_bounds(tv, time);
}

// The bounds (or climatology bounds) of the time variable, when it names
// readable ones: each step's month is then the one that holds the middle of
// its interval. Stamps at the end of the averaging interval (January's mean
// at February 1) would otherwise put every month one late.
void Variable::find_bounds(int tv, const std::vector<double>& time) {
  std::string name = text_att(ncid_, tv, "bounds");
  climatology_ = name.empty();
  if (climatology_) name = text_att(ncid_, tv, "climatology");
  if (name.empty()) return;
  auto unusable = [&](const std::string& why) {
    warnings_.push_back("the time bounds " + name + " of " + path_ + " " + why +
                        "; each step is placed by its time stamp");
    climatology_ = false;
  };
  int bv = -1;
  std::vector<int> dims;
  std::size_t n = 0;
  if (nc_inq_varid(ncid_, name.c_str(), &bv) != NC_NOERR) return unusable("do not exist");
  dims = var_dims(ncid_, bv);
  if (dims.size() == 2) nc_inq_dimlen(ncid_, dims[1], &n);
  if (dims.size() != 2 || n != 2 || var_dims(ncid_, tv)[0] != dims[0])
    return unusable("are not a pair of times for each step");
  std::vector<double> b(2 * time.size());
  need(bv);
  if (nc_get_var_double(ncid_, bv, b.data()) != NC_NOERR) return unusable("cannot be read");
  TimeUnits units = time_units_;
  if (std::string own = text_att(ncid_, bv, "units"); !own.empty()) {
    std::string why;
    std::optional<TimeUnits> parsed = parse_time_units(own, units.calendar, &why);
    if (!parsed) return unusable("have units that are not \"UNIT since DATE\"");
    units = *parsed;
  }
  std::vector<double> fill = number_att(ncid_, bv, "_FillValue");
  bounds_name_ = name;
  for (std::size_t t = 0; t < time.size(); ++t) {
    double lo = b[2 * t], hi = b[2 * t + 1];
    if ((!fill.empty() && (lo == fill[0] || hi == fill[0])) || !std::isfinite(lo) ||
        !std::isfinite(hi))
      continue;  // this step keeps the month of its stamp
    stamps_[t].month = climatology_ ? first_span_month(units, lo, hi) : middle_month(units, lo, hi);
  }
}

namespace {

// A coordinate variable's values as doubles, in degrees, NaN where they hold
// a fill value or lie off the sphere.
std::vector<double> coordinate_values(int nc, int var, std::size_t size, double limit) {
  std::vector<double> v(size);
  int status = nc_get_var_double(nc, var, v.data());
  if (status != NC_NOERR)
    throw Failure("cannot read the coordinate " + var_name(nc, var) + ": " + nc_strerror(status) +
                  damaged(status));
  std::vector<double> fill = number_att(nc, var, "_FillValue");
  for (double m : number_att(nc, var, "missing_value")) fill.push_back(m);
  double scale = radians(text_att(nc, var, "units")) ? 180 / std::acos(-1.0) : 1;
  for (double& x : v) {
    bool missing = std::find(fill.begin(), fill.end(), x) != fill.end();
    x *= scale;
    if (missing || !(std::fabs(x) <= limit)) x = std::nan("");
  }
  return v;
}

}  // namespace

void Variable::find_grid(const std::vector<int>& dims) {
  // The horizontal dimensions: all but time and those of length 1 (depth,
  // level), unless a latitude or longitude lies along them.
  std::vector<int> horizontal;
  for (std::size_t k = 0; k < dims.size(); ++k) {
    if (static_cast<int>(k) == time_dim_) continue;
    int cv = coordinate_of(ncid_, dims[k]);
    if (cv < 0) nc_inq_varid(ncid_, dim_name(ncid_, dims[k]).c_str(), &cv);
    std::string standard = cv < 0 ? "" : lower(text_att(ncid_, cv, "standard_name"));
    bool placed =
        cv >= 0 && (axis_of(ncid_, cv) == Axis::kLat || axis_of(ncid_, cv) == Axis::kLon ||
                    standard == "grid_latitude" || standard == "grid_longitude");
    if (shape_[k] != 1 || placed) horizontal.push_back(static_cast<int>(k));
  }
  if (horizontal.size() > 2) {
    std::string names;
    for (int k : horizontal)
      names += (names.empty() ? "" : ", ") + dim_name(ncid_, dims[static_cast<std::size_t>(k)]);
    throw Failure(
        name_ + " has the dimensions " + names +
        " besides time; brix_import takes one or two horizontal dimensions, and others of length 1 "
        "(depth, level)");
  }
  if (horizontal.empty()) throw Failure(name_ + " has no horizontal dimension besides time");
  std::vector<int> hdims;
  for (int k : horizontal) hdims.push_back(dims[static_cast<std::size_t>(k)]);
  row_dim_ = horizontal.size() == 2 ? horizontal[0] : -1;
  column_dim_ = horizontal.back();
  rows_ = row_dim_ < 0 ? 1 : shape_[static_cast<std::size_t>(row_dim_)];
  columns_ = shape_[static_cast<std::size_t>(column_dim_)];
  for (int d : hdims) grid_dims_ += (grid_dims_.empty() ? "" : ", ") + dim_name(ncid_, d);
  if (grid_from_coordinates(hdims) || grid_from_dimensions(hdims) || grid_from_rotated_pole(hdims))
    return;
  throw Failure(
      name_ + " has no latitude and longitude for its grid (" + grid_dims_ +
      "): neither its coordinates attribute nor the variables over those dimensions include "
      "a latitude and a longitude (units degrees_north and degrees_east, or standard_name latitude "
      "and longitude)");
}

// Latitude and longitude variables named by the coordinates attribute, or
// else any over the horizontal dimensions: two-dimensional ones make a
// curvilinear grid, one-dimensional ones over a single dimension an
// unstructured mesh.
bool Variable::grid_from_coordinates(const std::vector<int>& hdims) {
  std::vector<int> vars;
  std::string names = text_att(ncid_, varid_, "coordinates");
  for (std::size_t at = 0; at < names.size();) {
    std::size_t end = names.find(' ', at);
    if (end == std::string::npos) end = names.size();
    int v = -1;
    if (end > at && nc_inq_varid(ncid_, names.substr(at, end - at).c_str(), &v) == NC_NOERR)
      vars.push_back(v);
    at = end + 1;
  }
  int nvars = 0;
  nc_inq_nvars(ncid_, &nvars);
  for (int v = 0; v < nvars; ++v) vars.push_back(v);
  int lat = -1, lon = -1;
  bool transposed = false;
  std::vector<int> reversed(hdims.rbegin(), hdims.rend());
  for (int v : vars) {
    std::vector<int> vd = var_dims(ncid_, v);
    if (vd != hdims && (hdims.size() < 2 || vd != reversed)) continue;
    Axis axis = axis_of(ncid_, v);
    if (axis == Axis::kLat && lat < 0) lat = v, transposed = vd != hdims;
    if (axis == Axis::kLon && lon < 0) lon = v;
  }
  if (lat < 0 || lon < 0 || var_dims(ncid_, lat) != var_dims(ncid_, lon)) return false;
  kind_ = hdims.size() == 2 ? GridKind::kCurvilinear : GridKind::kUnstructured;
  need(lat);
  need(lon);
  cell_lat_ = coordinate_values(ncid_, lat, rows_ * columns_, 90);
  cell_lon_ = coordinate_values(ncid_, lon, rows_ * columns_, 720);
  if (transposed) {  // stored as (columns, rows)
    std::vector<double> a = cell_lat_, b = cell_lon_;
    for (std::size_t i = 0; i < rows_; ++i)
      for (std::size_t j = 0; j < columns_; ++j) {
        cell_lat_[i * columns_ + j] = a[j * rows_ + i];
        cell_lon_[i * columns_ + j] = b[j * rows_ + i];
      }
  }
  return true;
}

// A rectilinear grid: a latitude coordinate over one horizontal dimension and
// a longitude coordinate over the other.
bool Variable::grid_from_dimensions(const std::vector<int>& hdims) {
  if (hdims.size() != 2) return false;
  int c0 = coordinate_of(ncid_, hdims[0]), c1 = coordinate_of(ncid_, hdims[1]);
  if (c0 < 0 || c1 < 0) return false;
  Axis a0 = axis_of(ncid_, c0), a1 = axis_of(ncid_, c1);
  if (!((a0 == Axis::kLat && a1 == Axis::kLon) || (a0 == Axis::kLon && a1 == Axis::kLat)))
    return false;
  rows_are_lat_ = a0 == Axis::kLat;
  need(c0);
  need(c1);
  lat_ = coordinate_values(ncid_, rows_are_lat_ ? c0 : c1, rows_are_lat_ ? rows_ : columns_, 90);
  lon_ = coordinate_values(ncid_, rows_are_lat_ ? c1 : c0, rows_are_lat_ ? columns_ : rows_, 720);
  kind_ = GridKind::kRectilinear;
  for (std::size_t i = 0; i < rows_; ++i)
    for (std::size_t j = 0; j < columns_; ++j) {
      cell_lat_.push_back(lat_[rows_are_lat_ ? i : j]);
      cell_lon_.push_back(lon_[rows_are_lat_ ? j : i]);
    }
  return true;
}

// Grid latitudes and longitudes (standard_name grid_latitude, grid_longitude)
// about the pole of the variable's grid_mapping: each cell's true position
// is computed from that pole.
bool Variable::grid_from_rotated_pole(const std::vector<int>& hdims) {
  if (hdims.size() != 2) return false;
  int c[2] = {coordinate_of(ncid_, hdims[0]), coordinate_of(ncid_, hdims[1])};
  if (c[0] < 0) nc_inq_varid(ncid_, dim_name(ncid_, hdims[0]).c_str(), &c[0]);
  if (c[1] < 0) nc_inq_varid(ncid_, dim_name(ncid_, hdims[1]).c_str(), &c[1]);
  if (c[0] < 0 || c[1] < 0) return false;
  std::string s0 = lower(text_att(ncid_, c[0], "standard_name")),
              s1 = lower(text_att(ncid_, c[1], "standard_name"));
  bool lat_first = s0 == "grid_latitude" && s1 == "grid_longitude";
  if (!lat_first && !(s0 == "grid_longitude" && s1 == "grid_latitude")) return false;
  std::string mapping = text_att(ncid_, varid_, "grid_mapping");
  int mv = -1;
  if (mapping.empty() || nc_inq_varid(ncid_, mapping.c_str(), &mv) != NC_NOERR)
    throw Failure(
        name_ + " is on grid latitudes and longitudes (" + grid_dims_ +
        ") without a grid_mapping variable that places them, nor a true latitude and longitude "
        "in its coordinates attribute");
  std::string kind = text_att(ncid_, mv, "grid_mapping_name");
  std::vector<double> pole_lat = number_att(ncid_, mv, "grid_north_pole_latitude");
  std::vector<double> pole_lon = number_att(ncid_, mv, "grid_north_pole_longitude");
  std::vector<double> pole_grid_lon = number_att(ncid_, mv, "north_pole_grid_longitude");
  if (kind != "rotated_latitude_longitude" || pole_lat.empty() || pole_lon.empty())
    throw Failure(name_ + "'s grid mapping " + mapping + " (grid_mapping_name \"" + kind +
                  "\") cannot be placed: brix_import knows rotated_latitude_longitude with "
                  "grid_north_pole_latitude and grid_north_pole_longitude");
  need(c[0]);
  need(c[1]);
  std::vector<double> rlat =
      coordinate_values(ncid_, c[lat_first ? 0 : 1], lat_first ? rows_ : columns_, 90);
  std::vector<double> rlon =
      coordinate_values(ncid_, c[lat_first ? 1 : 0], lat_first ? columns_ : rows_, 720);
  kind_ = GridKind::kRotated;
  cell_lat_.resize(rows_ * columns_);
  cell_lon_.resize(rows_ * columns_);
  for (std::size_t i = 0; i < rows_; ++i)
    for (std::size_t j = 0; j < columns_; ++j)
      unrotate(rlat[lat_first ? i : j], rlon[lat_first ? j : i], pole_lat[0], pole_lon[0],
               pole_grid_lon.empty() ? 0 : pole_grid_lon[0], cell_lat_[i * columns_ + j],
               cell_lon_[i * columns_ + j]);
  return true;
}

void unrotate(double rlat, double rlon, double pole_lat, double pole_lon, double pole_grid_lon,
              double& lat, double& lon) {
  const double rad = std::acos(-1.0) / 180;
  double sp = std::sin(pole_lat * rad), cp = std::cos(pole_lat * rad);
  double slat = std::sin(rlat * rad), clat = std::cos(rlat * rad);
  // Grid longitudes counted from the one of the true north pole.
  double x = (rlon - pole_grid_lon) * rad;
  double z = sp * slat + cp * clat * std::cos(x);
  lat = std::asin(std::clamp(z, -1.0, 1.0)) / rad;
  double lp = pole_lon * rad;
  double east =
      std::sin(lp) * (cp * slat - sp * clat * std::cos(x)) - std::cos(lp) * clat * std::sin(x);
  double north =
      std::cos(lp) * (cp * slat - sp * clat * std::cos(x)) + std::sin(lp) * clat * std::sin(x);
  lon = std::atan2(east, north) / rad;
  // Rounded to a billionth of a degree, so that 0 is written as 0, not as
  // the 1e-15 that the sines leave.
  lat = std::nearbyint(lat * 1e9) / 1e9;
  lon = std::nearbyint(lon * 1e9) / 1e9;
}

void Variable::read_packing(const std::string& units) {
  nc_type type = 0;
  nc_inq_vartype(ncid_, varid_, &type);
  if (auto v = number_att(ncid_, varid_, "scale_factor"); !v.empty()) scale_ = v[0];
  if (auto v = number_att(ncid_, varid_, "add_offset"); !v.empty()) offset_ = v[0];
  missing_ = number_att(ncid_, varid_, "_FillValue");
  if (missing_.empty()) missing_ = default_fill(type);
  for (double m : number_att(ncid_, varid_, "missing_value")) missing_.push_back(m);
  // Valid limits of the variable's own type apply to packed values, others to
  // unpacked ones.
  auto limit = [&](const char* att, std::size_t index, bool upper) {
    nc_type t = 0;
    std::vector<double> v = number_att(ncid_, varid_, att, &t);
    if (v.size() <= index) return;
    double& target = t == type ? (upper ? raw_max_ : raw_min_) : (upper ? max_ : min_);
    target = v[index];
  };
  limit("valid_range", 0, false);
  limit("valid_range", 1, true);
  limit("valid_min", 0, false);
  limit("valid_max", 0, true);

  file_units_ = text_att(ncid_, varid_, "units");
  units_ = units.empty() ? file_units_ : units;
  // Spellings compared in lower case without blanks: "Deg C" is "degc".
  std::string u = squeezed(units_);
  celsius_offset_ = 0;
  if (one_of(u, {"k", "kelvin", "kelvins", "degk", "deg_k", "degrees_k", "degree_k"})) {
    scale_kind_ = Scale::kKelvin;
    celsius_offset_ = -273.15;
  } else if (one_of(u, {"degc", "celsius", "deg_c", "c", "degree_c", "degrees_c", "degreec",
                        "degreesc", "degree_celsius", "degrees_celsius", "deg.c", "°c"})) {
    scale_kind_ = Scale::kCelsius;
  } else {
    scale_kind_ = Scale::kOther;
    warnings_.push_back(
        units_.empty()
            ? "variable " + name_ +
                  " has no units; its values are written as they are (--units names them)"
            : "units \"" + units_ + "\" of " + name_ +
                  " are neither kelvin nor degrees Celsius; its values are written as they are");
  }
}

void Variable::read(std::size_t t0, std::size_t nt, std::size_t i0, std::size_t ni, std::size_t j0,
                    std::size_t nj, std::vector<double>& out) const {
  std::size_t n = shape_.size();
  std::vector<std::size_t> start(n, 0), count(n, 1);
  auto set = [&](int pos, std::size_t s, std::size_t c) {
    start[static_cast<std::size_t>(pos)] = s;
    count[static_cast<std::size_t>(pos)] = c;
  };
  set(time_dim_, t0, nt);
  if (row_dim_ >= 0) set(row_dim_, i0, ni);
  set(column_dim_, j0, nj);
  open();
  need(varid_, t0 + nt - 1);
  raw_.resize(nt * ni * nj);
  out.resize(raw_.size());
  // A netCDF-4 file's chunks are read and inflated here on several threads
  // when they are stored in a way this reader knows (BRIX_IMPORT_CHUNKS=netcdf
  // leaves every read to netCDF-C); else, or for a block some of whose
  // chunks are not stored, netCDF-C reads the block.
  if (!chunks_tried_) {
    chunks_tried_ = true;
    const char* choice = std::getenv("BRIX_IMPORT_CHUNKS");
    bool netcdf = choice != nullptr && std::string_view(choice) == "netcdf";
    if (!netcdf && extent_ && extent_->kind == Extent::Kind::kHdf5)
      chunks_ = ChunkReader::open(path_, name_, threads_);
  }
  bool read_directly = false;
  if (chunks_) {
    try {
      read_directly = chunks_->read(start, count, raw_);
      direct_ |= read_directly;
    } catch (const ChunkError& e) {
      std::size_t step = time_dim_ == 0 ? e.first : t0;
      std::optional<YearMonth> ym = step < stamps_.size() ? stamps_[step].month : std::nullopt;
      char month[16] = "";
      if (ym) std::snprintf(month, sizeof month, " (%04d-%02d)", ym->year, ym->month);
      throw Failure("cannot read " + name_ + " from " + path_ + " at time step " +
                    std::to_string(step + 1) + month + ": " + e.what() + kMayBeDamaged);
    }
  }
  int status = read_directly
                   ? NC_NOERR
                   : nc_get_vara_double(ncid_, varid_, start.data(), count.data(), raw_.data());
  if (status != NC_NOERR)
    throw Failure("cannot read " + name_ + " from " + path_ + " (time steps " +
                  std::to_string(t0 + 1) + " to " + std::to_string(t0 + nt) +
                  "): " + nc_strerror(status) + damaged(status));
  // Strides of time, latitude and longitude in the block as stored.
  std::vector<std::size_t> stride(n, 1);
  for (std::size_t k = n - 1; k > 0; --k) stride[k - 1] = stride[k] * count[k];
  std::size_t st = stride[static_cast<std::size_t>(time_dim_)];
  std::size_t si = row_dim_ < 0 ? 0 : stride[static_cast<std::size_t>(row_dim_)];
  std::size_t sj = stride[static_cast<std::size_t>(column_dim_)];
  double* o = out.data();
  for (std::size_t t = 0; t < nt; ++t)
    for (std::size_t i = 0; i < ni; ++i)
      for (std::size_t j = 0; j < nj; ++j) {
        double r = raw_[t * st + i * si + j * sj];
        double v = r * scale_ + offset_;
        bool missing = std::isnan(r) || r < raw_min_ || r > raw_max_ || v < min_ || v > max_ ||
                       std::find(missing_.begin(), missing_.end(), r) != missing_.end();
        *o++ = missing ? std::nan("") : v + celsius_offset_;
      }
}

}  // namespace brix::importer
