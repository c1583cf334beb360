// The synthetic input generator: determinism, the fixed-field layout, the
// grids, realistic values, and messy features that keep the data's meaning.
#include "tools/generate.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace brix::gen {
namespace {

// Lines without their LF; a CR before it stays.
std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t lf = text.find('\n', start);
    if (lf == std::string::npos) lf = text.size();
    out.push_back(text.substr(start, lf - start));
    start = lf + 1;
  }
  return out;
}

// A line as the program's readers see it: CRs dropped, tabs expanded to the
// next stop of 8 columns.
std::string cleaned(const std::string& raw) {
  std::string out;
  for (char c : raw) {
    if (c == '\t') out.append(8 - out.size() % 8, ' ');
    else if (c != '\r') out.push_back(c);
  }
  return out;
}

// One "f10.3" field in thousandths: blanks ignored, empty reads 0, no point
// means three implied decimals. False for anything else.
bool field_milli(const std::string& field, std::int64_t& milli) {
  std::string t;
  for (char c : field)
    if (c != ' ') t.push_back(c);
  std::size_t i = 0;
  bool negative = !t.empty() && t[0] == '-';
  if (negative) ++i;
  std::int64_t whole = 0, fraction = 0;
  int fraction_digits = 0;
  bool point = false;
  for (; i < t.size(); ++i) {
    if (t[i] == '.' && !point) {
      point = true;
    } else if (t[i] >= '0' && t[i] <= '9') {
      if (point) {
        if (++fraction_digits > 3) return false;
        fraction = fraction * 10 + (t[i] - '0');
      } else {
        whole = whole * 10 + (t[i] - '0');
      }
    } else {
      return false;
    }
  }
  if (point) {
    while (fraction_digits++ < 3) fraction *= 10;
    milli = whole * 1000 + fraction;
  } else {
    milli = whole;
  }
  if (negative) milli = -milli;
  return true;
}

// Reads a reconstruction file by the file rules, independently of the
// program's own readers: header, then "(i5,nf10.3)" records; a comma ends a
// field early; an unreadable record is skipped.
struct Decoded {
  std::vector<std::int64_t> years;
  std::vector<std::int32_t> milli;
  int skipped = 0;
};
Decoded decode_recon(const std::string& text, int n) {
  Decoded d;
  std::vector<std::string> lines = split_lines(text);
  std::vector<std::int32_t> record(static_cast<std::size_t>(n));
  for (std::size_t l = 1; l < lines.size(); ++l) {
    std::string line = cleaned(lines[l]);
    std::size_t pos = 0;
    auto next = [&](std::size_t w) {
      std::string f = pos < line.size() ? line.substr(pos, w) : "";
      std::size_t comma = f.find(',');
      if (comma != std::string::npos) {
        f.resize(comma);
        pos += comma + 1;
      } else {
        pos += w;
      }
      return f;
    };
    std::int64_t year = 0;
    std::string year_field = next(5);
    bool ok = year_field.find('.') == std::string::npos && field_milli(year_field, year);
    for (int p = 0; ok && p < n; ++p) {
      std::int64_t m = 0;
      ok = field_milli(next(10), m);
      record[p] = static_cast<std::int32_t>(m);
    }
    if (!ok) {
      ++d.skipped;
      continue;
    }
    d.years.push_back(year);
    d.milli.insert(d.milli.end(), record.begin(), record.end());
  }
  return d;
}

// Reads a coordinate file as a stream of free-form numbers, skipping lines
// that hold anything but numbers, and pairs them up in hundredths.
std::vector<std::int32_t> decode_xy(const std::string& text) {
  std::vector<std::int32_t> values;
  for (const std::string& raw : split_lines(text)) {
    std::string line = cleaned(raw);
    std::replace(line.begin(), line.end(), ',', ' ');
    std::vector<std::int32_t> found;
    bool ok = true;
    std::size_t i = 0;
    while (ok && i < line.size()) {
      if (line[i] == ' ') {
        ++i;
        continue;
      }
      std::size_t end = line.find(' ', i);
      if (end == std::string::npos) end = line.size();
      std::int64_t milli = 0;
      std::string token = line.substr(i, end - i);
      ok = token.find('.') != std::string::npos && field_milli(token, milli);
      found.push_back(static_cast<std::int32_t>(milli / 10));
      i = end;
    }
    if (ok) values.insert(values.end(), found.begin(), found.end());
  }
  return values;
}

