// brix_import on small netCDF files made from CDL text with ncgen, and one
// run of brix_eli on what it wrote.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "import/importer.h"
#include "tests/e2e.h"

namespace brix::importer {
namespace {

// n numbers, value(k) for k = 0 .. n-1, separated by commas.
std::string list(int n, const std::function<double(int)>& value) {
  std::string s;
  char text[32];
  for (int k = 0; k < n; ++k) {
    std::snprintf(text, sizeof text, "%s%.9g", k ? ", " : "", value(k));
    s += text;
  }
  return s;
}

std::string f103(double v) {
  char text[16];
  std::snprintf(text, sizeof text, "%10.3f", v);
  return text;
}

// Packed shorts in kelvin with a fill value and a missing value, latitudes
// north to south (6 lies outside the band), longitudes 0..360, no calendar
// (so the standard one), 26 months from 1999-12: only 2000 and 2001 are
// complete. Point 5 (2N 90E) is land; point 11 (2S 270E) misses 2001-02.
std::string packed_cdl() {
  return R"(netcdf packed {
dimensions: time = UNLIMITED ; lat = 3 ; lon = 4 ;
variables:
  double time(time) ; time:units = "days since 1999-12-01 00:00:00" ;
  float lat(lat) ; lat:units = "degrees_north" ;
  float lon(lon) ; lon:standard_name = "longitude" ;
  short water_temp(time, lat, lon) ; water_temp:standard_name = "sea_surface_temperature" ;
    water_temp:units = "K" ; water_temp:scale_factor = 0.01f ; water_temp:add_offset = 273.15f ;
    water_temp:_FillValue = -32768s ; water_temp:missing_value = 32767s ;
data:
  lat = 6, 2, -2 ; lon = 0, 90, 180, 270 ;
  time = )" + list(26, [](int k) { return 15 + 30.44 * k; }) + R"( ;
  water_temp = )" + list(26 * 12, [](int n) {
           int k = n / 12, p = n % 12;
           return p == 5 ? -32768 : p == 11 && k == 14 ? 32767 : 2800 + 10 * p + k;
         }) + " ;\n}\n";
}
// The mean in degrees Celsius of point p in year 2000 + y.
double packed_mean(int p, int y) { return 28 + 0.1 * p + 0.01 * (6.5 + 12 * y); }

// Longitudes -180..180, latitudes south to north, a depth of one level, the
// noleap calendar, 1900 and 1901; 2S 170W holds a value beyond valid_range in
// one month.
std::string dateline_cdl() {
  return R"(netcdf dateline {
dimensions: time = 24 ; depth = 1 ; lat = 2 ; lon = 6 ;
variables:
  float time(time) ; time:units = "hours since 1900-01-01" ; time:calendar = "noleap" ;
  double depth(depth) ; depth:units = "m" ; depth:axis = "Z" ;
  double lat(lat) ; lat:axis = "Y" ;
  double lon(lon) ; lon:units = "degrees_east" ;
  float tos(time, depth, lat, lon) ; tos:units = "degC" ; tos:_FillValue = 1e20f ;
    tos:valid_range = -2.f, 40.f ;
data:
  depth = 5 ; lat = -1, 1 ; lon = -170, -150, -90, 0, 150, 170 ;
  time = )" + list(24, [](int k) { return 24 * (15 + 365.0 / 12 * k); }) + R"( ;
  tos = )" + list(24 * 12, [](int n) {
           int k = n / 12, i = n % 12 / 6, j = n % 6;
           return i == 1 && j == 0 && k == 3 ? 99 : 27 + 0.25 * j + 0.5 * i + 0.01 * k;
         }) + " ;\n}\n";
}

