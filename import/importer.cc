#include "import/importer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "input/year_record.h"
#include "records/fixed.h"

namespace brix::importer {
namespace {

constexpr std::int32_t kMissing = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kTooWide = std::numeric_limits<std::int32_t>::max();

// The shortest text that reads back as the same value.
template <typename T>
std::string number(T v) {
  char text[64];
  auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed).ptr;
  return std::string(text, end);
}

// Six significant digits, for values in messages.
std::string brief(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

std::string range_text(const Range& r) { return number(r.lo) + ":" + number(r.hi); }

std::string year_month(YearMonth ym) {
  char text[32];
  std::snprintf(text, sizeof text, ym.year >= 0 ? "%04d-%02d" : "%05d-%02d", ym.year, ym.month);
  return text;
}

std::string base_name(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Whether longitude x lies on the arc from r.lo eastwards to r.hi, both included.
bool on_arc(double x, const Range& r) {
  double span = r.hi - r.lo;
  if (span < 0) span += 360;
  return std::fmod(std::fmod(x - r.lo, 360) + 360, 360) <= span || span >= 360;
}

// Whether brix_eli should count negative longitudes from 180 to 360: the kept
// longitudes include both signs and, on the 0-360 circle, the widest empty
// stretch between them holds 0 (so they run across 180, not across 0).
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

// A file written under a temporary name beside its own, put in place by
// publish(); the temporary file is removed unless it was published.
class Staged {
 public:
  explicit Staged(const std::string& path) : path_(path), temp_(path + ".XXXXXX") {
    int fd = ::mkstemp(temp_.data());
    if (fd < 0) throw Failure("cannot create a file beside " + path_ + ": " + std::strerror(errno));
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    file_ = ::fdopen(fd, "w");
    buffer_.resize(1 << 20);
    std::setvbuf(file_, buffer_.data(), _IOFBF, buffer_.size());
  }
  ~Staged() {
    if (file_ != nullptr) std::fclose(file_);
    if (!published_) ::unlink(temp_.c_str());
  }
  void write(const char* data, std::size_t size) { std::fwrite(data, 1, size, file_); }
  void write(const std::string& s) { write(s.data(), s.size()); }
  void close() {
    bool failed = std::ferror(file_) != 0;
    failed |= std::fclose(file_) != 0;
    file_ = nullptr;
    if (failed) throw Failure("cannot write " + path_ + ": " + std::strerror(errno));
  }
  // Renames the file to its own name; without `replace`, never over a file.
  void publish(bool replace) {
    int status =
        replace ? ::rename(temp_.c_str(), path_.c_str())
                : ::renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, path_.c_str(), RENAME_NOREPLACE);
    if (status != 0 && !replace && (errno == EINVAL || errno == ENOSYS)) {  // no such renaming here
      struct stat st;
      errno = EEXIST;
      if (::stat(path_.c_str(), &st) != 0) status = ::rename(temp_.c_str(), path_.c_str());
    }
    if (status != 0) {
      if (errno == EEXIST) throw Failure(path_ + " exists (give --force to replace it)");
      throw Failure("cannot write " + path_ + ": " + std::strerror(errno));
    }
    published_ = true;
  }
  void withdraw() { ::unlink(path_.c_str()); }

 private:
  std::string path_, temp_;
  std::FILE* file_ = nullptr;
  std::vector<char> buffer_;
  bool published_ = false;
};

void check_output(const std::string& path, bool force) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) throw Failure(path + " is a directory");
  if (!force) throw Failure(path + " exists (give --force to replace it)");
}

