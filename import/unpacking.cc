#include "import/unpacking.h"

#include <netcdf.h>

#include "import/axes.h"

namespace brix::importer {
namespace {

// netCDF's default fill value of a type, which marks values never written.
std::vector<double> default_fill(Type type) {
  switch (type) {
    case Type::kShort:
      return {NC_FILL_SHORT};
    case Type::kUShort:
      return {NC_FILL_USHORT};
    case Type::kInt:
      return {NC_FILL_INT};
    case Type::kUInt:
      return {NC_FILL_UINT};
    case Type::kInt64:
      return {static_cast<double>(NC_FILL_INT64)};
    case Type::kUInt64:
      return {static_cast<double>(NC_FILL_UINT64)};
    case Type::kFloat:
      return {NC_FILL_FLOAT};
    case Type::kDouble:
      return {NC_FILL_DOUBLE};
    default:
      return {};  // bytes have no default fill that marks missing values
  }
}

}  // namespace

Scale scale_of(const std::string& units) {
  std::string u = squeezed(units);
  if (one_of(u, {"k", "kelvin", "kelvins", "degk", "deg_k", "degrees_k", "degree_k"}))
    return Scale::kKelvin;
  if (one_of(u, {"degc", "celsius", "deg_c", "c", "degree_c", "degrees_c", "degreec", "degreesc",
                 "degree_celsius", "degrees_celsius", "deg.c", "°c"}))
    return Scale::kCelsius;
  return Scale::kOther;
}

Unpacking read_unpacking(const Header& h, int var, const std::string& name,
                         const std::string& units, std::vector<std::string>& warnings) {
  Unpacking u;
  const Type type = h.variables[static_cast<std::size_t>(var)].type;
  if (auto v = h.numbers(var, "scale_factor"); !v.empty()) u.scale = v[0];
  if (auto v = h.numbers(var, "add_offset"); !v.empty()) u.offset = v[0];
  u.missing = h.numbers(var, "_FillValue");
  if (u.missing.empty()) u.missing = default_fill(type);
  for (double m : h.numbers(var, "missing_value")) u.missing.push_back(m);
  // Valid limits of the variable's own type apply to packed values, others to
  // unpacked ones.
  auto limit = [&](const char* att, std::size_t index, bool upper) {
    Type t = Type::kOther;
    std::vector<double> v = h.numbers(var, att, &t);
    if (v.size() <= index) return;
    double& target = t == type ? (upper ? u.raw_max : u.raw_min) : (upper ? u.max : u.min);
    target = v[index];
  };
  limit("valid_range", 0, false);
  limit("valid_range", 1, true);
  limit("valid_min", 0, false);
  limit("valid_max", 0, true);

  u.file_units = h.text(var, "units");
  u.units = units.empty() ? u.file_units : units;
  u.kind = scale_of(u.units);
  u.celsius_offset = u.kind == Scale::kKelvin ? -273.15 : 0;
  if (u.kind == Scale::kOther)
    warnings.push_back(
        u.units.empty()
            ? "variable " + name +
                  " has no units; its values are written as they are (--units names them)"
            : "units \"" + u.units + "\" of " + name +
                  " are neither kelvin nor degrees Celsius; its values are written as they are");
  return u;
}

}  // namespace brix::importer