class Import : public ::testing::Test {
 protected:
  // Writes NAME.cdl and makes NAME.nc of it with ncgen.
  std::string make(const std::string& name, const std::string& cdl, const char* kind = "classic") {
    box.write(name + ".cdl", cdl);
    std::string nc = box.path(name + ".nc");
    std::string command = std::string(NCGEN_PATH) + " -k " + kind + " -o " + nc + " " + box.path(name + ".cdl");
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return nc;
  }
  Options options(const std::string& nc) {
    Options o;
    o.input = nc;
    o.xy = box.path("xy.txt");
    o.recon = box.path("recon.txt");
    o.force = true;
    return o;
  }
  // The message of a run that fails; the folder must be as it was.
  std::string failure(const Options& o) {
    auto files = [&] {
      std::string s;
      for (const auto& e : std::filesystem::directory_iterator(box.dir()))
        s += e.path().filename().string() + "=" + box.read(e.path().filename().string()).value_or("") + ";";
      return s;
    };
    std::string before = files();
    try {
      run(o);
    } catch (const Failure& e) {
      EXPECT_EQ(files(), before) << e.what();
      return e.what();
    }
    return "no failure";
  }
  // Runs the command in the sandbox; its status, and its output in out.
  int command(const std::string& args, std::string* out = nullptr) {
    std::string line = "cd " + box.dir() + " && " + BRIX_IMPORT_PATH + " " + args + " >out.txt 2>&1";
    int status = std::system(line.c_str());
    if (out) *out = box.read("out.txt").value_or("");
    return WEXITSTATUS(status);
  }
  e2e::Sandbox box;
};

TEST_F(Import, PackedKelvinNorthToSouthWithLandAndIncompleteYears) {
  Options o = options(make("packed", packed_cdl()));
  Report r = run(o);
  EXPECT_EQ(r.variable, "water_temp");
  EXPECT_EQ(r.incomplete, (std::vector<int>{1999, 2002}));
  EXPECT_EQ(r.kept, 6);
  EXPECT_EQ(r.left_out, 2);
  EXPECT_FALSE(r.dateline);
  EXPECT_EQ(*box.read("xy.txt"), "2 0\n2 180\n2 270\n-2 0\n-2 90\n-2 180\n");
  std::string recon = "packed.nc: water_temp, mean of months 1-12, latitudes -5:5, longitudes all\n";
  for (int y : {0, 1}) {
    recon += " " + std::to_string(2000 + y);
    for (int p : {4, 6, 7, 8, 9, 10}) recon += f103(packed_mean(p, y));
    recon += "\n";
  }
  EXPECT_EQ(*box.read("recon.txt"), recon);
  EXPECT_NE(describe(o, r).find("1999-12 to 2002-01 (calendar standard)"), std::string::npos);
}

TEST_F(Import, MonthsYearsLonMajorStorageAndNetcdf4) {
  Options o = options(make("season", R"(netcdf season {
dimensions: time = 36 ; lon = 2 ; lat = 2 ;
variables:
  int time(time) ; time:units = "days since 2000-01-01" ; time:calendar = "360_day" ;
  float lon(lon) ; lon:units = "degrees_east" ; float lat(lat) ; lat:units = "degrees_north" ;
  float temp(time, lon, lat) ; temp:standard_name = "sea_surface_temperature" ; temp:units = "deg_C" ;
data:
  lon = 100, 110 ; lat = 0, 4 ;
  time = )" + list(36, [](int k) { return 15 + 30 * k; }) + R"( ;
  temp = )" + list(36 * 4, [](int n) { return 20 + n / 4 + 0.5 * (n % 4); }) + " ;\n}\n", "nc4"));
  o.months = {};
  o.months[6] = o.months[7] = o.months[8] = true;
  o.years = std::array<int, 2>{2001, 2005};
  run(o);
  EXPECT_EQ(*box.read("xy.txt"), "0 100\n4 100\n0 110\n4 110\n");
  EXPECT_EQ(*box.read("recon.txt"),
            "season.nc: temp, mean of months 6-8, latitudes -5:5, longitudes all\n"
            " 2001" + f103(38) + f103(38.5) + f103(39) + f103(39.5) + "\n"
            " 2002" + f103(50) + f103(50.5) + f103(51) + f103(51.5) + "\n");
}

