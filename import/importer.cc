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

#include "tools/generate.h"

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

std::string range_text(const Range& r) { return number(r.lo) + ":" + number(r.hi); }

std::string year_month(YearMonth ym) {
  char text[32];
  std::snprintf(text, sizeof text, "%d-%02d", ym.year, ym.month);
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
    int status = replace ? ::rename(temp_.c_str(), path_.c_str())
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

struct Selection {
  std::vector<std::size_t> rows, columns;  // indices of the region's latitudes and longitudes
};

Selection select_region(const Field& f, const Options& o) {
  Selection s;
  for (std::size_t i = 0; i < f.lat().size(); ++i)
    if (f.lat()[i] >= o.lat.lo && f.lat()[i] <= o.lat.hi) s.rows.push_back(i);
  for (std::size_t j = 0; j < f.lon().size(); ++j)
    if (!o.lon || on_arc(f.lon()[j], *o.lon)) s.columns.push_back(j);
  auto extent = [](const std::vector<double>& v) {
    auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    return v.empty() ? std::string("none") : number(*lo) + " to " + number(*hi);
  };
  if (s.rows.empty())
    throw Failure("no latitude of " + f.name() + " lies in " + range_text(o.lat) +
                  " (its latitudes: " + extent(f.lat()) + ")");
  if (s.columns.empty())
    throw Failure("no longitude of " + f.name() + " lies in " + range_text(*o.lon) +
                  " (its longitudes: " + extent(f.lon()) + ")");
  return s;
}

// The time steps of each year that fall in the listed months, for the years
// written; the report gets the years and the incomplete ones.
std::vector<std::vector<std::size_t>> select_years(const Field& f, const Options& o, Report& r) {
  std::map<int, std::vector<std::size_t>> steps;  // year -> its steps in the listed months
  std::map<int, std::array<bool, 13>> seen;       // year -> months with a step
  bool any = false;
  for (std::size_t t = 0; t < f.time().size(); ++t) {
    std::optional<YearMonth> ym = month_of(f.time_units(), f.time()[t]);
    if (!ym) continue;
    r.first_step = any ? std::min(r.first_step, *ym) : *ym;
    r.last_step = any ? std::max(r.last_step, *ym) : *ym;
    any = true;
    seen[ym->year][static_cast<std::size_t>(ym->month)] = true;
    if (o.months[static_cast<std::size_t>(ym->month)]) steps[ym->year].push_back(t);
  }
  auto complete = [&](int year) {
    auto it = seen.find(year);
    if (it == seen.end()) return false;
    for (int m = 1; m <= 12; ++m)
      if (o.months[static_cast<std::size_t>(m)] && !it->second[static_cast<std::size_t>(m)]) return false;
    return true;
  };
  std::string months = months_text(o.months);
  if (!any) throw Failure(f.name() + " has no time step with a valid time");
  long long a = o.years ? (*o.years)[0] : r.first_step.year;
  long long b = o.years ? (*o.years)[1] : r.last_step.year;
  std::vector<int> written;
  for (long long y = std::max<long long>(a, r.first_step.year); y <= std::min<long long>(b, r.last_step.year); ++y)
    (complete(static_cast<int>(y)) ? written : r.incomplete).push_back(static_cast<int>(y));
  if (written.empty())
    throw Failure("no complete year: no year " + (o.years ? "of " + std::to_string(a) + ":" + std::to_string(b) + " " : std::string()) +
                  "in " + f.name() + " (" + year_month(r.first_step) + " to " + year_month(r.last_step) +
                  ") has a time step in each of its " + months);
  r.first_year = written.front();
  r.last_year = written.back();
  for (int y : r.incomplete)
    if (y > r.first_year && y < r.last_year)
      throw Failure("year " + std::to_string(y) + " lacks a time step in some of its " + months +
                    ", and brix_eli needs years that follow each other: give --years to write only the "
                    "years before it or after it");
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
  Field f(o.input, o.var);
  Report r;
  r.variable = f.name();
  r.units = f.units();
  r.title = f.title();
  r.calendar = f.calendar_name();
  r.warnings = f.warnings();
  r.n_lat = f.lat().size();
  r.n_lon = f.lon().size();
  r.n_time = f.time().size();
  Selection s = select_region(f, o);
  r.rows = static_cast<int>(s.rows.size());
  r.columns = static_cast<int>(s.columns.size());
  std::vector<std::vector<std::size_t>> steps = select_years(f, o, r);

  // The region's points in the variable's storage order.
  struct Point {
    std::size_t i, j;
  };
  std::vector<Point> points;
  for (std::size_t a : f.lat_before_lon() ? s.rows : s.columns)
    for (std::size_t b : f.lat_before_lon() ? s.columns : s.rows)
      points.push_back(f.lat_before_lon() ? Point{a, b} : Point{b, a});

  // Yearly means in thousandths, year by year, from blocks that hold only the
  // region's rows and columns and the year's span of time steps.
  std::size_t i0 = s.rows.front(), ni = s.rows.back() - i0 + 1;
  std::size_t j0 = s.columns.front(), nj = s.columns.back() - j0 + 1;
  std::size_t np = points.size();
  std::vector<std::int32_t> milli(steps.size() * np);
  std::vector<double> block;
  std::vector<char> kept(np, 1);
  for (std::size_t y = 0; y < steps.size(); ++y) {
    const std::vector<std::size_t>& ts = steps[y];
    auto [lo, hi] = std::minmax_element(ts.begin(), ts.end());
    std::size_t t0 = *lo, nt = *hi - t0 + 1;
    f.read(t0, nt, i0, ni, j0, nj, block);
    for (std::size_t p = 0; p < np; ++p) {
      std::size_t at = (points[p].i - i0) * nj + (points[p].j - j0);
      double sum = 0;
      for (std::size_t t : ts) sum += block[(t - t0) * ni * nj + at];
      double mean = sum / static_cast<double>(ts.size());
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
  std::vector<double> kept_lon;
  for (std::size_t p = 0; p < np; ++p) {
    if (!kept[p]) continue;
    ++r.kept;
    kept_lon.push_back(f.lon()[points[p].j]);
    for (std::size_t y = 0; y < steps.size(); ++y)
      if (milli[y * np + p] == kTooWide)
        throw Failure("the " + std::to_string(r.first_year + static_cast<int>(y)) + " value at latitude " +
                      number(f.lat()[points[p].i]) + ", longitude " + number(f.lon()[points[p].j]) +
                      " does not fit the 10 columns of brix_eli's value field (-99999.999 to 999999.999)");
  }
  r.left_out = static_cast<int>(np) - r.kept;
  if (r.kept == 0)
    throw Failure("no grid point of the region has a value in every year from " + std::to_string(r.first_year) +
                  " to " + std::to_string(r.last_year));
  if (r.kept > kMaxPoints)
    throw Failure(std::to_string(r.kept) + " grid points to write, more than the " + std::to_string(kMaxPoints) +
                  " brix_eli takes: choose a narrower region with --lat or --lon (now " +
                  std::to_string(r.rows) + " latitudes by " + std::to_string(r.columns) + " longitudes)");
  r.dateline = crosses_dateline(kept_lon);

  Staged xy(o.xy), recon(o.recon);
  for (std::size_t p = 0; p < np; ++p)
    if (kept[p])
      xy.write(number(static_cast<float>(f.lat()[points[p].i])) + " " +
               number(static_cast<float>(f.lon()[points[p].j])) + "\n");
  std::string title = r.title.empty() ? "" : " (" + r.title + ")";
  recon.write(base_name(o.input) + title + ": " + r.variable + ", mean of " + months_text(o.months) +
              ", latitudes " + range_text(o.lat) + ", longitudes " + (o.lon ? range_text(*o.lon) : "all") +
              "\n");
  std::vector<char> line(5 + 10 * static_cast<std::size_t>(r.kept) + 1);
  for (std::size_t y = 0; y < steps.size(); ++y) {
    std::snprintf(line.data(), 6, "%5d", r.first_year + static_cast<int>(y));
    char* out = line.data() + 5;
    for (std::size_t p = 0; p < np; ++p) {
      if (!kept[p]) continue;
      gen::put_milli(out, milli[y * np + p]);
      out += 10;
    }
    *out = '\n';
    recon.write(line.data(), line.size());
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
  return r;
}

std::string describe(const Options& o, const Report& r) {
  std::string s = "brix_import: " + o.input + (r.title.empty() ? "" : " (" + r.title + ")") + "\n";
  auto row = [&s](const char* what, const std::string& text) {
    char label[24];
    std::snprintf(label, sizeof label, "  %-13s", what);
    s += label + text + "\n";
  };
  row("variable", r.variable + (r.units.empty() ? "" : ", units " + r.units));
  row("grid", std::to_string(r.n_lat) + " latitudes by " + std::to_string(r.n_lon) + " longitudes, " +
                  std::to_string(r.n_time) + " time steps from " + year_month(r.first_step) + " to " +
                  year_month(r.last_step) + " (calendar " + r.calendar + ")");
  row("region", "latitudes " + range_text(o.lat) + ", longitudes " + (o.lon ? range_text(*o.lon) : "all") +
                    ": " + std::to_string(r.rows) + " by " + std::to_string(r.columns) + ", " +
                    std::to_string(r.rows * r.columns) + " grid points");
  row("grid points", std::to_string(r.kept) + " written, " + std::to_string(r.left_out) +
                         " left out for lack of a value in every year (land, sea ice, gaps)");
  std::string incomplete;
  for (int y : r.incomplete) incomplete += (incomplete.empty() ? "" : ", ") + std::to_string(y);
  row("years", std::to_string(r.first_year) + " to " + std::to_string(r.last_year) + " (" +
                   std::to_string(r.last_year - r.first_year + 1) + "), each the mean of " + months_text(o.months) +
                   (incomplete.empty() ? "" : "; left out for a missing month: " + incomplete));
  row("wrote", o.xy + " and " + o.recon);
  s += "Answers for brix_eli, followed by a threshold (such as 28.5) and a spline period (such as 10):\n";
  s += o.xy + "\n1\n" + (r.dateline ? "y" : "n") + "\n" + o.recon + "\n";
  return s;
}

}  // namespace brix::importer
