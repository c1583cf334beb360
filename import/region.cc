#include "import/region.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

#include "import/text.h"
#include "input/capacity.h"

namespace brix::importer {
namespace {

// Longitude x counted eastwards from the start of r, in [0, 360).
double east_of(double x, const Range& r) { return std::fmod(std::fmod(x - r.lo, 360) + 360, 360); }

// The key of a longitude on the circle, so that 0 and 360 are the same.
double on_circle(double x) {
  double c = std::fmod(std::fmod(x, 360) + 360, 360);
  return c >= 360 ? 0 : c;
}

[[noreturn]] void nothing_in_region(const Grid& g, const RegionRequest& r, const std::string& name) {
  auto extent = [](const std::vector<double>& v) {
    double lo = INFINITY, hi = -INFINITY;
    for (double x : v)
      if (!std::isnan(x)) lo = std::min(lo, x), hi = std::max(hi, x);
    return lo > hi ? std::string("none") : number(lo) + " to " + number(hi);
  };
  throw Failure("no cell of " + name + " lies in latitudes " + range_text(r.lat) +
                ", longitudes " + (r.lon ? range_text(*r.lon) : "all") + " (its latitudes: " +
                extent(g.cell_lat) + "; its longitudes: " + extent(g.cell_lon) + ")");
}

Selection select_cells(const Grid& g, const RegionRequest& r, const std::string& name) {
  Selection s;
  std::set<std::pair<double, double>> seen;
  std::set<std::size_t> rows, columns;  // rectilinear grids: the region's latitudes and longitudes
  for (std::size_t i = 0; i < g.rows; ++i)
    for (std::size_t j = 0; j < g.columns; ++j) {
      double lat = g.cell_lat[i * g.columns + j], lon = g.cell_lon[i * g.columns + j];
      if (!(lat >= r.lat.lo && lat <= r.lat.hi) || std::isnan(lon) ||
          (r.lon && !on_arc(lon, *r.lon)))
        continue;
      ++s.cells_in_region;
      if (!seen.insert({lat, on_circle(lon)}).second) {
        ++s.repeated;
        continue;
      }
      if (g.kind == GridKind::kRectilinear) {
        rows.insert(g.rows_are_lat ? i : j);
        columns.insert(g.rows_are_lat ? j : i);
      }
      s.points.push_back({lat, lon, s.cells.size(), 1});
      s.cells.push_back({i, j});
    }
  if (s.points.empty()) nothing_in_region(g, r, name);
  s.rows = static_cast<int>(rows.size());
  s.columns = static_cast<int>(columns.size());
  return s;
}

// The mean of longitudes about the first of them, so that a block across
// 0 or 180 has its middle there, in the grid's own convention.
double mean_longitude(const std::vector<double>& lons, bool negative_ones) {
  double sum = 0;
  for (double x : lons) sum += lons[0] + std::remainder(x - lons[0], 360);
  double m = sum / static_cast<double>(lons.size());
  m = std::fmod(std::fmod(m, 360) + 360, 360);
  return negative_ones && m > 180 ? m - 360 : m;
}

// The region's latitudes from the south and longitudes from its west edge,
// as places in the grid's latitudes and longitudes; a longitude at the
// position of an earlier one is dropped.
struct BlockAxes {
  std::vector<std::size_t> lats, lons;
  bool negative_ones = false;  // the grid's longitudes run from -180
};

BlockAxes block_axes(const Grid& g, const RegionRequest& r, Selection& s, const std::string& name) {
  BlockAxes a;
  for (std::size_t k = 0; k < g.lat.size(); ++k)
    if (g.lat[k] >= r.lat.lo && g.lat[k] <= r.lat.hi) a.lats.push_back(k);
  std::set<double> seen;
  for (std::size_t k = 0; k < g.lon.size(); ++k) {
    double x = g.lon[k];
    a.negative_ones |= x < 0;
    if (std::isnan(x) || (r.lon && !on_arc(x, *r.lon))) continue;
    if (seen.insert(on_circle(x)).second)
      a.lons.push_back(k);
    else
      ++s.repeated;
  }
  if (a.lats.empty() || a.lons.empty()) nothing_in_region(g, r, name);
  std::sort(a.lats.begin(), a.lats.end(),
            [&](std::size_t x, std::size_t y) { return g.lat[x] < g.lat[y]; });
  double west = INFINITY;  // without --lon, blocks start at the least longitude
  for (std::size_t k : a.lons) west = std::min(west, g.lon[k]);
  Range from{r.lon ? r.lon->lo : west, 0};
  std::stable_sort(a.lons.begin(), a.lons.end(), [&](std::size_t x, std::size_t y) {
    return east_of(g.lon[x], from) < east_of(g.lon[y], from);
  });
  return a;
}

// Blocks of n by n (smaller at the north and east edges), each a point at
// the mean of its cells' positions, in the storage order of their first cells.
Selection select_blocks(const Grid& g, const RegionRequest& r, const std::string& name) {
  if (g.kind != GridKind::kRectilinear)
    throw Failure("--coarsen works on rectilinear grids only; " + name + " is on a grid of " +
                  count(static_cast<long long>(g.rows * g.columns), "cell") + " (" + g.dims +
                  ") with a position each");
  Selection s;
  BlockAxes a = block_axes(g, r, s, name);
  s.rows = static_cast<int>(a.lats.size());
  s.columns = static_cast<int>(a.lons.size());
  s.repeated *= s.rows;  // each repeated longitude drops a cell of every latitude
  s.cells_in_region = s.rows * s.columns + s.repeated;
  const std::size_t n = static_cast<std::size_t>(r.coarsen);
  for (std::size_t a0 = 0; a0 < a.lats.size(); a0 += n)
    for (std::size_t b0 = 0; b0 < a.lons.size(); b0 += n) {
      std::size_t a1 = std::min(a0 + n, a.lats.size()), b1 = std::min(b0 + n, a.lons.size());
      double lat_sum = 0;
      std::vector<double> block_lons;
      for (std::size_t k = a0; k < a1; ++k) lat_sum += g.lat[a.lats[k]];
      for (std::size_t k = b0; k < b1; ++k) block_lons.push_back(g.lon[a.lons[k]]);
      s.points.push_back({lat_sum / static_cast<double>(a1 - a0),
                          mean_longitude(block_lons, a.negative_ones), s.cells.size(),
                          (a1 - a0) * (b1 - b0)});
      for (std::size_t x = a0; x < a1; ++x)
        for (std::size_t y = b0; y < b1; ++y)
          s.cells.push_back(g.rows_are_lat ? Cell{a.lats[x], a.lons[y]}
                                           : Cell{a.lons[y], a.lats[x]});
    }
  auto first = [&](const Point& p) {
    Cell c = s.cells[p.first];
    for (std::size_t k = p.first; k < p.first + p.n; ++k)
      c = {std::min(c.i, s.cells[k].i), std::min(c.j, s.cells[k].j)};
    return std::pair{c.i, c.j};
  };
  std::stable_sort(s.points.begin(), s.points.end(),
                   [&](const Point& x, const Point& y) { return first(x) < first(y); });
  return s;
}

}  // namespace

std::string range_text(const Range& r) { return number(r.lo) + ":" + number(r.hi); }

bool on_arc(double x, const Range& r) {
  double span = r.hi - r.lo;
  if (span < 0) span += 360;
  return std::fmod(std::fmod(x - r.lo, 360) + 360, 360) <= span || span >= 360;
}

bool crosses_dateline(const std::vector<double>& lons) {
  bool negative = false, positive = false;
  std::vector<double> circle;
  for (double x : lons) {
    (x < 0 ? negative : positive) = true;
    circle.push_back(std::fmod(std::fmod(x, 360) + 360, 360));
  }
  if (!negative || !positive) return false;
  std::sort(circle.begin(), circle.end());
  double wrap = circle.front() + 360 - circle.back();
  for (std::size_t k = 1; k < circle.size(); ++k)
    if (circle[k] - circle[k - 1] > wrap) return false;
  return true;
}

Selection select_region(const Grid& g, const RegionRequest& r, const std::string& name) {
  return r.coarsen > 1 ? select_blocks(g, r, name) : select_cells(g, r, name);
}

Bounds bounds_of(const Selection& s) {
  std::size_t i0 = SIZE_MAX, i1 = 0, j0 = SIZE_MAX, j1 = 0;
  for (const Cell& c : s.cells) {
    i0 = std::min(i0, c.i), i1 = std::max(i1, c.i);
    j0 = std::min(j0, c.j), j1 = std::max(j1, c.j);
  }
  return {i0, i1 - i0 + 1, j0, j1 - j0 + 1};
}

std::string too_many(const Grid& g, const RegionRequest& r, const Selection& sel, int kept) {
  const int max_points = input::max_points;
  const int points = static_cast<int>(sel.points.size());
  std::string s = std::to_string(kept) + " grid points to write, more than the " +
                  std::to_string(max_points) +
                  " brix_eli takes: choose a narrower region with --lat or --lon";
  if (g.kind != GridKind::kRectilinear) return s + " (now " + count(points, "cell") + " in the region)";
  s += " (now " + count(sel.rows, "latitude") + " by " + count(sel.columns, "longitude");
  if (sel.rows > 0 && sel.rows <= max_points && g.lon.size() > 1) {
    int fit = max_points / sel.rows;
    double step = std::fabs(std::remainder(g.lon[1] - g.lon[0], 360));
    s += "; " + count(fit, "longitude") + ", about " + number(std::floor(fit * step)) +
         " degrees, fit at these latitudes";
  }
  s += ")";
  for (int n = std::max(r.coarsen, 1) + 1; n <= std::max(sel.rows, sel.columns); ++n) {
    long long blocks =
        static_cast<long long>((sel.rows + n - 1) / n) * ((sel.columns + n - 1) / n);
    if (blocks <= max_points)
      return s + ", or average blocks of cells with --coarsen " + std::to_string(n) +
             " (the smallest that fits: " + std::to_string(blocks) + " points)";
  }
  return s;
}

}  // namespace brix::importer
