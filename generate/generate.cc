#include "generate/generate.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "records/band.h"
#include "records/fixed.h"
#include "records/year_layout.h"

namespace brix::gen {
namespace {

// ---------------------------------------------------------------- randomness

// splitmix64: one 64-bit state, a fixed sequence of integer operations, so
// every machine draws the same numbers.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1), 53 bits.
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  // Uniform integer in [0, n), n > 0; the tiny modulo bias does not matter.
  int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
  bool chance(double p) { return p > 0 && uniform() < p; }
  // Roughly normal with mean 0 and deviation 1: the sum of four 16-bit
  // uniforms from one draw, centred and scaled (Irwin-Hall).
  double noise() {
    std::uint64_t z = next();
    double s = 0;
    for (int i = 0; i < 4; ++i) s += static_cast<double>((z >> (16 * i)) & 0xFFFF);
    return (s * (1.0 / 65536.0) - 2.0) * 1.7320508075688772;
  }

 private:
  std::uint64_t state_;
};

// Independent streams for the grid, the values and the messy features, so
// that turning a feature on does not change the values.
std::uint64_t stream(std::uint64_t seed, std::uint64_t which) {
  Rng r(seed ^ (which * 0xD1B54A32D192ED03ULL));
  r.next();
  return r.next();
}

// ---------------------------------------------------------------- output

class Sink {
 public:
  virtual ~Sink() = default;
  virtual void write(const char* data, std::size_t size) = 0;
  std::uint64_t bytes = 0;
};

class StringSink : public Sink {
 public:
  explicit StringSink(std::string& out) : out_(out) {}
  void write(const char* data, std::size_t size) override {
    out_.append(data, size);
    bytes += size;
  }

 private:
  std::string& out_;
};

class FileSink : public Sink {
 public:
  explicit FileSink(std::FILE* f) : f_(f) {
    std::setvbuf(f_, nullptr, _IOFBF, std::size_t{1} << 20);
  }
  void write(const char* data, std::size_t size) override {
    if (std::fwrite(data, 1, size, f_) != size) failed = true;
    bytes += size;
  }
  bool failed = false;

 private:
  std::FILE* f_;
};

// Hundredths of a degree as "-5.00", "120.00".
std::size_t put_centi(char* out, std::int32_t v) { return records::put_fixed(out, v, 2); }

// Replaces each run of blanks that ends at a tab stop (every 8 columns) by
// one tab, as unexpand does; expanding the tabs again gives the line back.
void insert_tabs(std::string& line) {
  std::string out;
  out.reserve(line.size());
  std::size_t block = 0;
  for (; block + 8 <= line.size(); block += 8) {
    std::size_t end = block + 8;
    std::size_t a = end;
    while (a > block && line[a - 1] == ' ') --a;
    out.append(line, block, a - block);
    if (end - a >= 2) out.push_back('\t');
    else out.append(end - a, ' ');
  }
  out.append(line, block, std::string::npos);
  line.swap(out);
}

std::int32_t to_centi(double degrees) {
  return static_cast<std::int32_t>(std::llround(degrees * 100.0));
}

// Number of grid lines from lo to hi inclusive, step apart.
int grid_count(double lo, double hi, double step) {
  return static_cast<int>(std::floor((hi - lo) / step + 1e-9)) + 1;
}

using records::kValueDecimals;
using records::kValueWidth;
using records::kYearMax;
using records::kYearMin;
using records::kYearWidth;
using records::year_line_length;

// Values one digit short of what a value field holds: each stays within
// kValueWidth - 1 characters.
constexpr std::int32_t kMilliMin = records::kValueMinThousandths / 10;
constexpr std::int32_t kMilliMax = records::kValueMaxThousandths / 10;

// ---------------------------------------------------------------- the data

class Generator {
 public:
  explicit Generator(const Options& o) : o_(o), grid_(grid_points(o)) {
    n_ = static_cast<int>(grid_.lat.size());
    lon360_.resize(n_);
    base_.resize(n_);
    pool_lat_.resize(n_);
    for (int p = 0; p < n_; ++p) {
      double lat = grid_.lat[p] / 100.0;
      double lon = grid_.lon[p] / 100.0;
      lon360_[p] = lon < 0 ? lon + 360.0 : lon;
      // Cooler away from the equator: 26 on it, 24 at 20 degrees, levelling
      // off at high latitudes.
      double q = (lat / 20.0) * (lat / 20.0);
      base_[p] = 26.0 - 2.2 * q / (1.0 + 0.1 * q);
      pool_lat_[p] = 1.0 / (1.0 + (lat / 8.0) * (lat / 8.0));
    }
  }