// "1 latitude", "2 latitudes".
std::string count(long long n, const std::string& thing) {
  return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

// A point of the coordinate file: its position, and the cells whose values
// it averages (one, unless coarsened), at cells[first] to cells[first + n - 1].
struct Point {
  double lat, lon;
  std::size_t first, n;
};
struct Cell {
  std::size_t i, j;  // row and column
};
struct Selection {
  std::vector<Point> points;
  std::vector<Cell> cells;
};

// Longitude x counted eastwards from the start of r, in [0, 360).
double east_of(double x, const Range& r) { return std::fmod(std::fmod(x - r.lo, 360) + 360, 360); }

// The key of a longitude on the circle, so that 0 and 360 are the same.
double on_circle(double x) {
  double c = std::fmod(std::fmod(x, 360) + 360, 360);
  return c >= 360 ? 0 : c;
}

[[noreturn]] void nothing_in_region(const Variable& f, const Options& o) {
  auto extent = [](const std::vector<double>& v) {
    double lo = INFINITY, hi = -INFINITY;
    for (double x : v)
      if (!std::isnan(x)) lo = std::min(lo, x), hi = std::max(hi, x);
    return lo > hi ? std::string("none") : number(lo) + " to " + number(hi);
  };
  throw Failure("no cell of " + f.name() + " lies in latitudes " + range_text(o.lat) +
                ", longitudes " + (o.lon ? range_text(*o.lon) : "all") + " (its latitudes: " +
                extent(f.cell_lat()) + "; its longitudes: " + extent(f.cell_lon()) + ")");
}

// Every cell in the region is a point, in storage order, except one at the
// position of an earlier one (a longitude stored as both 0 and 360).
Selection select_cells(const Variable& f, const Options& o, Report& r) {
  Selection s;
  std::set<std::pair<double, double>> seen;
  std::set<std::size_t> rows, columns;  // rectilinear grids: the region's latitudes and longitudes
  for (std::size_t i = 0; i < f.rows(); ++i)
    for (std::size_t j = 0; j < f.columns(); ++j) {
      double lat = f.cell_lat()[i * f.columns() + j], lon = f.cell_lon()[i * f.columns() + j];
      if (!(lat >= o.lat.lo && lat <= o.lat.hi) || std::isnan(lon) ||
          (o.lon && !on_arc(lon, *o.lon)))
        continue;
      ++r.cells;
      if (!seen.insert({lat, on_circle(lon)}).second) {
        ++r.repeated;
        continue;
      }
      if (f.kind() == GridKind::kRectilinear) {
        rows.insert(f.rows_are_latitudes() ? i : j);
        columns.insert(f.rows_are_latitudes() ? j : i);
      }
      s.points.push_back({lat, lon, s.cells.size(), 1});
      s.cells.push_back({i, j});
    }
  if (s.points.empty()) nothing_in_region(f, o);
  r.rows = static_cast<int>(rows.size());
  r.columns = static_cast<int>(columns.size());
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

// The region's latitudes from its south edge and longitudes from its west
// edge, in blocks of n by n (smaller at the north and east edges), each
// block a point at the mean of its cells' positions.
Selection select_blocks(const Variable& f, const Options& o, Report& r) {
  if (f.kind() != GridKind::kRectilinear)
    throw Failure("--coarsen works on rectilinear grids only; " + f.name() + " is on a grid of " +
                  count(static_cast<long long>(f.rows() * f.columns()), "cell") + " (" +
                  f.grid_dims() + ") with a position each");
  std::vector<std::size_t> lats, lons;
  for (std::size_t k = 0; k < f.lat().size(); ++k)
    if (f.lat()[k] >= o.lat.lo && f.lat()[k] <= o.lat.hi) lats.push_back(k);
  std::set<double> seen;
  bool negative_ones = false;
  for (std::size_t k = 0; k < f.lon().size(); ++k) {
    double x = f.lon()[k];
    negative_ones |= x < 0;
    if (std::isnan(x) || (o.lon && !on_arc(x, *o.lon))) continue;
    if (seen.insert(on_circle(x)).second)
      lons.push_back(k);
    else
      ++r.repeated;
  }
  if (lats.empty() || lons.empty()) nothing_in_region(f, o);
  std::sort(lats.begin(), lats.end(),
            [&](std::size_t a, std::size_t b) { return f.lat()[a] < f.lat()[b]; });
  double west = INFINITY;  // without --lon, blocks start at the least longitude
  for (std::size_t k : lons) west = std::min(west, f.lon()[k]);
  Range from{o.lon ? o.lon->lo : west, 0};
  std::stable_sort(lons.begin(), lons.end(), [&](std::size_t a, std::size_t b) {
    return east_of(f.lon()[a], from) < east_of(f.lon()[b], from);
  });
  r.rows = static_cast<int>(lats.size());
  r.columns = static_cast<int>(lons.size());
  r.repeated *= r.rows;  // each repeated longitude drops a cell of every latitude
  r.cells = r.rows * r.columns + r.repeated;

  std::size_t n = static_cast<std::size_t>(o.coarsen);
  struct Block {
    std::size_t a, b;  // first latitude and longitude of the block in lats and lons
  };
  std::vector<Block> blocks;
  for (std::size_t a = 0; a < lats.size(); a += n)
    for (std::size_t b = 0; b < lons.size(); b += n) blocks.push_back({a, b});
  Selection s;
  for (const Block& k : blocks) {
    std::size_t a1 = std::min(k.a + n, lats.size()), b1 = std::min(k.b + n, lons.size());
    double lat_sum = 0;
    std::vector<double> block_lons;
    for (std::size_t a = k.a; a < a1; ++a) lat_sum += f.lat()[lats[a]];
    for (std::size_t b = k.b; b < b1; ++b) block_lons.push_back(f.lon()[lons[b]]);
    Point p{lat_sum / static_cast<double>(a1 - k.a), mean_longitude(block_lons, negative_ones),
            s.cells.size(), (a1 - k.a) * (b1 - k.b)};
    for (std::size_t a = k.a; a < a1; ++a)
      for (std::size_t b = k.b; b < b1; ++b)
        s.cells.push_back(f.rows_are_latitudes() ? Cell{lats[a], lons[b]} : Cell{lons[b], lats[a]});
    s.points.push_back(p);
  }
  // Points in the storage order of their blocks' first cells.
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

// The advice when the region holds more than brix_eli takes.
std::string too_many(const Variable& f, const Options& o, const Report& r) {
  std::string s = std::to_string(r.kept) + " grid points to write, more than the " +
                  std::to_string(kMaxPoints) +
                  " brix_eli takes: choose a narrower region with --lat or --lon";
  if (f.kind() != GridKind::kRectilinear)
    return s + " (now " + count(r.points, "cell") + " in the region)";
  s += " (now " + count(r.rows, "latitude") + " by " + count(r.columns, "longitude");
  if (r.rows > 0 && r.rows <= kMaxPoints && f.lon().size() > 1) {
    int fit = kMaxPoints / r.rows;
    double step = std::fabs(std::remainder(f.lon()[1] - f.lon()[0], 360));
    s += "; " + count(fit, "longitude") + ", about " + number(std::floor(fit * step)) +
         " degrees, fit at these latitudes";
  }
  s += ")";
  for (int n = std::max(o.coarsen, 1) + 1; n <= std::max(r.rows, r.columns); ++n) {
    long long blocks = static_cast<long long>((r.rows + n - 1) / n) * ((r.columns + n - 1) / n);
    if (blocks <= kMaxPoints)
      return s + ", or average blocks of cells with --coarsen " + std::to_string(n) +
             " (the smallest that fits: " + std::to_string(blocks) + " points)";
  }
  return s;
}

// A date as YYYY-MM-DD, from seconds since day 0 of the calendar.
std::string date_text(Calendar calendar, double instant) {
  Date d = date_of(calendar, static_cast<long long>(std::floor(instant / 86400)));
  char text[40];
  std::snprintf(text, sizeof text, d.year >= 0 ? "%04d-%02d-%02d" : "%05d-%02d-%02d", d.year,
                d.month, d.day);
  return text;
}

// Steps less than a minute apart are one step: time axes of the same months
// in other units or types differ by their rounding, never by a minute.
constexpr double kSameStep = 60;

// A step of the dataset: its month and time, and where it is stored.
struct Step {
  YearMonth month;
  double instant;
  std::size_t file, index;
};

// The files of a dataset and their steps, each in time order; a step that
// two files hold is among `steps` once, and its other places among `twins`.
struct Series {
  std::vector<std::unique_ptr<Variable>> files;
  std::vector<Step> steps;
  std::vector<std::pair<std::size_t, Step>> twins;  // the step's place in `steps`, and the other
};

// Reads the time axis of every file, checks that the files make one
// dataset, and merges their steps in time order.
Series open_series(const Options& o, Report& r) {
  Series s;
  bool several = o.inputs.size() > 1;
  for (const std::string& path : o.inputs) {
    try {
      s.files.push_back(std::make_unique<Variable>(path, o.var));
    } catch (const Failure& e) {
      std::string what = e.what();
      if (!several || what.find(path) != std::string::npos) throw;
      throw Failure(path + ": " + what);
    }
    s.files.back()->close();
  }
  const Variable& first = *s.files.front();
  for (const auto& f : s.files) {
    if (f->name() != first.name())
      throw Failure(first.path() + " holds the variable " + first.name() + ", " + f->path() +
                    " the variable " + f->name() +
                    ": the files of a dataset hold one variable (choose it with --var)");
    if (f->time_units().calendar != first.time_units().calendar)
      throw Failure(first.path() + "'s time is in the calendar " + first.calendar_name() + ", " +
                    f->path() + "'s in the calendar " + f->calendar_name() +
                    ": the files of a dataset share one calendar");
  }
  // Files in the order of their first steps (those without a valid time
  // last), then by name, whatever the order they were given in.
  auto start = [](const Variable& f) {
    double t = INFINITY;
    for (const Stamp& st : f.stamps())
      if (st.month) t = std::min(t, st.instant);
    return t;
  };
  std::stable_sort(s.files.begin(), s.files.end(), [&](const auto& a, const auto& b) {
    double ta = start(*a), tb = start(*b);
    return ta != tb ? ta < tb : a->path() < b->path();
  });
  std::vector<Step> all;
  for (std::size_t k = 0; k < s.files.size(); ++k) {
    const std::vector<Stamp>& stamps = s.files[k]->stamps();
    for (std::size_t t = 0; t < stamps.size(); ++t)
      if (stamps[t].month) all.push_back({*stamps[t].month, stamps[t].instant, k, t});
  }
  std::stable_sort(all.begin(), all.end(), [](const Step& a, const Step& b) {
    return a.instant != b.instant ? a.instant < b.instant : a.file < b.file;
  });
  for (const Step& st : all) {
    if (!s.steps.empty() && st.instant - s.steps.back().instant < kSameStep) {
      const Step& kept = s.steps.back();
      bool same_file = kept.file == st.file;
      for (const auto& [at, twin] : s.twins)
        same_file |= at == s.steps.size() - 1 && twin.file == st.file;
      if (same_file)
        throw Failure(s.files[st.file]->path() + " holds two steps at " +
                      date_text(first.time_units().calendar, st.instant) + " (steps " +
                      std::to_string(kept.index + 1) + " and " + std::to_string(st.index + 1) +
                      " of its time axis)");
      s.twins.push_back({s.steps.size() - 1, st});
      continue;
    }
    s.steps.push_back(st);
  }
  // Steps in two files, by the pair of files.
  std::map<std::pair<std::size_t, std::size_t>, std::vector<YearMonth>> pairs;
  for (const auto& [at, twin] : s.twins) pairs[{s.steps[at].file, twin.file}].push_back(twin.month);
  for (const auto& [files, months] : pairs)
    r.twins.push_back(count(static_cast<long long>(months.size()), "time step") + " (" +
                      year_month(months.front()) +
                      (months.size() > 1 ? " to " + year_month(months.back()) : "") + ") in both " +
                      s.files[files.first]->path() + " and " + s.files[files.second]->path() +
                      ", taken once");
  for (const auto& f : s.files) {
    FileSpan span;
    span.path = f->path();
    for (const Stamp& st : f->stamps()) {
      if (!st.month) continue;
      span.first = span.steps == 0 ? *st.month : std::min(span.first, *st.month);
      span.last = span.steps == 0 ? *st.month : std::max(span.last, *st.month);
      ++span.steps;
    }
    r.files.push_back(span);
  }
  return s;
}

// The time steps of each year that fall in the listed months, for the years
// written, as places in s.steps; the report gets the years and the
// incomplete ones.
std::vector<std::vector<std::size_t>> select_years(const Series& s, const Options& o, Report& r) {
  const std::string& name = s.files.front()->name();
  std::map<int, std::vector<std::size_t>> steps;  // year -> its steps in the listed months
  std::map<int, std::array<bool, 13>> seen;       // year -> months with a step
  for (std::size_t k = 0; k < s.steps.size(); ++k) {
    YearMonth ym = s.steps[k].month;
    r.first_step = k == 0 ? ym : std::min(r.first_step, ym);
    r.last_step = k == 0 ? ym : std::max(r.last_step, ym);
    seen[ym.year][static_cast<std::size_t>(ym.month)] = true;
    if (o.months[static_cast<std::size_t>(ym.month)]) steps[ym.year].push_back(k);
  }
  // The listed months of a year without a step.
  auto missing = [&](int year) {
    std::array<bool, 13> lacking{};
    auto it = seen.find(year);
    for (int m = 1; m <= 12; ++m)
      lacking[static_cast<std::size_t>(m)] =
          o.months[static_cast<std::size_t>(m)] &&
          (it == seen.end() || !it->second[static_cast<std::size_t>(m)]);
    return lacking;
  };
  auto complete = [&](int year) { return missing(year) == std::array<bool, 13>{}; };
  std::string months = months_text(o.months);
  if (s.steps.empty()) throw Failure(name + " has no time step with a valid time");
  long long a = o.years ? (*o.years)[0] : r.first_step.year;
  long long b = o.years ? (*o.years)[1] : r.last_step.year;
  std::vector<int> written;
  for (long long y = std::max<long long>(a, r.first_step.year);
       y <= std::min<long long>(b, r.last_step.year); ++y)
    (complete(static_cast<int>(y)) ? written : r.incomplete).push_back(static_cast<int>(y));
  if (written.empty() && !o.years) {
    // Yearly data, or a single step: the month of the steps makes a year.
    std::map<int, int> months_seen;  // month -> years with a step in it
    bool single = true;
    for (const auto& [year, months] : seen) {
      int n = 0;
      for (int m = 1; m <= 12; ++m)
        if (months[static_cast<std::size_t>(m)]) ++n, ++months_seen[m];
      single &= n == 1;
    }
    if (single) {
      auto most = std::max_element(months_seen.begin(), months_seen.end(),
                                   [](auto& x, auto& y) { return x.second < y.second; });
      throw Failure("no complete year: each year of " + name + " (" + year_month(r.first_step) +
                    " to " + year_month(r.last_step) + ") has a single time step; give --months " +
                    std::to_string(most->first) + " to take the step of month " +
                    std::to_string(most->first) + " as the year's value");
    }
  }
  if (written.empty())
    throw Failure(
        "no complete year: no year " +
        (o.years ? "of " + std::to_string(a) + ":" + std::to_string(b) + " " : std::string()) +
        "in " + name + " (" + year_month(r.first_step) + " to " + year_month(r.last_step) +
        ") has a time step in each of its " + months);
  r.first_year = written.front();
  r.last_year = written.back();
  if (o.years && (r.first_year != a || r.last_year != b))
    r.years_note = "--years " + std::to_string(a) + ":" + std::to_string(b) +
                   " asked for, but the time steps run from " + year_month(r.first_step) + " to " +
                   year_month(r.last_step) +
                   (r.incomplete.empty() ? "" : ", and some years lack a month");
  if (r.last_year - r.first_year + 1 < 4)
    r.warnings.push_back(
        "only " + count(r.last_year - r.first_year + 1, "year") +
        " written: brix_eli's spline needs 4 years or more, so its smoothed table will hold the "
        "spline's refusal markers");
  for (int y : r.incomplete) {
    if (y <= r.first_year || y >= r.last_year) continue;
    std::array<bool, 13> lacking = missing(y);
    std::string around;
    if (s.files.size() > 1) {
      // The files of the steps before and after the missing months.
      YearMonth from{y, 1}, to{y, 12};
      for (int m = 1; m <= 12; ++m)
        if (lacking[static_cast<std::size_t>(m)]) to.month = m;
      for (int m = 12; m >= 1; --m)
        if (lacking[static_cast<std::size_t>(m)]) from.month = m;
      const Variable* before = nullptr;
      const Variable* after = nullptr;
      for (const Step& st : s.steps) {
        if (st.month < from) before = s.files[st.file].get();
        if (st.month > to && after == nullptr) after = s.files[st.file].get();
      }
      if (before != nullptr && after != nullptr)
        around = before == after ? " (inside " + before->path() + ")"
                                 : " (between " + before->path() + " and " + after->path() + ")";
    }
    throw Failure("year " + std::to_string(y) + " lacks a time step in " + months_text(lacking) +
                  around + ", one of its " + months +
                  ", and brix_eli needs years that follow each other: give --years to write only "
                  "the years before it or after it");
  }
  int n = r.last_year - r.first_year + 1;
  if (n > kMaxYears)
    throw Failure(std::to_string(n) + " years to write (" + std::to_string(r.first_year) + " to " +
                  std::to_string(r.last_year) + "), more than the " + std::to_string(kMaxYears) +
                  " brix_eli takes: choose fewer with --years");
  if (r.first_year < -9999 || r.last_year > 99999)
    throw Failure("year " + std::to_string(r.first_year < -9999 ? r.first_year : r.last_year) +
                  " does not fit the 5 columns of brix_eli's year field");
  std::vector<std::vector<std::size_t>> out;
  for (int y = r.first_year; y <= r.last_year; ++y) out.push_back(steps[y]);
  return out;
}

// What differs between the grid of `f` and that of `ref`, or "".
std::string grid_difference(const Variable& ref, const Variable& f) {
  if (f.kind() != ref.kind() || f.grid_dims() != ref.grid_dims() || f.rows() != ref.rows() ||
      f.columns() != ref.columns())
    return "its grid is " + count(static_cast<long long>(f.rows()), "row") + " by " +
           count(static_cast<long long>(f.columns()), "column") + " (" + f.grid_dims() + "), " +
           ref.path() + "'s " + count(static_cast<long long>(ref.rows()), "row") + " by " +
           count(static_cast<long long>(ref.columns()), "column") + " (" + ref.grid_dims() + ")";
  auto same = [](double x, double y) {
    return std::memcmp(&x, &y, sizeof x) == 0 || (std::isnan(x) && std::isnan(y));
  };
  for (std::size_t c = 0; c < f.cell_lat().size(); ++c) {
    bool lat = !same(f.cell_lat()[c], ref.cell_lat()[c]);
    if (!lat && same(f.cell_lon()[c], ref.cell_lon()[c])) continue;
    const std::vector<double>& mine = lat ? f.cell_lat() : f.cell_lon();
    const std::vector<double>& theirs = lat ? ref.cell_lat() : ref.cell_lon();
    return "the " + std::string(lat ? "latitude" : "longitude") + " of the cell at row " +
           std::to_string(c / f.columns() + 1) + ", column " + std::to_string(c % f.columns() + 1) +
           " is " + number(mine[c]) + ", in " + ref.path() + " " + number(theirs[c]);
  }
  return "";
}

// Steps read in slices of consecutive steps of one file at a time, and
// the file closed when the slices move on to another.
class StepReader {
 public:
  StepReader(const Series& s, std::size_t i0, std::size_t ni, std::size_t j0, std::size_t nj,
             std::size_t slice_steps)
      : s_(s), i0_(i0), ni_(ni), j0_(j0), nj_(nj), slice_(slice_steps) {}
  ~StepReader() {
    if (file_ != nullptr) file_->close();
  }
  // The values of the step, in a slice that reaches as far as step `last`
  // of the same file when it has to be read.
  double* step(const Step& st, std::size_t last) {
    const Variable* f = s_.files[st.file].get();
    if (f != file_ || st.index < t0_ || st.index >= t0_ + nt_) {
      if (file_ != nullptr && file_ != f) file_->close();
      file_ = f;
      t0_ = st.index;
      nt_ = std::min(std::max(last, t0_) - t0_ + 1, slice_);
      f->read(t0_, nt_, i0_, ni_, j0_, nj_, block_);
    }
    return block_.data() + (st.index - t0_) * ni_ * nj_;
  }

 private:
  const Series& s_;
  std::size_t i0_, ni_, j0_, nj_, slice_;
  const Variable* file_ = nullptr;
  std::size_t t0_ = 0, nt_ = 0;
  std::vector<double> block_;
};

// Values that cannot be data, taken as missing, and the warning that says
// which they were.
class Flags {
 public:
  Flags(std::string what, std::size_t cells) : what_(std::move(what)), cell_seen_(cells) {}
  void add(double v, std::size_t cell, std::size_t step) {
    ++values_;
    if (!cell_seen_[cell]) cell_seen_[cell] = 1, ++cells_;
    if (step != last_step_) last_step_ = step, ++steps_;
    auto it = by_value_.find(v);
    if (it == by_value_.end() && by_value_.size() < kShown)
      it = by_value_.emplace(v, Tally{}).first;
    if (it == by_value_.end()) return;
    it->second.cells.insert(cell);
    if (step != it->second.last_step) it->second.last_step = step, ++it->second.steps;
    ++it->second.values;
  }
  // "", or the warning.
  std::string warning() const {
    if (values_ == 0) return "";
    std::string s = count(static_cast<long long>(values_), "value") + " " + what_ +
                    " taken as missing (" + count(static_cast<long long>(cells_), "cell") + ", " +
                    count(static_cast<long long>(steps_), "time step") + "): ";
    std::size_t shown = 0;
    for (const auto& [v, t] : by_value_) {
      s += (shown++ ? ", " : "") + brief(v) + " in " +
           count(static_cast<long long>(t.cells.size()), "cell") + " at " +
           count(static_cast<long long>(t.steps), "time step");
    }
    std::size_t others = 0;
    for (const auto& [v, t] : by_value_) others += t.values;
    if (others < values_) s += ", and other values";
    return s;
  }

 private:
  static constexpr std::size_t kShown = 5;
  struct Tally {
    std::set<std::size_t> cells;
    std::size_t steps = 0, values = 0, last_step = SIZE_MAX;
  };
  std::string what_;
  std::vector<char> cell_seen_;
  std::size_t values_ = 0, cells_ = 0, steps_ = 0, last_step_ = SIZE_MAX;
  std::map<double, Tally> by_value_;
};

}  // namespace

std::string months_text(const std::array<bool, 13>& months) {
  std::string s;
  int count = 0;
  for (int m = 1; m <= 12; ++m) {
    if (!months[static_cast<std::size_t>(m)]) continue;
    int end = m;
    while (end < 12 && months[static_cast<std::size_t>(end + 1)]) ++end;
    if (!s.empty()) s += ',';
    s += std::to_string(m);
    if (end > m) s += '-' + std::to_string(end);
    count += end - m + 1;
    m = end;
  }
  return (count == 1 ? "month " : "months ") + s;
}

Report run(const Options& o) {
  check_output(o.xy, o.force);
  check_output(o.recon, o.force);
  Report r;
  Series series = open_series(o, r);
  std::vector<std::vector<std::size_t>> steps = select_years(series, o, r);

  // Only the files that hold a step used have their grids read: the first
  // of them gives the grid, every other must have the same to the bit.
  std::vector<char> used(series.files.size(), 0);
  for (const auto& year : steps)
    for (std::size_t k : year) used[series.steps[k].file] = 1;
  for (const auto& [at, twin] : series.twins)
    if (used[series.steps[at].file]) used[twin.file] = 1;
  Variable* ref = nullptr;
  for (std::size_t k = 0; k < series.files.size(); ++k) {
    if (!used[k]) continue;
    r.files[k].used = true;
    Variable& f = *series.files[k];
    f.load_grid(o.units);
    f.set_threads(o.threads);
    if (ref == nullptr) {
      ref = &f;
      f.close();
      continue;
    }
    std::string differs = grid_difference(*ref, f);
    if (!differs.empty())
      throw Failure(f.path() + " is not on the grid of " + ref->path() + ": " + differs);
    if (f.units() != ref->units())
      r.warnings.push_back(f.path() + " gives the units \"" + f.units() + "\", " + ref->path() +
                           " \"" + ref->units() + "\"; each file's values are read in its own");
    f.release_grid();
  }
  const Variable& f = *ref;
  std::vector<std::string> file_warnings;
  for (const auto& file : series.files)
    for (const std::string& w : file->warnings())
      if (std::find(file_warnings.begin(), file_warnings.end(), w) == file_warnings.end())
        file_warnings.push_back(w);
  r.warnings.insert(r.warnings.begin(), file_warnings.begin(), file_warnings.end());
  r.variable = f.name();
  r.units = f.units();
  r.file_units = f.file_units();
  r.title = series.files.front()->title();
  r.calendar = f.calendar_name();
  r.kind = f.kind();
  r.grid_dims = f.grid_dims();
  r.grid_rows = f.rows();
  r.grid_columns = f.columns();
  r.n_time = series.steps.size();
  std::size_t with_bounds = 0;
  for (const auto& file : series.files) with_bounds += !file->bounds_name().empty();
  if (with_bounds == 0)
    r.placement = "each step in the month of its time stamp (no time bounds)";
  else
    r.placement =
        std::string("each step in the month that holds the middle of its ") +
        (f.climatology() ? "first year's climatology bounds (" : "time bounds (") +
        (f.bounds_name().empty() ? series.files.front()->bounds_name() : f.bounds_name()) + ")" +
        (with_bounds < series.files.size()
             ? "; in " + count(static_cast<long long>(series.files.size() - with_bounds), "file") +
                   " without bounds, of its time stamp"
             : "");
  Selection s = o.coarsen > 1 ? select_blocks(f, o, r) : select_cells(f, o, r);
  r.points = static_cast<int>(s.points.size());

  // The bounding rows and columns of the region's cells: only they are read.
  std::size_t i0 = SIZE_MAX, i1 = 0, j0 = SIZE_MAX, j1 = 0;
  for (const Cell& c : s.cells) {
    i0 = std::min(i0, c.i), i1 = std::max(i1, c.i);
    j0 = std::min(j0, c.j), j1 = std::max(j1, c.j);
  }
  std::size_t ni = i1 - i0 + 1, nj = j1 - j0 + 1;
  std::vector<std::size_t> at;  // each cell's place in a time step of the block read
  for (const Cell& c : s.cells) at.push_back((c.i - i0) * nj + (c.j - j0));

  // Values that no temperature, or no sea-surface temperature, can have.
  bool temperature = f.scale() != Scale::kOther;
  bool sst = temperature && f.is_sst();
  Flags below_zero("below absolute zero (flags, such as sea ice's, not declared missing)",
                   s.cells.size());
  Flags off_range("outside -5 to 45 degrees Celsius, which no sea-surface temperature reaches,",
                  s.cells.size());
  std::size_t values = 0, kelvin_like = 0;
  auto check = [&](double* step, std::size_t k) {
    for (std::size_t c = 0; c < s.cells.size(); ++c) {
      double& v = step[at[c]];
      if (std::isnan(v)) continue;
      ++values;
      kelvin_like += v >= 170 && v <= 350;
      if (temperature && v < -273.15) {
        below_zero.add(v, c, k);
        v = std::nan("");
      } else if (sst && (v < -5 || v > 45)) {
        off_range.add(v, c, k);
        v = std::nan("");
      }
    }
  };
  std::vector<std::vector<Step>> twins(series.steps.size());
  for (const auto& [at_step, twin] : series.twins) twins[at_step].push_back(twin);

  // Yearly means in thousandths, year by year: at each step the mean of a
  // point's cells that hold a value, then the mean of the year's steps.
  // Steps are read in slices of at most kSlice values.
  constexpr std::size_t kSlice = std::size_t{1} << 22;
  std::size_t per_step = ni * nj, np = s.points.size();
  std::size_t slice_steps = std::max<std::size_t>(1, kSlice / per_step);
  StepReader reader(series, i0, ni, j0, nj, slice_steps), twin_reader(series, i0, ni, j0, nj, 1);
  // How far a read that starts at a step may reach in its file: to the
  // year's last step there, and on over the used steps that follow it one by
  // one (years of every month, read several at a time, give the threads
  // that inflate chunks more to share).
  std::vector<std::size_t> reach(series.steps.size());
  {
    std::vector<std::size_t> order;
    for (const auto& year : steps) order.insert(order.end(), year.begin(), year.end());
    for (std::size_t n = order.size(); n-- > 0;) {
      const Step& a = series.steps[order[n]];
      reach[order[n]] = a.index;
      if (n + 1 < order.size()) {
        const Step& b = series.steps[order[n + 1]];
        if (b.file == a.file && b.index == a.index + 1) reach[order[n]] = reach[order[n + 1]];
      }
    }
    for (const auto& year : steps) {
      std::map<std::size_t, std::size_t> last;  // file -> the year's last step in it
      for (std::size_t k : year) {
        std::size_t& l = last[series.steps[k].file];
        l = std::max(l, series.steps[k].index);
      }
      for (std::size_t k : year) reach[k] = std::max(reach[k], last[series.steps[k].file]);
    }
  }
  const double loop_began = thread_seconds();
  double reading = 0;
  std::vector<std::int32_t> milli(steps.size() * np);
  std::vector<double> sum(np);
  std::vector<char> kept(np, 1);
  for (std::size_t y = 0; y < steps.size(); ++y) {
    const std::vector<std::size_t>& ts = steps[y];
    std::fill(sum.begin(), sum.end(), 0.0);
    for (std::size_t k : ts) {
      const Step& st = series.steps[k];
      double read_began = thread_seconds();
      double* step = reader.step(st, reach[k]);
      reading += thread_seconds() - read_began;
      for (const Step& twin : twins[k]) {
        const double* copy = twin_reader.step(twin, twin.index);
        for (std::size_t c = 0; c < s.cells.size(); ++c) {
          double a = step[at[c]], b = copy[at[c]];
          if (a == b || (std::isnan(a) && std::isnan(b))) continue;
          throw Failure(series.files[st.file]->path() + " and " + series.files[twin.file]->path() +
                        " both hold the step of " + date_text(f.time_units().calendar, st.instant) +
                        " with different values (at latitude " +
                        number(ref->cell_lat()[s.cells[c].i * f.columns() + s.cells[c].j]) +
                        ", longitude " +
                        number(ref->cell_lon()[s.cells[c].i * f.columns() + s.cells[c].j]) + ": " +
                        brief(a) + " and " + brief(b) + ")");
        }
      }
      check(step, k);
      for (std::size_t p = 0; p < np; ++p) {
        const Point& pt = s.points[p];
        double v = step[at[pt.first]];
        if (pt.n > 1) {
          double cells = 0, with_value = 0;
          for (std::size_t c = pt.first; c < pt.first + pt.n; ++c)
            if (!std::isnan(step[at[c]])) cells += step[at[c]], ++with_value;
          v = with_value > 0 ? cells / with_value : std::nan("");
        }
        sum[p] += v;
      }
    }
    for (std::size_t p = 0; p < np; ++p) {
      double mean = sum[p] / static_cast<double>(ts.size());
      std::int32_t& v = milli[y * np + p];
      if (std::isnan(mean)) {
        v = kMissing;
        kept[p] = 0;
      } else {
        double m = std::nearbyint(mean * 1000);
        v = m >= -99999999 && m <= 999999999 ? static_cast<std::int32_t>(m) : kTooWide;
      }
    }
  }
  for (const std::string& w : {below_zero.warning(), off_range.warning()})
    if (!w.empty()) r.warnings.push_back(w);
  // Nearly all values of kelvin's range under a Celsius label.
  if (f.scale() == Scale::kCelsius && values > 0 && kelvin_like * 10 >= values * 9)
    throw Failure(f.name() + " is labelled \"" + f.units() + "\", but " +
                  std::to_string(kelvin_like * 100 / values) +
                  " % of its values in the region lie between 170 and 350, as temperatures in "
                  "kelvin do: its units look like kelvin (give --units K if they are)");
  std::vector<double> kept_lon;
  for (std::size_t p = 0; p < np; ++p) {
    if (!kept[p]) continue;
    ++r.kept;
    kept_lon.push_back(s.points[p].lon);
    for (std::size_t y = 0; y < steps.size(); ++y)
      if (milli[y * np + p] == kTooWide)
        throw Failure(
            "the " + std::to_string(r.first_year + static_cast<int>(y)) + " value at latitude " +
            number(s.points[p].lat) + ", longitude " + number(s.points[p].lon) +
            " does not fit the 10 columns of brix_eli's value field (-99999.999 to 999999.999)");
  }
  r.left_out = static_cast<int>(np) - r.kept;
  if (r.kept == 0)
    throw Failure("no grid point of the region has a value at every time step from " +
                  std::to_string(r.first_year) + " to " + std::to_string(r.last_year));
  if (r.kept > kMaxPoints) throw Failure(too_many(f, o, r));
  r.dateline = crosses_dateline(kept_lon);

  r.times.averaging = thread_seconds() - loop_began - reading;
  r.times.reading = reading;
  for (const auto& file : series.files) {
    r.times.decoding += file->chunk_times().decoding;
    r.times.reading_chunks += file->chunk_times().reading;
    r.direct |= file->direct();
  }
  const double writing_began = thread_seconds();
  Staged xy(o.xy), recon(o.recon);
  for (std::size_t p = 0; p < np; ++p)
    if (kept[p])
      xy.write(number(static_cast<float>(s.points[p].lat)) + " " +
               number(static_cast<float>(s.points[p].lon)) + "\n");
  std::string title = r.title.empty() ? "" : " (" + r.title + ")";
  std::string source = base_name(r.files.front().path);
  if (r.files.size() > 1)
    source += " to " + base_name(r.files.back().path) + " (" +
              count(static_cast<long long>(r.files.size()), "file") + ")";
  recon.write(source + title + ": " + r.variable + ", mean of " + months_text(o.months) +
              ", latitudes " + range_text(o.lat) + ", longitudes " +
              (o.lon ? range_text(*o.lon) : "all") +
              (o.coarsen > 1
                   ? ", blocks of " + std::to_string(o.coarsen) + " by " + std::to_string(o.coarsen)
                   : "") +
              "\n");
  std::vector<char> line(input::year_line_length(r.kept) + 1);
  std::vector<std::int32_t> row;
  row.reserve(static_cast<std::size_t>(r.kept));
  for (std::size_t y = 0; y < steps.size(); ++y) {
    row.clear();
    for (std::size_t p = 0; p < np; ++p)
      if (kept[p]) row.push_back(milli[y * np + p]);
    recon.write(line.data(), records::put_fixed_line(
                                 line.data(), input::kYearWidth, r.first_year + static_cast<int>(y),
                                 input::kValueWidth, input::kValueDecimals, row));
  }
  xy.close();
  recon.close();
  xy.publish(o.force);
  try {
    recon.publish(o.force);
  } catch (const Failure&) {
    if (!o.force) xy.withdraw();
    throw;
  }
  r.times.writing = thread_seconds() - writing_began;
  return r;
}

std::string describe(const Options& o, const Report& r) {
  std::string name = r.files.front().path;
  if (r.files.size() > 1)
    name = count(static_cast<long long>(r.files.size()), "file") + ", " + name + " to " +
           r.files.back().path;
  std::string s = "brix_import: " + name + (r.title.empty() ? "" : " (" + r.title + ")") + "\n";
  auto row = [&s](const char* what, const std::string& text) {
    char label[24];
    std::snprintf(label, sizeof label, "  %-13s", what);
    s += label + text + "\n";
  };
  if (r.files.size() > 1) {
    row("files", count(static_cast<long long>(r.files.size()), "file") + ", in time order:");
    for (const FileSpan& f : r.files)
      s += "                 " + f.path + ": " +
           (f.steps == 0
                ? "no time step with a valid time"
                : count(static_cast<long long>(f.steps), "time step") + ", " + year_month(f.first) +
                      (f.last == f.first ? "" : " to " + year_month(f.last))) +
           (f.used ? "" : ", none used") + "\n";
  }
  for (const std::string& twin : r.twins) row("repeated", twin);
  std::string units = r.units.empty() ? "" : ", units " + r.units;
  if (!o.units.empty())
    units += r.file_units.empty() ? " (given with --units; the file has none)"
                                  : " (given with --units; the file says \"" + r.file_units + "\")";
  row("variable", r.variable + units);
  std::string grid;
  long long rows = static_cast<long long>(r.grid_rows),
            columns = static_cast<long long>(r.grid_columns);
  switch (r.kind) {
    case GridKind::kRectilinear:
      grid = "rectilinear, " + count(rows, "row") + " by " + count(columns, "column");
      break;
    case GridKind::kRotated:
      grid = "rotated pole, " + count(rows, "row") + " by " + count(columns, "column");
      break;
    case GridKind::kCurvilinear:
      grid = "curvilinear, " + count(rows, "row") + " by " + count(columns, "column");
      break;
    case GridKind::kUnstructured:
      grid = "unstructured, " + count(columns, "cell");
      break;
  }
  row("grid", grid + " (" + r.grid_dims + "), " +
                  count(static_cast<long long>(r.n_time), "time step") + " from " +
                  year_month(r.first_step) + " to " + year_month(r.last_step) + " (calendar " +
                  r.calendar + ")");
  row("time", r.placement);
  std::string region = "latitudes " + range_text(o.lat) + ", longitudes " +
                       (o.lon ? range_text(*o.lon) : "all") + ": " + count(r.cells, "cell");
  if (r.kind == GridKind::kRectilinear)
    region += " (" + count(r.rows, "latitude") + " by " + count(r.columns, "longitude") + ")";
  if (r.repeated > 0)
    region += "; " + std::to_string(r.repeated) +
              " at the position of another (a longitude stored twice, such as 0 "
              "and 360) dropped";
  if (o.coarsen > 1)
    region += "; blocks of " + std::to_string(o.coarsen) + " by " + std::to_string(o.coarsen) +
              ": " + count(r.points, "point");
  row("region", region);
  row("grid points",
      std::to_string(r.kept) + " written, " + std::to_string(r.left_out) +
          " left out for lack of a value at some time step used (land, sea ice, gaps)");
  std::string incomplete;
  for (int y : r.incomplete) incomplete += (incomplete.empty() ? "" : ", ") + std::to_string(y);
  row("years", std::to_string(r.first_year) + " to " + std::to_string(r.last_year) + " (" +
                   count(r.last_year - r.first_year + 1, "year") + "), each the mean of " +
                   months_text(o.months) +
                   (incomplete.empty() ? "" : "; left out for a missing month: " + incomplete) +
                   (r.years_note.empty() ? "" : "; " + r.years_note));
  row("wrote", o.xy + " and " + o.recon);
  s += "Answers for brix_eli, followed by a threshold (such as 28.5) and a spline period (such as "
       "10):\n";
  s += o.xy + "\n1\n" + (r.dateline ? "y" : "n") + "\n" + o.recon + "\n";
  return s;
}

}  // namespace brix::importer
