#include "generate/generate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>
#include <string>

#include "records/test_util.h"

namespace brix::gen {
namespace {

Options regular(double lat_min, double lat_max, double lon_min, double lon_max, double step) {
  Options o;
  o.grid = Grid::kRegular;
  o.lat_min = lat_min, o.lat_max = lat_max, o.lon_min = lon_min, o.lon_max = lon_max;
  o.step = step;
  return o;
}

// Each limit of the options on both of its sides: "" where the options can be
// generated, else a piece of the reason given.
TEST(GenerateTest, OptionsAreRefusedJustBeyondEachLimit) {
  const double nan = std::nan("");
  const struct {
    std::function<void(Options&)> set;
    const char* says;
  } cases[] = {
      {[](Options& o) { o.years = 0; }, ""},
      {[](Options& o) { o.years = -1; }, "must not be negative"},
      {[](Options& o) { o.first_year = -9999; }, ""},
      {[](Options& o) { o.first_year = -10000; }, "years must lie within -9999 to 99999"},
      {[](Options& o) { o.first_year = 99900, o.years = 100; }, ""},
      {[](Options& o) { o.first_year = 99900, o.years = 101; }, "years must lie"},
      {[](Options& o) { o.first_year = 100001, o.years = 0; }, ""},  // no year to write
      {[](Options& o) { o.messy.comma = 1; }, ""},
      {[](Options& o) { o.messy.tabs = 1.001; }, "messy fractions"},
      {[](Options& o) { o.messy.blank = -0.001; }, "messy fractions"},
      {[&](Options& o) { o.messy.bad = nan; }, "messy fractions"},
      {[](Options& o) { o.points = 1; }, ""},
      {[](Options& o) { o.points = 0; }, "1 to 1000000 points"},
      {[](Options& o) { o.points = 1000000; }, ""},
      {[](Options& o) { o.points = 1000001; }, "1 to 1000000 points"},
      {[](Options& o) { o.step = 0; }, ""},  // the random grid has no step
      {[](Options& o) { o = regular(-5, 5, 0, 10, 0); }, "step must be positive"},
      {[&](Options& o) { o = regular(-5, 5, 0, 10, nan); }, "step must be positive"},
      {[](Options& o) { o = regular(-90, 90, 0, 10, 1); }, ""},
      {[](Options& o) { o = regular(-90.01, 0, 0, 10, 1); }, "latitudes must run upwards"},
      {[](Options& o) { o = regular(0, 90.01, 0, 10, 1); }, "latitudes must run upwards"},
      {[](Options& o) { o = regular(3, 3, 0, 10, 1); }, ""},
      {[](Options& o) { o = regular(3, 2.99, 0, 10, 1); }, "latitudes must run upwards"},
      {[](Options& o) { o = regular(0, 0, -180, 179.99, 1); }, ""},
      {[](Options& o) { o = regular(0, 0, -180, 180, 1); }, "over less than 360 degrees"},
      {[](Options& o) { o = regular(0, 0, -180.01, 0, 1); }, "from -180 on"},
      {[](Options& o) { o = regular(0, 0, 200, 540, 1); }, ""},
      {[](Options& o) { o = regular(0, 0, 200, 540.01, 1); }, "longitudes must run upwards"},
      {[](Options& o) { o = regular(0, 0, 10, 9.99, 1); }, "longitudes must run upwards"},
      // 1000 by 1000 points, and one row more (eighths of a degree add exactly).
      {[](Options& o) { o = regular(-62.4375, 62.4375, 0, 124.875, 0.125); }, ""},
      {[](Options& o) { o = regular(-62.4375, 62.5625, 0, 124.875, 0.125); },
       "more than a million"},
  };
  for (const auto& c : cases) {
    Options o;
    c.set(o);
    const std::string why = check(o);
    if (*c.says == '\0') {
      EXPECT_EQ(why, "") << c.says;
    } else {
      EXPECT_NE(why.find(c.says), std::string::npos)
          << "expected \"" << c.says << "\", got \"" << why << '"';
    }
    if (why.empty()) continue;
    EXPECT_THROW(grid_points(o), std::invalid_argument) << why;
    EXPECT_EQ(write_files(o, "/nonexistent/xy", "/nonexistent/recon"), why);
  }
  // A device that takes no bytes: the few written stay in the stream's
  // buffer until the close, which is where the failure shows.
  Options small = regular(-2, 2, 0, 2, 2);
  small.years = 1;
  records::testing::TempFile recon("");
  EXPECT_EQ(write_files(small, "/dev/full", recon.path()),
            "cannot write /dev/full: No space left on device");
  EXPECT_EQ(write_files(small, recon.path(), "/dev/full"),
            "cannot write /dev/full: No space left on device");
}

// Regular grids: rows of latitude from the south, longitudes eastwards within
// each, written from -180 to 180.
TEST(GenerateTest, RegularGridsInFileOrderInHundredths) {
  const struct {
    Options o;
    std::vector<std::int32_t> lat, lon;
  } cases[] = {
      {regular(-1, 1, 10, 12, 1),
       {-100, -100, -100, 0, 0, 0, 100, 100, 100},
       {1000, 1100, 1200, 1000, 1100, 1200, 1000, 1100, 1200}},
      {regular(0, 0, 178, 183, 2.5), {0, 0, 0}, {17800, -17950, -17700}},  // 180.5 is -179.5
      {regular(0, 0, -180, -178, 1), {0, 0, 0}, {-18000, -17900, -17800}},
      {regular(0, 0, 350, 540, 95), {0, 0, 0}, {-1000, 8500, 18000}},  // 350, 445, 540 E
      {regular(-0.3, 0.3, 0, 0, 0.3), {-30, 0, 30}, {0, 0, 0}},        // 0.3 steps stay exact
  };
  for (const auto& c : cases) {
    const GridPoints g = grid_points(c.o);
    EXPECT_EQ(g.lat, c.lat) << c.o.lat_min << " to " << c.o.lat_max;
    EXPECT_EQ(g.lon, c.lon) << c.o.lon_min << " to " << c.o.lon_max;
  }
}

TEST(GenerateTest, RandomGridStartsAtTheBandsEdgesAndKeepsToItsLattice) {
  Options o;
  o.points = 3000;
  const GridPoints g = grid_points(o);
  ASSERT_EQ(g.lat.size(), 3000u);
  EXPECT_EQ(std::vector<std::int32_t>(g.lat.begin(), g.lat.begin() + 5),
            (std::vector<std::int32_t>{500, -500, 550, -600, 0}));
  std::set<std::int32_t> lats, lons;
  for (std::size_t p = 0; p < g.lat.size(); ++p) {
    ASSERT_TRUE(g.lat[p] % 50 == 0 && g.lat[p] >= -2000 && g.lat[p] <= 2000) << g.lat[p];
    ASSERT_TRUE(g.lon[p] % 50 == 0 && g.lon[p] > -18000 && g.lon[p] <= 18000) << g.lon[p];
    if (p >= 5) lats.insert(g.lat[p]);
    lons.insert(g.lon[p]);
  }
  // 3000 draws reach nearly all 81 latitudes and many of the 720 longitudes.
  EXPECT_GE(lats.size(), 78u);
  EXPECT_GE(lons.size(), 600u);
  EXPECT_TRUE(lons.count(18000) && lons.count(-17950));
  // Another seed, another grid beyond the edges; the same seed, the same.
  EXPECT_EQ(grid_points(o).lon, g.lon);
  o.seed = 2;
  EXPECT_NE(grid_points(o).lon, g.lon);
}

// The files written equal the data set made in memory, and each messy feature
// at the full rate shows in every line it applies to.
TEST(GenerateTest, FilesEqualTheDataSetInMemory) {
  Options o = regular(-2, 2, 170, 190, 2);
  o.years = 6;
  o.first_year = 1998;
  const auto lines_of = [](const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; at < text.size(); at = end + 1)
      lines.push_back(text.substr(at, (end = text.find('\n', at)) - at));
    return lines;
  };
  const struct {
    const char* name;
    std::function<void(Options&)> set;
    std::function<bool(const std::string&)> every_line;  // of both files but the header
  } cases[] = {
      {"clean", [](Options&) {},
       [](const std::string& l) { return l.find_first_of(",\t\r") == l.npos; }},
      {"crlf", [](Options& o) { o.messy.crlf = 1; },
       [](const std::string& l) { return l.back() == '\r'; }},
      {"tabs", [](Options& o) { o.messy.tabs = 1; },
       [](const std::string& l) { return l.find('\t') != l.npos; }},
      {"comma", [](Options& o) { o.messy.comma = 1; },
       [](const std::string& l) { return l.find(',') != l.npos && l.find(' ') == l.npos; }},
      {"lonlat", [](Options& o) { o.order = Order::kLonLat; },
       [](const std::string&) { return true; }},
      {"messy", [](Options& o) { o.messy = Messy::all(); },
       [](const std::string&) { return true; }},
  };
  for (const auto& c : cases) {
    Options with = o;
    c.set(with);
    const Dataset d = make(with);
    ASSERT_EQ(d.points, 33) << c.name;
    ASSERT_EQ(d.milli.size(), 33u * 6) << c.name;
    records::testing::TempFile xy(""), recon("");
    Written w;
    ASSERT_EQ(write_files(with, xy.path(), recon.path(), &w), "") << c.name;
    EXPECT_EQ(xy.read(), d.xy) << c.name;
    EXPECT_EQ(recon.read(), d.recon) << c.name;
    EXPECT_EQ(w.xy_bytes, d.xy.size()) << c.name;
    EXPECT_EQ(w.recon_bytes, d.recon.size()) << c.name;
    std::vector<std::string> xy_lines = lines_of(d.xy), recon_lines = lines_of(d.recon);
    // Lines beyond one a pair and one a year are the ones counted as added.
    EXPECT_EQ(xy_lines.size(), 33u + static_cast<unsigned>(d.xy_extra_lines)) << c.name;
    ASSERT_EQ(recon_lines.size(), 7u + static_cast<unsigned>(d.bad_lines)) << c.name;
    EXPECT_EQ(c.name == std::string("messy"), d.xy_extra_lines > 0 && d.bad_lines > 0) << c.name;
    EXPECT_NE(recon_lines[0].find("33 points, 6 years from 1998"), std::string::npos);
    for (std::size_t i = 1; i < recon_lines.size(); ++i)
      EXPECT_TRUE(c.every_line(recon_lines[i])) << c.name << ": " << recon_lines[i];
    for (const std::string& l : xy_lines) EXPECT_TRUE(c.every_line(l)) << c.name << ": " << l;
    if (c.name == std::string("clean")) {
      EXPECT_EQ(xy_lines[0], "   -2.00  170.00");
      EXPECT_EQ(recon_lines[1].substr(0, 5), " 1998");
      EXPECT_EQ(recon_lines[1].size(), 5u + 10 * 33);
    }
    if (c.name == std::string("lonlat")) {
      EXPECT_EQ(xy_lines[0], "  170.00   -2.00");
    }
    // The values do not depend on the features.
    EXPECT_EQ(d.milli, make(o).milli) << c.name;
  }
}

// brix_gen's command line (generate/testdata/command_line.txt): the exit
// status and a piece of what it says (or, run with a seed, the seed the
// reconstruction's header names).
TEST(BrixGenTest, CommandLine) {
  records::testing::TempFile xy(""), recon("");
  const std::string files = " --xy " + xy.path() + " --recon " + recon.path();
  for (const auto& c : records::testing::cases("generate/testdata/command_line.txt", "run")) {
    std::string out;
    EXPECT_EQ(records::testing::output_of(BRIX_GEN_PATH + files + " " + c[0] + " 2>&1", &out),
              std::stoi(c[1]))
        << c[0] << ": " << out;
    if (!c[2].empty()) {
      EXPECT_NE(out.find(c[2]), std::string::npos) << c[0] << ": " << out;
    } else {
      EXPECT_EQ(out.find("note"), std::string::npos) << c[0] << ": " << out;
    }
    if (c[0] == "--seed 19 --points 10 --years 2") {
      const std::string header = recon.read().substr(0, recon.read().find('\n'));
      EXPECT_NE(header.find(", seed 19"), std::string::npos) << header;
    }
  }
}

}  // namespace
}  // namespace brix::gen
