#include "import/grid.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "import/axes.h"
#include "import/text.h"

namespace brix::importer {
namespace {

// A coordinate variable's values as doubles, in degrees, NaN where they hold
// a fill value or lie off the sphere (beyond `limit` degrees).
std::vector<double> coordinate_values(Source& source, int var, double limit) {
  const Header& h = source.header();
  std::vector<double> v;
  try {
    source.read(var, v);
  } catch (const ReadError& e) {
    throw Failure("cannot read the coordinate " + h.name(var) + ": " + e.what());
  }
  std::vector<double> fill = h.numbers(var, "_FillValue");
  for (double m : h.numbers(var, "missing_value")) fill.push_back(m);
  double scale = radians(h.text(var, "units")) ? 180 / std::acos(-1.0) : 1;
  for (double& x : v) {
    bool missing = std::find(fill.begin(), fill.end(), x) != fill.end();
    x *= scale;
    if (missing || !(std::fabs(x) <= limit)) x = std::nan("");
  }
  return v;
}

// The variable of a dimension's name, whatever it lies along: grid
// latitudes and longitudes need not be coordinates of their dimension.
int named_like(const Header& h, int dim) {
  int cv = coordinate_of(h, dim);
  return cv >= 0 ? cv : h.variable(h.dim_name(dim));
}

// The horizontal dimensions, as places among the variable's dimensions: all
// but time and those of length 1 (depth, level), unless a latitude or
// longitude lies along them.
std::vector<int> horizontal_dimensions(const Header& h, int var, int time_dim,
                                       const std::string& name) {
  const std::vector<int>& dims = h.dims(var);
  std::vector<int> horizontal;
  for (std::size_t k = 0; k < dims.size(); ++k) {
    if (static_cast<int>(k) == time_dim) continue;
    int cv = named_like(h, dims[k]);
    std::string standard = cv < 0 ? "" : lower(h.text(cv, "standard_name"));
    bool placed = cv >= 0 && (axis_of(h, cv) == Axis::kLat || axis_of(h, cv) == Axis::kLon ||
                              standard == "grid_latitude" || standard == "grid_longitude");
    if (h.dimensions[static_cast<std::size_t>(dims[k])].length != 1 || placed)
      horizontal.push_back(static_cast<int>(k));
  }
  if (horizontal.size() > 2) {
    std::string names;
    for (int k : horizontal)
      names += (names.empty() ? "" : ", ") + h.dim_name(dims[static_cast<std::size_t>(k)]);
    throw Failure(
        name + " has the dimensions " + names +
        " besides time; brix_import takes one or two horizontal dimensions, and others of length 1 "
        "(depth, level)");
  }
  if (horizontal.empty()) throw Failure(name + " has no horizontal dimension besides time");
  return horizontal;
}

// Latitude and longitude variables named by the coordinates attribute, or
// else any over the horizontal dimensions: two-dimensional ones make a
// curvilinear grid, one-dimensional ones over a single dimension an
// unstructured mesh.
bool from_coordinates(Source& source, int var, const std::vector<int>& hdims, Grid& g) {
  const Header& h = source.header();
  std::vector<int> vars;
  std::string names = h.text(var, "coordinates");
  for (std::size_t at = 0; at < names.size();) {
    std::size_t end = names.find(' ', at);
    if (end == std::string::npos) end = names.size();
    int v = end > at ? h.variable(names.substr(at, end - at)) : -1;
    if (v >= 0) vars.push_back(v);
    at = end + 1;
  }
  for (std::size_t v = 0; v < h.variables.size(); ++v) vars.push_back(static_cast<int>(v));
  int lat = -1, lon = -1;
  bool transposed = false;
  const std::vector<int> reversed(hdims.rbegin(), hdims.rend());
  for (int v : vars) {
    const std::vector<int>& vd = h.dims(v);
    if (vd != hdims && (hdims.size() < 2 || vd != reversed)) continue;
    Axis axis = axis_of(h, v);
    if (axis == Axis::kLat && lat < 0) lat = v, transposed = vd != hdims;
    if (axis == Axis::kLon && lon < 0) lon = v;
  }
  if (lat < 0 || lon < 0 || h.dims(lat) != h.dims(lon)) return false;
  g.kind = hdims.size() == 2 ? GridKind::kCurvilinear : GridKind::kUnstructured;
  g.cell_lat = coordinate_values(source, lat, 90);
  g.cell_lon = coordinate_values(source, lon, 720);
  if (transposed) {  // stored as (columns, rows)
    std::vector<double> a = g.cell_lat, b = g.cell_lon;
    for (std::size_t i = 0; i < g.rows; ++i)
      for (std::size_t j = 0; j < g.columns; ++j) {
        g.cell_lat[i * g.columns + j] = a[j * g.rows + i];
        g.cell_lon[i * g.columns + j] = b[j * g.rows + i];
      }
  }
  return true;
}

// A rectilinear grid: a latitude coordinate over one horizontal dimension and
// a longitude coordinate over the other.
bool from_dimensions(Source& source, const std::vector<int>& hdims, Grid& g) {
  const Header& h = source.header();
  if (hdims.size() != 2) return false;
  int c0 = coordinate_of(h, hdims[0]), c1 = coordinate_of(h, hdims[1]);
  if (c0 < 0 || c1 < 0) return false;
  Axis a0 = axis_of(h, c0), a1 = axis_of(h, c1);
  if (!((a0 == Axis::kLat && a1 == Axis::kLon) || (a0 == Axis::kLon && a1 == Axis::kLat)))
    return false;
  g.rows_are_lat = a0 == Axis::kLat;
  // Read in the order of the dimensions, so that a file cut short names the first.
  std::vector<double> v0 = coordinate_values(source, c0, g.rows_are_lat ? 90 : 720);
  std::vector<double> v1 = coordinate_values(source, c1, g.rows_are_lat ? 720 : 90);
  g.lat = g.rows_are_lat ? std::move(v0) : std::move(v1);
  g.lon = g.rows_are_lat ? std::move(v1) : std::move(v0);
  g.kind = GridKind::kRectilinear;
  for (std::size_t i = 0; i < g.rows; ++i)
    for (std::size_t j = 0; j < g.columns; ++j) {
      g.cell_lat.push_back(g.lat[g.rows_are_lat ? i : j]);
      g.cell_lon.push_back(g.lon[g.rows_are_lat ? j : i]);
    }
  return true;
}

// Grid latitudes and longitudes (standard_name grid_latitude, grid_longitude)
// about the pole of the variable's grid_mapping: each cell's true position
// is computed from that pole.
bool from_rotated_pole(Source& source, int var, const std::vector<int>& hdims,
                       const std::string& name, Grid& g) {
  const Header& h = source.header();
  if (hdims.size() != 2) return false;
  int c[2] = {named_like(h, hdims[0]), named_like(h, hdims[1])};
  if (c[0] < 0 || c[1] < 0) return false;
  std::string s0 = lower(h.text(c[0], "standard_name")), s1 = lower(h.text(c[1], "standard_name"));
  bool lat_first = s0 == "grid_latitude" && s1 == "grid_longitude";
  if (!lat_first && !(s0 == "grid_longitude" && s1 == "grid_latitude")) return false;
  std::string mapping = h.text(var, "grid_mapping");
  int mv = mapping.empty() ? -1 : h.variable(mapping);
  if (mv < 0)
    throw Failure(
        name + " is on grid latitudes and longitudes (" + g.dims +
        ") without a grid_mapping variable that places them, nor a true latitude and longitude "
        "in its coordinates attribute");
  std::string kind = h.text(mv, "grid_mapping_name");
  std::vector<double> pole_lat = h.numbers(mv, "grid_north_pole_latitude");
  std::vector<double> pole_lon = h.numbers(mv, "grid_north_pole_longitude");
  std::vector<double> pole_grid_lon = h.numbers(mv, "north_pole_grid_longitude");
  if (kind != "rotated_latitude_longitude" || pole_lat.empty() || pole_lon.empty())
    throw Failure(name + "'s grid mapping " + mapping + " (grid_mapping_name \"" + kind +
                  "\") cannot be placed: brix_import knows rotated_latitude_longitude with "
                  "grid_north_pole_latitude and grid_north_pole_longitude");
  std::vector<double> v0 = coordinate_values(source, c[0], lat_first ? 90 : 720);
  std::vector<double> v1 = coordinate_values(source, c[1], lat_first ? 720 : 90);
  const std::vector<double>& rlat = lat_first ? v0 : v1;
  const std::vector<double>& rlon = lat_first ? v1 : v0;
  g.kind = GridKind::kRotated;
  g.cell_lat.resize(g.rows * g.columns);
  g.cell_lon.resize(g.rows * g.columns);
  for (std::size_t i = 0; i < g.rows; ++i)
    for (std::size_t j = 0; j < g.columns; ++j)
      unrotate(rlat[lat_first ? i : j], rlon[lat_first ? j : i], pole_lat[0], pole_lon[0],
               pole_grid_lon.empty() ? 0 : pole_grid_lon[0], g.cell_lat[i * g.columns + j],
               g.cell_lon[i * g.columns + j]);
  return true;
}

}  // namespace

Grid read_grid(Source& source, int var, int time_dim, const std::string& name) {
  const Header& h = source.header();
  const std::vector<int>& dims = h.dims(var);
  std::vector<int> horizontal = horizontal_dimensions(h, var, time_dim, name);
  std::vector<int> hdims;
  for (int k : horizontal) hdims.push_back(dims[static_cast<std::size_t>(k)]);
  auto length = [&](int k) { return h.dimensions[static_cast<std::size_t>(dims[static_cast<std::size_t>(k)])].length; };
  Grid g;
  g.row_dim = horizontal.size() == 2 ? horizontal[0] : -1;
  g.column_dim = horizontal.back();
  g.rows = g.row_dim < 0 ? 1 : length(g.row_dim);
  g.columns = length(g.column_dim);
  for (int d : hdims) g.dims += (g.dims.empty() ? "" : ", ") + h.dim_name(d);
  if (from_coordinates(source, var, hdims, g) || from_dimensions(source, hdims, g) ||
      from_rotated_pole(source, var, hdims, name, g))
    return g;
  throw Failure(
      name + " has no latitude and longitude for its grid (" + g.dims +
      "): neither its coordinates attribute nor the variables over those dimensions include "
      "a latitude and a longitude (units degrees_north and degrees_east, or standard_name latitude "
      "and longitude)");
}

std::string grid_difference(const Grid& ref, const std::string& ref_path, const Grid& g) {
  if (g.kind != ref.kind || g.dims != ref.dims || g.rows != ref.rows || g.columns != ref.columns)
    return "its grid is " + count(static_cast<long long>(g.rows), "row") + " by " +
           count(static_cast<long long>(g.columns), "column") + " (" + g.dims + "), " + ref_path +
           "'s " + count(static_cast<long long>(ref.rows), "row") + " by " +
           count(static_cast<long long>(ref.columns), "column") + " (" + ref.dims + ")";
  auto same = [](double x, double y) {
    return std::memcmp(&x, &y, sizeof x) == 0 || (std::isnan(x) && std::isnan(y));
  };
  for (std::size_t c = 0; c < g.cell_lat.size(); ++c) {
    bool lat = !same(g.cell_lat[c], ref.cell_lat[c]);
    if (!lat && same(g.cell_lon[c], ref.cell_lon[c])) continue;
    const std::vector<double>& mine = lat ? g.cell_lat : g.cell_lon;
    const std::vector<double>& theirs = lat ? ref.cell_lat : ref.cell_lon;
    return "the " + std::string(lat ? "latitude" : "longitude") + " of the cell at row " +
           std::to_string(c / g.columns + 1) + ", column " + std::to_string(c % g.columns + 1) +
           " is " + number(mine[c]) + ", in " + ref_path + " " + number(theirs[c]);
  }
  return "";
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

}  // namespace brix::importer
