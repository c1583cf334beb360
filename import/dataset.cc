#include "import/dataset.h"

#include <netcdf.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string_view>

namespace brix::importer {
namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
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
  if (nc_inq_att(nc, var, name, &t, &len) != NC_NOERR || t == NC_CHAR || t == NC_STRING)
    return {};
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

// What a variable is a coordinate of, by its units, axis and standard_name.
Axis axis_of(int nc, int var) {
  std::string units = lower(text_att(nc, var, "units"));
  std::string axis = lower(text_att(nc, var, "axis"));
  std::string standard = lower(text_att(nc, var, "standard_name"));
  if (one_of(units, {"degrees_north", "degree_north", "degrees_n", "degree_n", "degreesn", "degreen"}) ||
      axis == "y" || standard == "latitude")
    return Axis::kLat;
  if (one_of(units, {"degrees_east", "degree_east", "degrees_e", "degree_e", "degreese", "degreee"}) ||
      axis == "x" || standard == "longitude")
    return Axis::kLon;
  if (units.find(" since ") != std::string::npos || axis == "t" || standard == "time")
    return Axis::kTime;
  return Axis::kOther;
}

// The default fill value of a type, which marks values never written.
std::vector<double> default_fill(nc_type type) {
  switch (type) {
    case NC_SHORT: return {NC_FILL_SHORT};
    case NC_USHORT: return {NC_FILL_USHORT};
    case NC_INT: return {NC_FILL_INT};
    case NC_UINT: return {NC_FILL_UINT};
    case NC_INT64: return {static_cast<double>(NC_FILL_INT64)};
    case NC_UINT64: return {static_cast<double>(NC_FILL_UINT64)};
    case NC_FLOAT: return {NC_FILL_FLOAT};
    case NC_DOUBLE: return {NC_FILL_DOUBLE};
    default: return {};  // bytes have no default fill that marks missing values
  }
}

}  // namespace

Field::Field(const std::string& path, const std::string& name) : path_(path) {
  int status = nc_open(path.c_str(), NC_NOWRITE, &ncid_);
  if (status != NC_NOERR) {
    ncid_ = -1;
    throw Failure("cannot read " + path + " as a netCDF file: " + nc_strerror(status));
  }
  title_ = text_att(ncid_, NC_GLOBAL, "title");
  find_variable(name);
  find_axes();
  read_packing();
}

Field::~Field() {
  if (ncid_ >= 0) nc_close(ncid_);
}

void Field::find_variable(const std::string& name) {
  int nvars = 0;
  nc_inq_nvars(ncid_, &nvars);
  // Data variables: those of three dimensions or more.
  std::vector<std::string> candidates, standard;
  for (int v = 0; v < nvars; ++v) {
    std::string n = var_name(ncid_, v);
    std::vector<int> dims = var_dims(ncid_, v);
    if (dims.size() < 3) continue;
    candidates.push_back(n);
    if (text_att(ncid_, v, "standard_name") == "sea_surface_temperature") standard.push_back(n);
  }
  if (!name.empty()) {
    if (nc_inq_varid(ncid_, name.c_str(), &varid_) != NC_NOERR)
      throw Failure(path_ + " has no variable " + name + "; its data variables: " + join(candidates));
  } else if (standard.size() > 1) {
    throw Failure(path_ + " has several variables with standard_name sea_surface_temperature (" +
                  join(standard) + "); choose one with --var");
  } else if (standard.size() == 1) {
    nc_inq_varid(ncid_, standard[0].c_str(), &varid_);
  } else {
    for (const char* guess : {"sst", "tos", "SST"})
      if (nc_inq_varid(ncid_, guess, &varid_) == NC_NOERR) break;
    if (varid_ < 0)
      throw Failure(path_ + " has no variable with standard_name sea_surface_temperature and none named "
                    "sst, tos or SST; choose one with --var among its data variables: " + join(candidates));
  }
  name_ = var_name(ncid_, varid_);
  nc_type type = 0;
  nc_inq_vartype(ncid_, varid_, &type);
  if (type == NC_CHAR || type == NC_STRING || type > NC_STRING)
    throw Failure("variable " + name_ + " does not hold numbers");
}

