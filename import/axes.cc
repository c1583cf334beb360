#include "import/axes.h"

#include <algorithm>
#include <cctype>

namespace brix::importer {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string squeezed(const std::string& s) {
  std::string out;
  for (char c : lower(s))
    if (c != ' ') out += c;
  return out;
}

bool one_of(const std::string& s, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), s) != names.end();
}

bool radians(const std::string& units) {
  return one_of(squeezed(units), {"radian", "radians", "rad"});
}

Axis axis_of(const Header& h, int var) {
  std::string units = squeezed(h.text(var, "units"));
  std::string axis = lower(h.text(var, "axis"));
  std::string standard = lower(h.text(var, "standard_name"));
  std::string name = lower(h.name(var));
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

int coordinate_of(const Header& h, int dim) {
  const std::vector<int> over{dim};
  int cv = h.variable(h.dim_name(dim));
  if (cv >= 0 && h.dims(cv) == over) return cv;
  for (std::size_t v = 0; v < h.variables.size(); ++v)
    if (h.variables[v].dims == over && axis_of(h, static_cast<int>(v)) != Axis::kOther)
      return static_cast<int>(v);
  return -1;
}

}  // namespace brix::importer