  const GridPoints& grid() const { return grid_; }
  int points() const { return n_; }

  void write_xy(Sink& sink, int& extra_lines) {
    Rng messy(stream(o_.seed, 3));
    const Messy& m = o_.messy;
    static const char* const kBad[] = {"lat lon", "# grid point", "-- --", "x y"};
    std::string line;
    char a[32], b[32];
    extra_lines = 0;
    for (int p = 0; p < n_; ++p) {
      std::int32_t first = o_.order == Order::kLatLon ? grid_.lat[p] : grid_.lon[p];
      std::int32_t second = o_.order == Order::kLatLon ? grid_.lon[p] : grid_.lat[p];
      std::size_t na = put_centi(a, first);
      std::size_t nb = put_centi(b, second);
      // chance() draws nothing for a feature that is off: a clean file does
      // not depend on the messy stream at all.
      if (messy.chance(m.bad)) {
        put_line(sink, kBad[messy.below(4)], messy.chance(m.crlf));
        ++extra_lines;
      }
      if (messy.chance(m.blank)) {  // an empty line, passed over between pairs
        put_line(sink, "", messy.chance(m.crlf));
        ++extra_lines;
      }
      line.clear();
      bool split = false;
      if (messy.chance(m.comma)) {
        line.append(a, na).append(",").append(b, nb);
      } else if (messy.chance(m.shorter)) {
        split = true;  // the pair over two lines
        line.append(a, na);
      } else {
        line.append(8 - std::min<std::size_t>(na, 7), ' ').append(a, na);
        line.append(8 - std::min<std::size_t>(nb, 7), ' ').append(b, nb);
      }
      if (messy.chance(m.tabs)) {
        // A leading tab, and a tab in place of the blanks between the values.
        std::string tabbed = "\t";
        tabbed.append(a, na);
        if (!split) tabbed.append(line.find(',') != std::string::npos ? "," : "\t").append(b, nb);
        line.swap(tabbed);
      }
      put_line(sink, line, messy.chance(m.crlf));
      if (split) {
        put_line(sink, std::string_view(b, nb), messy.chance(m.crlf));
        ++extra_lines;
      }
    }
  }

  void write_recon(Sink& sink, std::vector<std::int32_t>* truth, int& bad_lines) {
    Rng values(stream(o_.seed, 2));
    Rng messy(stream(o_.seed, 4));
    const Messy& m = o_.messy;
    bad_lines = 0;

    std::string header = "Synthetic SST reconstruction: " + std::to_string(n_) + " points, " +
                         std::to_string(o_.years) + " years from " +
                         std::to_string(o_.first_year) + ", seed " + std::to_string(o_.seed);
    put_line(sink, header, messy.chance(m.crlf));

    std::vector<std::int32_t> row(static_cast<std::size_t>(n_));
    std::vector<char> fixed(year_line_length(n_) + 2);
    std::string line;
    std::vector<char> field_blank, field_implied;
    double centre = 165.0;
    for (int y = 0; y < o_.years; ++y) {
      // The pool's centre wanders east and west about 165 E (mean-reverting),
      // with a strength, a width and a basin-wide offset of its own each year.
      centre = 165.0 + 0.5 * (centre - 165.0) + 60.0 * (values.uniform() - 0.5);
      double amplitude = 3.4 + 0.8 * values.uniform();
      double width = 45.0 + 15.0 * values.uniform();
      double offset = 0.25 * values.noise();
      for (int p = 0; p < n_; ++p) {
        double d = lon360_[p] - centre;
        if (d < -180.0) d += 360.0;
        if (d >= 180.0) d -= 360.0;
        double w = 1.0 / (1.0 + (d / width) * (d / width));
        double v = base_[p] + amplitude * w * w * pool_lat_[p] + offset + 0.35 * values.noise();
        std::int64_t milli = std::llround(v * 1000.0);
        if (milli < kMilliMin) milli = kMilliMin;
        if (milli > kMilliMax) milli = kMilliMax;
        row[p] = static_cast<std::int32_t>(milli);
      }

      const int year = o_.first_year + y;
      if (!m.any()) {
        sink.write(fixed.data(), records::put_fixed_line(fixed.data(), kYearWidth, year,
                                                         kValueWidth, kValueDecimals, row));
        if (truth != nullptr) truth->insert(truth->end(), row.begin(), row.end());
        continue;
      }

      // Messy: decide every feature of this record, then write its lines.
      field_blank.assign(static_cast<std::size_t>(n_), 0);
      field_implied.assign(static_cast<std::size_t>(n_), 0);
      for (int p = 0; p < n_; ++p) {
        field_blank[p] = messy.chance(m.blank);
        field_implied[p] = !field_blank[p] && messy.chance(m.implied);
      }
      bool bad = messy.chance(m.bad);
      int bad_field = messy.below(n_);
      // A year one column short of the year field, so that the comma falls in it.
      bool comma = messy.chance(m.comma) && year >= kYearMin / 10 && year <= kYearMax / 10;
      int kept = n_;
      if (!comma && messy.chance(m.shorter)) kept = messy.below(n_);

      if (bad) {
        // An unreadable copy of the record before it: the reader skips it and
        // the record itself takes the slot.
        format_record(line, year, row, field_blank, field_implied, n_, false);
        line[year_line_length(bad_field) + kValueWidth - 1] = 'x';
        finish_line(sink, line, messy);
        ++bad_lines;
      }
      format_record(line, year, row, field_blank, field_implied, kept, comma);
      finish_line(sink, line, messy);
      if (truth != nullptr) {
        for (int p = 0; p < n_; ++p)
          truth->push_back(p < kept && !field_blank[p] ? row[p] : 0);
      }
    }
  }