void Field::find_axes() {
  std::vector<int> dims = var_dims(ncid_, varid_);
  shape_.resize(dims.size());
  std::vector<int> coordinate(dims.size(), -1);
  int nvars = 0;
  nc_inq_nvars(ncid_, &nvars);
  for (std::size_t k = 0; k < dims.size(); ++k) {
    nc_inq_dimlen(ncid_, dims[k], &shape_[k]);
    // The dimension's coordinate variable: the one of its name, else another
    // one-dimensional variable over it that says what it is.
    int cv = -1;
    std::string dname = dim_name(ncid_, dims[k]);
    std::vector<int> over{dims[k]};
    if (nc_inq_varid(ncid_, dname.c_str(), &cv) != NC_NOERR || var_dims(ncid_, cv) != over) {
      cv = -1;
      for (int v = 0; v < nvars && cv < 0; ++v)
        if (var_dims(ncid_, v) == over && axis_of(ncid_, v) != Axis::kOther) cv = v;
    }
    if (cv < 0) continue;
    coordinate[k] = cv;
    int pos = static_cast<int>(k);
    switch (axis_of(ncid_, cv)) {
      case Axis::kLat: if (lat_dim_ < 0) lat_dim_ = pos; break;
      case Axis::kLon: if (lon_dim_ < 0) lon_dim_ = pos; break;
      case Axis::kTime: if (time_dim_ < 0) time_dim_ = pos; break;
      case Axis::kOther: break;
    }
  }
  if (lat_dim_ < 0 || lon_dim_ < 0) {
    // A two-dimensional latitude or longitude variable means a curvilinear grid.
    for (int v = 0; v < nvars; ++v) {
      std::vector<int> vd = var_dims(ncid_, v);
      Axis axis = axis_of(ncid_, v);
      if (vd.size() < 2 || (axis != Axis::kLat && axis != Axis::kLon)) continue;
      std::string names;
      for (int d : vd) names += (names.empty() ? "" : ", ") + dim_name(ncid_, d);
      throw Failure(name_ + " is on a two-dimensional (curvilinear) grid: its coordinate " +
                    var_name(ncid_, v) + " has dimensions (" + names +
                    "); brix_import needs one-dimensional latitudes and longitudes, so regrid the "
                    "dataset to a regular latitude-longitude grid first");
    }
    throw Failure(name_ + " has no " + (lat_dim_ < 0 ? "latitude" : "longitude") +
                  " coordinate: none of its dimensions has a coordinate variable with units " +
                  (lat_dim_ < 0 ? "degrees_north, axis Y" : "degrees_east, axis X") +
                  " or standard_name " + (lat_dim_ < 0 ? "latitude" : "longitude"));
  }
  if (time_dim_ < 0)
    throw Failure(name_ + " has no time coordinate (a dimension with a variable of units "
                  "\"UNIT since DATE\", axis T or standard_name time)");
  for (std::size_t k = 0; k < dims.size(); ++k) {
    int pos = static_cast<int>(k);
    if (pos != lat_dim_ && pos != lon_dim_ && pos != time_dim_ && shape_[k] != 1)
      throw Failure(name_ + " has a dimension " + dim_name(ncid_, dims[k]) + " of length " +
                    std::to_string(shape_[k]) +
                    "; besides time, latitude and longitude only dimensions of length 1 are allowed");
  }
  auto values = [&](int pos) {
    std::vector<double> v(shape_[static_cast<std::size_t>(pos)]);
    int status = nc_get_var_double(ncid_, coordinate[static_cast<std::size_t>(pos)], v.data());
    if (status != NC_NOERR)
      throw Failure("cannot read the coordinate " + dim_name(ncid_, dims[static_cast<std::size_t>(pos)]) +
                    " of " + path_ + ": " + nc_strerror(status));
    return v;
  };
  lat_ = values(lat_dim_);
  lon_ = values(lon_dim_);
  time_ = values(time_dim_);

  int tv = coordinate[static_cast<std::size_t>(time_dim_)];
  calendar_name_ = text_att(ncid_, tv, "calendar");
  if (calendar_name_.empty()) calendar_name_ = "standard";
  std::optional<Calendar> calendar = parse_calendar(calendar_name_);
  if (!calendar)
    throw Failure("calendar \"" + calendar_name_ + "\" of " + name_ +
                  "'s time is not one of standard, gregorian, proleptic_gregorian, julian, noleap, "
                  "365_day, all_leap, 366_day, 360_day");
  std::string why;
  std::optional<TimeUnits> units = parse_time_units(text_att(ncid_, tv, "units"), *calendar, &why);
  if (!units) throw Failure(why);
  time_units_ = *units;
  std::vector<double> fill = number_att(ncid_, tv, "_FillValue");
  for (double& t : time_)
    if (!fill.empty() && t == fill[0]) t = std::nan("");
}

void Field::read_packing() {
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

  units_ = text_att(ncid_, varid_, "units");
  if (one_of(units_, {"K", "Kelvin", "kelvin", "degK", "deg_K", "degrees_K"})) {
    celsius_offset_ = -273.15;
  } else if (!one_of(units_, {"degC", "Celsius", "celsius", "deg_C", "C", "degree_C", "degrees_C",
                               "degree_Celsius", "degrees_Celsius"})) {
    warnings_.push_back(units_.empty()
                            ? "variable " + name_ + " has no units; its values are written as they are"
                            : "units \"" + units_ + "\" of " + name_ +
                                  " are neither kelvin nor degrees Celsius; its values are written as they are");
  }
}

void Field::read(std::size_t t0, std::size_t nt, std::size_t i0, std::size_t ni, std::size_t j0,
                 std::size_t nj, std::vector<double>& out) const {
  std::size_t n = shape_.size();
  std::vector<std::size_t> start(n, 0), count(n, 1);
  auto set = [&](int pos, std::size_t s, std::size_t c) {
    start[static_cast<std::size_t>(pos)] = s;
    count[static_cast<std::size_t>(pos)] = c;
  };
  set(time_dim_, t0, nt);
  set(lat_dim_, i0, ni);
  set(lon_dim_, j0, nj);
  raw_.resize(nt * ni * nj);
  out.resize(raw_.size());
  int status = nc_get_vara_double(ncid_, varid_, start.data(), count.data(), raw_.data());
  if (status != NC_NOERR)
    throw Failure("cannot read " + name_ + " from " + path_ + ": " + nc_strerror(status));
  // Strides of time, latitude and longitude in the block as stored.
  std::vector<std::size_t> stride(n, 1);
  for (std::size_t k = n - 1; k > 0; --k) stride[k - 1] = stride[k] * count[k];
  std::size_t st = stride[static_cast<std::size_t>(time_dim_)];
  std::size_t si = stride[static_cast<std::size_t>(lat_dim_)];
  std::size_t sj = stride[static_cast<std::size_t>(lon_dim_)];
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
