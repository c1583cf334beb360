#include "generate/generate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

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

// Options from "name=value ..." (generate/testdata/command_line.txt).
Options options_of(const std::string& assignments) {
  Options o;
  std::istringstream in(assignments);
  for (std::string a; in >> a;) {
    const std::string key = a.substr(0, a.find('='));
    std::istringstream values(a.substr(a.find('=') + 1));
    std::vector<double> v;
    for (std::string x; std::getline(values, x, ',');) v.push_back(std::strtod(x.c_str(), nullptr));
    if (key == "regular") o = regular(v[0], v[1], v[2], v[3], v[4]);
    double* real = key == "step" ? &o.step : key == "comma" ? &o.messy.comma
                 : key == "tabs" ? &o.messy.tabs : key == "blank" ? &o.messy.blank
                 : key == "bad"  ? &o.messy.bad : nullptr;
    int* whole = key == "years" ? &o.years : key == "first_year" ? &o.first_year
               : key == "points" ? &o.points : nullptr;
    if (real) *real = v[0];
    if (whole) *whole = static_cast<int>(v[0]);
    if (!real && !whole && key != "regular") ADD_FAILURE() << "no option " << key;
  }
  return o;
}

TEST(GenerateTest, OptionsAreRefusedJustBeyondEachLimit) {
  for (const auto& c : records::testing::cases("generate/testdata/command_line.txt", "check")) {
    const Options o = options_of(c[0]);
    const std::string why = check(o), says = c[1];
    if (says.empty()) {
      EXPECT_EQ(why, "") << c[0];
    } else {
      EXPECT_NE(why.find(says), std::string::npos)
          << c[0] << ": expected \"" << says << "\", got \"" << why << '"';
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

TEST(GenerateTest, RegularGridsInFileOrderInHundredths) {
  auto text = [](const std::vector<std::int32_t>& v) {
    std::string s;
    for (std::int32_t x : v) s.append(s.empty() ? "" : " ").append(std::to_string(x));
    return s;
  };
  for (const auto& c : records::testing::cases("generate/testdata/command_line.txt", "regular")) {
    const GridPoints g = grid_points(options_of(c[0]));
    EXPECT_EQ(text(g.lat) + "|" + text(g.lon), c[1] + "|" + c[2]) << c[0];
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

// The files written equal the data set made in memory; each messy feature
// at the full rate shows in every line of both files but the header; the
// values do not depend on the features.
TEST(GenerateTest, FilesEqualTheDataSetInMemory) {
  Options o = regular(-2, 2, 170, 190, 2);
  o.years = 6;
  const struct {
    double Messy::*feature;
    const char* every_line;  // holds one of these characters
  } cases[] = {{nullptr, ""}, {&Messy::crlf, "\r"}, {&Messy::tabs, "\t"}, {&Messy::comma, ","}};
  for (const auto& c : cases) {
    Options with = o;
    if (c.feature) with.messy.*c.feature = 1;
    const Dataset d = make(with);
    ASSERT_EQ(d.milli, make(o).milli) << c.every_line;
    records::testing::TempFile xy(""), recon("");
    Written w;
    ASSERT_EQ(write_files(with, xy.path(), recon.path(), &w), "");
    EXPECT_EQ(xy.read() + "|" + recon.read(), d.xy + "|" + d.recon) << c.every_line;
    EXPECT_EQ(w.xy_bytes + w.recon_bytes, d.xy.size() + d.recon.size()) << c.every_line;
    const std::string lines = d.xy + d.recon.substr(d.recon.find('\n') + 1);
    std::size_t count = 0, with_feature = 0;
    for (std::size_t at = 0, end; at < lines.size(); at = end + 1, ++count) {
      end = lines.find('\n', at);
      const char* shown = *c.every_line ? c.every_line : ",\t\r";  // clean: none of them
      with_feature += lines.substr(at, end - at).find_first_of(shown) != std::string::npos;
    }
    EXPECT_EQ(count, 33u + 6u) << c.every_line;  // one a pair and one a year
    EXPECT_EQ(with_feature, *c.every_line ? count : 0) << c.every_line;
  }
  o.messy = Messy::all();
  const Dataset messy = make(o);
  EXPECT_TRUE(messy.xy_extra_lines > 0 && messy.bad_lines > 0);
  o.messy = {};
  o.order = Order::kLonLat;
  EXPECT_EQ(make(o).xy.substr(0, 17), "  170.00   -2.00\n");
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