 private:
  // One record's text: fixed columns, or comma-separated compact values.
  // Only the first `kept` values are written.
  void format_record(std::string& line, int year, const std::vector<std::int32_t>& row,
                     const std::vector<char>& blank, const std::vector<char>& implied,
                     int kept, bool comma) {
    char field[16];
    line.clear();
    if (comma) {
      line += std::to_string(year);  // the comma falls in the year field
      line += ',';
    } else {
      std::snprintf(field, sizeof field, "%*d", kYearWidth, year);
      line += field;
    }
    for (int p = 0; p < kept; ++p) {
      constexpr std::size_t w = kValueWidth;
      if (blank[p]) {
        std::memset(field, ' ', w);
      } else if (implied[p]) {
        std::string digits = std::to_string(row[p]);  // 29512 for 29.512
        std::memset(field, ' ', w - digits.size());
        std::memcpy(field + w - digits.size(), digits.data(), digits.size());
      } else {
        put_value(field, row[p]);
      }
      if (comma) {
        std::string_view v(field, w);
        while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
        line.append(v);
        if (p + 1 < kept) line += ',';
      } else {
        line.append(field, w);
      }
    }
  }

  // A value field of a year record, from thousandths.
  static void put_value(char* out, std::int32_t milli) {
    records::put_fixed_field(out, kValueWidth, kValueDecimals, milli);
  }

  void finish_line(Sink& sink, std::string& line, Rng& messy) {
    if (messy.chance(o_.messy.tabs)) insert_tabs(line);
    put_line(sink, line, messy.chance(o_.messy.crlf));
  }

  static void put_line(Sink& sink, std::string_view text, bool crlf) {
    sink.write(text.data(), text.size());
    if (crlf) sink.write("\r\n", 2);
    else sink.write("\n", 1);
  }

  const Options& o_;
  GridPoints grid_;
  int n_ = 0;
  std::vector<double> lon360_, base_, pool_lat_;
};

}  // namespace

// ---------------------------------------------------------------- public

Messy Messy::all() {
  Messy m;
  m.comma = 0.1;
  m.shorter = 0.05;
  m.implied = 0.02;
  m.blank = 0.01;
  m.bad = 0.05;
  m.tabs = 0.1;
  m.crlf = 0.3;
  return m;
}

bool Messy::any() const {
  return comma > 0 || shorter > 0 || implied > 0 || blank > 0 || bad > 0 || tabs > 0 ||
         crlf > 0;
}