TEST_F(Import, TooManyPointsMissingVariableCurvilinearNoCompleteYearExistingFiles) {
  std::string big = make("big", R"(netcdf big {
dimensions: time = 1 ; lat = 11 ; lon = 1100 ;
variables:
  double time(time) ; time:units = "days since 2000-01-15" ;
  float lat(lat) ; lat:units = "degrees_north" ; float lon(lon) ; lon:units = "degrees_east" ;
  float sst(time, lat, lon) ; sst:units = "degC" ;
data:
  time = 0 ;
  lat = )" + list(11, [](int k) { return k - 5; }) + " ;\n  lon = " +
                             list(1100, [](int k) { return k * 0.25; }) + " ;\n  sst = " +
                             list(12100, [](int) { return 25; }) + " ;\n}\n");
  Options o = options(big);
  o.months = {};
  o.months[1] = true;
  EXPECT_NE(failure(o).find("12100 grid points to write, more than the 12000 brix_eli takes"), std::string::npos);
  o.lon = Range{0, 100};
  run(o);
  std::string xy = *box.read("xy.txt");
  EXPECT_EQ(std::count(xy.begin(), xy.end(), '\n'), 11 * 401);

  std::string packed = make("packed", packed_cdl());
  o = options(packed);
  o.force = false;
  EXPECT_NE(failure(o).find("xy.txt exists (give --force to replace it)"), std::string::npos);
  o.force = true;
  o.var = "nope";
  EXPECT_NE(failure(o).find("has no variable nope; its data variables: water_temp"), std::string::npos);
  o.var.clear();
  o.years = std::array<int, 2>{1990, 1999};
  EXPECT_NE(failure(o).find("no complete year"), std::string::npos);
  o.years.reset();
  run(o);
  EXPECT_EQ(box.read("xy.txt")->substr(0, 4), "2 0\n");

  std::string curvilinear = make("curvilinear", R"(netcdf curvilinear {
dimensions: time = 1 ; y = 2 ; x = 2 ;
variables:
  double time(time) ; time:units = "days since 2000-01-15" ;
  float lat(y, x) ; lat:units = "degrees_north" ; float lon(y, x) ; lon:units = "degrees_east" ;
  float tos(time, y, x) ; tos:coordinates = "lat lon" ;
}
)");
  EXPECT_NE(failure(options(curvilinear)).find("two-dimensional (curvilinear) grid: its coordinate lat has dimensions (y, x)"),
            std::string::npos);
  std::string air = make("air", R"(netcdf air {
dimensions: time = 1 ; lat = 1 ; lon = 1 ;
variables:
  double time(time) ; time:units = "days since 2000-01-15" ;
  float lat(lat) ; lat:units = "degrees_north" ; float lon(lon) ; lon:units = "degrees_east" ;
  float t2m(time, lat, lon) ;
data: lat = 0 ; lon = 0 ; time = 0 ; t2m = 1e6 ;
}
)");
  EXPECT_NE(failure(options(air)).find("none named sst, tos or SST; choose one with --var among its data variables: t2m"),
            std::string::npos);
  o = options(air);
  o.var = "t2m";
  o.months = {};
  o.months[1] = true;
  EXPECT_NE(failure(o).find("2000 value at latitude 0, longitude 0 does not fit the 10 columns"), std::string::npos);
  box.write("text.nc", "not netCDF\n");
  EXPECT_NE(failure(options(box.path("text.nc"))).find("cannot read " + box.path("text.nc") + " as a netCDF file"),
            std::string::npos);
}

TEST_F(Import, CommandThenBrixEliWithTheAnswersItPrinted) {
  make("dateline", dateline_cdl());
  std::string out;
  EXPECT_EQ(command("--bogus", &out), 2);
  EXPECT_EQ(command("missing.nc", &out), 1);
  EXPECT_EQ(command("--lon 150:-150 dateline.nc", &out), 0) << out;
  EXPECT_NE(out.find("grid points  7 written, 1 left out"), std::string::npos) << out;
  std::size_t answers = out.find("Answers for brix_eli");
  ASSERT_NE(answers, std::string::npos);
  std::string given = out.substr(out.find('\n', answers) + 1);
  EXPECT_EQ(given, "xy_coordinates.txt\n1\ny\nrecon_sst.txt\n");
  EXPECT_EQ(command("--lon 150:-150 dateline.nc", &out), 1);
  EXPECT_NE(out.find("xy_coordinates.txt exists"), std::string::npos);

  e2e::Result r = box.run(given + "27\n5\n");
  EXPECT_EQ(r.status, 0) << r.err;
  std::string yearly = *box.read("Brix_ELI_5N-5S.txt");
  EXPECT_EQ(yearly.substr(yearly.find('\n') + 1, 20), " 1900  1.000  178.57");  // 150..210, not -170..170
  std::string smoothed = *box.read("Brix_ELI_5N-5S_Spline.txt");
  EXPECT_EQ(std::count(smoothed.begin(), smoothed.end(), '\n'), 3);
}

}  // namespace
}  // namespace brix::importer