std::vector<std::int32_t> interleave(const GridPoints& g, Order order) {
  std::vector<std::int32_t> out;
  for (std::size_t p = 0; p < g.lat.size(); ++p) {
    out.push_back(order == Order::kLatLon ? g.lat[p] : g.lon[p]);
    out.push_back(order == Order::kLatLon ? g.lon[p] : g.lat[p]);
  }
  return out;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Options small(Grid grid, std::uint64_t seed) {
  Options o;
  o.grid = grid;
  o.points = 50;
  o.years = 20;
  o.seed = seed;
  o.lat_min = -6;
  o.lat_max = 6;
  return o;
}

TEST(GenerateTest, SameSeedSameBytesOtherSeedOtherBytes) {
  for (bool messy : {false, true}) {
    for (Grid grid : {Grid::kRandom, Grid::kRegular}) {
      Options o = small(grid, 42);
      if (messy) o.messy = Messy::all();
      Dataset a = make(o);
      Dataset b = make(o);
      EXPECT_EQ(a.xy, b.xy);
      EXPECT_EQ(a.recon, b.recon);
      o.seed = 43;
      Dataset c = make(o);
      EXPECT_NE(a.recon, c.recon);
      if (grid == Grid::kRandom) {
        EXPECT_NE(a.xy, c.xy);
      }

      // The file writer gives the bytes that make() returns.
      o.seed = 42;
      std::string dir = ::testing::TempDir();
      std::string xy = dir + "/gen_test_xy.txt", recon = dir + "/gen_test_recon.txt";
      Written w;
      ASSERT_EQ(write_files(o, xy, recon, &w), "");
      EXPECT_EQ(slurp(xy), a.xy);
      EXPECT_EQ(slurp(recon), a.recon);
      EXPECT_EQ(w.recon_bytes, a.recon.size());
      ::unlink(xy.c_str());
      ::unlink(recon.c_str());
    }
  }
}

TEST(GenerateTest, CleanRecordsAreFixedFields) {
  for (int points : {1, 7, 300}) {
    Options o;
    o.points = points;
    o.years = 12;
    o.first_year = 998;
    Dataset d = make(o);
    std::vector<std::string> lines = split_lines(d.recon);
    ASSERT_EQ(lines.size(), 13u);
    ASSERT_EQ(d.recon.find('\r'), std::string::npos);
    for (int y = 0; y < o.years; ++y) {
      const std::string& line = lines[1 + y];
      ASSERT_EQ(line.size(), 5u + 10u * points) << "points " << points << " year " << y;
      char expected[32];
      std::snprintf(expected, sizeof expected, "%5d", o.first_year + y);
      EXPECT_EQ(line.substr(0, 5), expected);
      for (int p = 0; p < points; ++p) {
        std::snprintf(expected, sizeof expected, "%10.3f",
                      d.milli[static_cast<std::size_t>(y) * points + p] / 1000.0);
        ASSERT_EQ(line.substr(5 + 10 * p, 10), expected) << "year " << y << " point " << p;
      }
    }
  }
}

TEST(GenerateTest, PutMilliMatchesPrintf) {
  const std::int32_t cases[] = {0,       1,        -1,        999,        -999,     1000,
                                -1000,   29512,    -29512,    12345678,   -9999999, 99999999,
                                -99999999, 999999999};
  for (std::int32_t v : cases) {
    char expected[32];
    std::snprintf(expected, sizeof expected, "%10.3f", v / 1000.0);
    char out[10];
    put_milli(out, v);
    EXPECT_EQ(std::string(out, 10), expected) << v;
  }
  char out[10];
  put_milli(out, -100000000);  // needs 11 characters
  EXPECT_EQ(std::string(out, 10), "**********");
}

TEST(GenerateTest, RegularGridAcrossTheDateline) {
  Options o;
  o.grid = Grid::kRegular;
  o.lat_min = -1;
  o.lat_max = 1;
  o.lon_min = 120;
  o.lon_max = 280;
  o.step = 2;
  o.years = 1;
  GridPoints g = grid_points(o);
  ASSERT_EQ(g.lat.size(), 2u * 81u);
  std::vector<std::int32_t> row;
  for (int lon = 120; lon <= 180; lon += 2) row.push_back(lon * 100);
  for (int lon = -178; lon <= -80; lon += 2) row.push_back(lon * 100);
  for (int i = 0; i < 2; ++i) {
    std::vector<std::int32_t> lat(g.lat.begin() + 81 * i, g.lat.begin() + 81 * (i + 1));
    std::vector<std::int32_t> lon(g.lon.begin() + 81 * i, g.lon.begin() + 81 * (i + 1));
    EXPECT_EQ(lon, row);
    EXPECT_EQ(std::set<std::int32_t>(lat.begin(), lat.end()),
              std::set<std::int32_t>{i == 0 ? -100 : 100});
  }

  for (Order order : {Order::kLatLon, Order::kLonLat}) {
    o.order = order;
    Dataset d = make(o);
    std::vector<std::string> lines = split_lines(d.xy);
    ASSERT_EQ(lines.size(), 162u);
    EXPECT_EQ(lines[31], order == Order::kLatLon ? "   -1.00 -178.00" : " -178.00   -1.00");
    EXPECT_EQ(decode_xy(d.xy), interleave(g, order));
  }

  // A range that does not reach 180 is written as given.
  o.lon_min = -60;
  o.lon_max = 60;
  o.step = 30;
  g = grid_points(o);
  EXPECT_EQ(std::vector<std::int32_t>(g.lon.begin(), g.lon.begin() + 5),
            (std::vector<std::int32_t>{-6000, -3000, 0, 3000, 6000}));
}

TEST(GenerateTest, RandomGridHoldsTheBandEdges) {
  Options o;
  o.points = 2000;
  GridPoints g = grid_points(o);
  ASSERT_EQ(g.lat.size(), 2000u);
  std::set<std::int32_t> lats(g.lat.begin(), g.lat.end());
  for (std::int32_t edge : {500, -500, 550, -600, 0}) EXPECT_TRUE(lats.count(edge)) << edge;
  EXPECT_GE(*lats.begin(), -2000);
  EXPECT_LE(*lats.rbegin(), 2000);
  auto [lo, hi] = std::minmax_element(g.lon.begin(), g.lon.end());
  EXPECT_GE(*lo, -18000);
  EXPECT_LE(*hi, 18000);
  EXPECT_LT(*lo, -9000);  // both sides of the dateline are present
  EXPECT_GT(*hi, 9000);
}

TEST(GenerateTest, ValuesFormAWanderingWarmPool) {
  Options o;
  o.grid = Grid::kRegular;  // 15S-15N, 120E-80W, 2 degrees
  o.years = 60;
  Dataset d = make(o);
  const int n = d.points;
  std::vector<int> warmest_lon;
  double band_sum = 0, edge_sum = 0;
  int band_n = 0, edge_n = 0;
  for (int y = 0; y < o.years; ++y) {
    std::int32_t best = -1;
    int best_lon = 0;
    for (int p = 0; p < n; ++p) {
      std::int32_t v = d.milli[static_cast<std::size_t>(y) * n + p];
      ASSERT_GE(v, 21000);
      ASSERT_LE(v, 32500);
      std::int32_t lat = d.grid.lat[p];
      if (lat >= -500 && lat <= 500) {
        band_sum += v;
        ++band_n;
        if (v > best) {
          best = v;
          best_lon = d.grid.lon[p] < 0 ? d.grid.lon[p] + 36000 : d.grid.lon[p];
        }
      } else if (lat == 1500 || lat == -1500) {
        edge_sum += v;
        ++edge_n;
      }
    }
    EXPECT_GE(best, 29000) << "year " << y;
    EXPECT_LE(best, 31500) << "year " << y;
    warmest_lon.push_back(best_lon);
  }
  EXPECT_GT(band_sum / band_n - edge_sum / edge_n, 1000.0);  // cooler away from the equator
  int east = 0, west = 0;
  for (std::size_t y = 1; y < warmest_lon.size(); ++y) {
    east += warmest_lon[y] > warmest_lon[y - 1];
    west += warmest_lon[y] < warmest_lon[y - 1];
  }
  EXPECT_GE(east, 10);
  EXPECT_GE(west, 10);
  auto [lo, hi] = std::minmax_element(warmest_lon.begin(), warmest_lon.end());
  EXPECT_GE(*hi - *lo, 3000);
}

// Each messy feature on its own: the files show it, and reading them by the
// file rules still gives the generator's values and grid.
TEST(GenerateTest, MessyFeaturesKeepTheData) {
  struct Case {
    const char* name;
    double Messy::*feature;
    bool (*shows)(const std::string& line, int n);  // true for a line with the feature
    bool in_xy;                                     // the coordinate file shows it too
  };
  const Case cases[] = {
      {"comma", &Messy::comma,
       [](const std::string& l, int) { return l.find(',') != std::string::npos; }, true},
      {"shorter", &Messy::shorter,
       [](const std::string& l, int n) {
         return l.find(',') == std::string::npos && l.size() < 5u + 10u * n;
       }, true},
      {"implied", &Messy::implied,
       [](const std::string& l, int n) {
         for (int p = 0; p < n && 15u + 10u * p <= l.size(); ++p) {
           std::string f = l.substr(5 + 10 * p, 10);
           if (f.find('.') == std::string::npos && f.find_first_of("0123456789") != std::string::npos)
             return true;
         }
         return false;
       }, false},
      {"blank", &Messy::blank,
       [](const std::string& l, int n) {
         for (int p = 0; p < n && 15u + 10u * p <= l.size(); ++p)
           if (l.compare(5 + 10 * p, 10, "          ") == 0) return true;
         return l.empty();
       }, true},
      {"bad", &Messy::bad,
       [](const std::string& l, int) { return l.find_first_of("abcdefghijklmnopqrstuvwxyz#-") == 0 ||
                                              l.find('x') != std::string::npos; }, true},
      {"tabs", &Messy::tabs,
       [](const std::string& l, int) { return l.find('\t') != std::string::npos; }, true},
      {"crlf", &Messy::crlf,
       [](const std::string& l, int) { return !l.empty() && l.back() == '\r'; }, true},
  };
  Options clean_options = small(Grid::kRandom, 9);
  clean_options.points = 40;
  clean_options.years = 40;
  Dataset clean = make(clean_options);
  for (const Case& c : cases) {
    Options o = clean_options;
    o.messy.*c.feature = 0.5;
    Dataset d = make(o);
    const int n = d.points;

    int recon_showing = 0, xy_showing = 0;
    std::vector<std::string> lines = split_lines(d.recon);
    for (std::size_t l = 1; l < lines.size(); ++l) recon_showing += c.shows(lines[l], n);
    for (const std::string& l : split_lines(d.xy)) xy_showing += c.shows(l, 1);
    EXPECT_GE(recon_showing, 5) << c.name;
    if (c.in_xy) {
      EXPECT_GE(xy_showing, 5) << c.name;
    }

    Decoded r = decode_recon(d.recon, n);
    EXPECT_EQ(r.skipped, d.bad_lines) << c.name;
    ASSERT_EQ(r.years.size(), static_cast<std::size_t>(o.years)) << c.name;
    for (int y = 0; y < o.years; ++y) EXPECT_EQ(r.years[y], o.first_year + y) << c.name;
    EXPECT_EQ(r.milli, d.milli) << c.name;
    EXPECT_EQ(decode_xy(d.xy), interleave(d.grid, o.order)) << c.name;

    // The values themselves do not change; blank and missing fields read 0.
    int zeros = 0;
    ASSERT_EQ(d.milli.size(), clean.milli.size());
    for (std::size_t i = 0; i < d.milli.size(); ++i) {
      if (d.milli[i] == 0) ++zeros;
      else EXPECT_EQ(d.milli[i], clean.milli[i]) << c.name << " value " << i;
    }
    bool loses_values = c.feature == &Messy::blank || c.feature == &Messy::shorter;
    EXPECT_EQ(zeros > 0, loses_values) << c.name;
  }
}

TEST(GenerateTest, RefusesWhatCannotBeWritten) {
  Options o;
  EXPECT_EQ(check(o), "");
  const struct {
    const char* name;
    void (*change)(Options&);
  } cases[] = {
      {"no points", [](Options& o) { o.points = 0; }},
      {"negative years", [](Options& o) { o.years = -1; }},
      {"year beyond 5 columns", [](Options& o) { o.first_year = 99990; }},
      {"zero step", [](Options& o) { o.grid = Grid::kRegular; o.step = 0; }},
      {"longitudes backwards", [](Options& o) { o.grid = Grid::kRegular; o.lon_max = 100; }},
      {"a whole circle", [](Options& o) { o.grid = Grid::kRegular; o.lon_min = 0; o.lon_max = 360; }},
      {"fraction above 1", [](Options& o) { o.messy.tabs = 1.5; }},
  };
  for (const auto& c : cases) {
    Options bad;
    c.change(bad);
    EXPECT_NE(check(bad), "") << c.name;
    EXPECT_THROW(grid_points(bad), std::invalid_argument) << c.name;
  }
}

}  // namespace
}  // namespace brix::gen