std::string check(const Options& o) {
  if (o.years < 0) return "the number of years must not be negative";
  if (o.first_year < kYearMin ||
      (o.years > 0 && std::int64_t{o.first_year} + o.years - 1 > kYearMax))
    return "years must lie within " + std::to_string(kYearMin) + " to " + std::to_string(kYearMax) +
           " to fit " + std::to_string(kYearWidth) + " columns";
  for (double f : {o.messy.comma, o.messy.shorter, o.messy.implied, o.messy.blank,
                   o.messy.bad, o.messy.tabs, o.messy.crlf}) {
    if (!(f >= 0 && f <= 1)) return "messy fractions must lie within 0 to 1";
  }
  if (o.grid == Grid::kRandom) {
    if (o.points < 1 || o.points > 1000000) return "the random grid takes 1 to 1000000 points";
    return "";
  }
  if (!(o.step > 0)) return "the grid step must be positive";
  if (!(o.lat_min <= o.lat_max) || o.lat_min < -90 || o.lat_max > 90)
    return "latitudes must run upwards within -90 to 90";
  if (!(o.lon_min <= o.lon_max) || o.lon_max - o.lon_min >= 360 || o.lon_min < -180 ||
      o.lon_max > 540)
    return "longitudes must run upwards over less than 360 degrees, from -180 on";
  double cells = static_cast<double>(grid_count(o.lat_min, o.lat_max, o.step)) *
                 grid_count(o.lon_min, o.lon_max, o.step);
  if (cells > 1e6) return "the regular grid holds more than a million points";
  return "";
}

GridPoints grid_points(const Options& o) {
  if (std::string why = check(o); !why.empty()) throw std::invalid_argument(why);
  GridPoints g;
  if (o.grid == Grid::kRandom) {
    Rng r(stream(o.seed, 1));
    // The band's edges, points just outside them and the equator come first;
    // the rest lie anywhere in 20S-20N on a 0.5-degree lattice.
    constexpr auto north = static_cast<std::int32_t>(records::kBandNorth * 100.0f);
    constexpr auto south = static_cast<std::int32_t>(records::kBandSouth * 100.0f);
    static const std::int32_t kEdges[] = {north, south, north + 50, south - 100, 0};
    for (int p = 0; p < o.points; ++p) {
      std::int32_t lat = p < 5 ? kEdges[p] : -2000 + 50 * r.below(81);
      std::int32_t lon = 50 * r.below(720);  // 0 to 359.5 east
      if (lon > 18000) lon -= 36000;
      g.lat.push_back(lat);
      g.lon.push_back(lon);
    }
    return g;
  }
  const int n_lat = grid_count(o.lat_min, o.lat_max, o.step);
  const int n_lon = grid_count(o.lon_min, o.lon_max, o.step);
  for (int i = 0; i < n_lat; ++i) {
    std::int32_t lat = to_centi(o.lat_min + i * o.step);
    for (int j = 0; j < n_lon; ++j) {
      std::int32_t lon = to_centi(o.lon_min + j * o.step);
      while (lon > 18000) lon -= 36000;  // 182 E is written as -178
      while (lon < -18000) lon += 36000;
      g.lat.push_back(lat);
      g.lon.push_back(lon);
    }
  }
  return g;
}

Dataset make(const Options& o) {
  Generator gen(o);
  Dataset d;
  d.grid = gen.grid();
  d.points = gen.points();
  d.years = o.years;
  StringSink xy(d.xy);
  gen.write_xy(xy, d.xy_extra_lines);
  StringSink recon(d.recon);
  d.milli.reserve(static_cast<std::size_t>(d.points) * static_cast<std::size_t>(o.years));
  gen.write_recon(recon, &d.milli, d.bad_lines);
  return d;
}

std::string write_files(const Options& o, const std::string& xy_path,
                        const std::string& recon_path, Written* written) {
  if (std::string why = check(o); !why.empty()) return why;
  Generator gen(o);
  auto write_one = [&](const std::string& path, auto body, std::uint64_t& bytes) -> std::string {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return "cannot create " + path + ": " + std::strerror(errno);
    FileSink sink(f);
    body(sink);
    bytes = sink.bytes;
    bool failed = sink.failed || std::ferror(f) != 0;
    if (std::fclose(f) != 0) failed = true;
    if (failed) return "cannot write " + path + ": " + std::strerror(errno);
    return "";
  };
  Written w;
  int ignored = 0;
  std::string why = write_one(xy_path, [&](Sink& s) { gen.write_xy(s, ignored); }, w.xy_bytes);
  if (!why.empty()) return why;
  why = write_one(recon_path, [&](Sink& s) { gen.write_recon(s, nullptr, ignored); },
                  w.recon_bytes);
  if (!why.empty()) return why;
  if (written != nullptr) *written = w;
  return "";
}

}  // namespace brix::gen
