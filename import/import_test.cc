// brix_import on small netCDF files that ncgen makes from the CDL files of
// import/testdata (each says at its top what it holds), and one run of
// brix_eli on what brix_import wrote.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e.h"

namespace brix {
namespace {

class Import : public ::testing::Test {
 protected:
  // NAME.nc in the sandbox, from testdata/NAME.cdl.
  void make(const std::string& name, const char* kind = "classic") {
    std::string command = NCGEN_PATH " -k " + std::string(kind) + " -o " + box.path(name + ".nc") +
                          " " + IMPORT_TESTDATA "/" + name + ".cdl";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  // Runs brix_import with the arguments in the sandbox: its exit status, and
  // in *out what it printed on either stream.
  int run_import(const std::string& args, std::string* out) {
    std::FILE* pipe =
        popen(("cd " + box.dir() + " && " BRIX_IMPORT_PATH " " + args + " 2>&1").c_str(), "r");
    char buffer[4096];
    out->clear();
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      out->append(buffer, n);
    return WEXITSTATUS(pclose(pipe));
  }
  // Every file of the sandbox with its content.
  std::string files() {
    std::string s;
    for (const auto& e : std::filesystem::directory_iterator(box.dir()))
      s += e.path().filename().string() + "=" +
           box.read(e.path().filename().string()).value_or("") + ";";
    return s;
  }
  e2e::Sandbox box;
};

TEST_F(Import, PackedKelvinAndSeasonsWrittenInTheStoredOrder) {
  make("packed");
  make("season", "nc4");
  std::string out;
  ASSERT_EQ(run_import("packed.nc", &out), 0) << out;
  for (const char* says :
       {"variable     water_temp, units K\n", "1999-12 to 2002-01 (calendar standard)",
        "grid points  6 written, 2 left out", "left out for a missing month: 1999, 2002\n",
        "xy_coordinates.txt\n1\nn\nrecon_sst.txt\n"})
    EXPECT_NE(out.find(says), std::string::npos) << says << " in\n" << out;
  // Latitude 6 lies outside the band, 5N 90E is land, 5S 270E misses 2001-02.
  EXPECT_EQ(*box.read("xy_coordinates.txt"), "5 0\n5 180\n5 270\n-5 0\n-5 90\n-5 180\n");
  // The means 28 + 0.1 p + 0.01 (6.5 + 12 y) of points p = 4, 6, 7, 8, 9, 10 in the years 2000 + y.
  EXPECT_EQ(*box.read("recon_sst.txt"),
            "packed.nc: water_temp, mean of months 1-12, latitudes -5:5, longitudes all\n"
            " 2000    28.465    28.665    28.765    28.865    28.965    29.065\n"
            " 2001    28.585    28.785    28.885    28.985    29.085    29.185\n");

  ASSERT_EQ(run_import("--months 6-8 --years 2001:2005 --xy s.xy --recon s.txt season.nc", &out), 0)
      << out;
  EXPECT_EQ(*box.read("s.xy"), "0 100\n4 100\n0 110\n4 110\n");
  // Months k = 17, 18, 19 of 2001 and twelve later for 2002: means 38 + 0.5 q and 50 + 0.5 q.
  EXPECT_EQ(*box.read("s.txt"),
            "season.nc: temp, mean of months 6-8, latitudes -5:5, longitudes all\n"
            " 2001    38.000    38.500    39.000    39.500\n"
            " 2002    50.000    50.500    51.000    51.500\n");
}

TEST_F(Import, FailuresExitWithAMessageAndLeaveEveryFileAsItWas) {
  for (const char* name : {"packed", "big", "air", "curvilinear", "rotated", "oddtime"}) make(name);
  for (const char* name : {"text.nc", "xy_coordinates.txt", "recon_sst.txt"})
    box.write(name, "not netCDF\n");
  struct Run {
    const char* args;
    int status;
    const char* says;
  };
  const Run kRuns[] = {
      {"--bogus packed.nc", 2, "unknown option --bogus"},
      {"packed.nc", 1, "xy_coordinates.txt exists (give --force to replace it)"},
      {"--force missing.nc", 1, "cannot read missing.nc as a netCDF file"},
      {"--force text.nc", 1, "cannot read text.nc as a netCDF file"},
      {"--force --var nope packed.nc", 1,
       "packed.nc has no variable nope; its data variables: water_temp\n"},
      {"--force --years 1990:1999 packed.nc", 1, "no complete year"},
      {"--force curvilinear.nc", 1,
       "each year of tos (2000-01 to 2003-01) has a single time step; give --months 1 "
       "to take the step of month 1 as the year's value"},
      {"--force --months 1 --coarsen 2 curvilinear.nc", 1,
       "--coarsen works on rectilinear grids only"},
      {"--force --var lcc rotated.nc", 1,
       "lcc's grid mapping lambert (grid_mapping_name \"lambert_conformal_conic\") "
       "cannot be placed"},
      {"--force --var a oddtime.nc", 1,
       "the time variable time1 of a has units \"Month\"; brix_import needs \"UNIT "
       "since DATE\""},
      {"--force --var b oddtime.nc", 1, "the time variable time2 of b has units \"days\"; "},
      {"--force --var c oddtime.nc", 1,
       "the time variable time3 of c has units \"day as %Y%m%d.%f\"; "},
      {"--force air.nc", 1,
       "none named sst, tos or SST; choose one with --var among its data variables: t2m\n"},
      {"--force --var t2m --months 1 air.nc", 1,
       "2000 value at latitude 0, longitude 2 does not fit the 10 columns"},
      // 12000 of the longitudes 0.025 apart span 300 degrees; blocks of 2 make 6001 points.
      {"--force --months 1 big.nc", 1,
       "12001 grid points to write, more than the 12000 brix_eli takes: choose a "
       "narrower region with --lat or --lon (now 1 latitude by 12001 longitudes; "
       "12000 longitudes, about 300 degrees, fit at these latitudes), or average "
       "blocks of cells with --coarsen 2 (the smallest that fits: 6001 points)"},
  };
  std::string before = files(), out;
  for (const Run& r : kRuns) {
    EXPECT_EQ(run_import(r.args, &out), r.status) << r.args << ": " << out;
    EXPECT_NE(out.find(r.says), std::string::npos) << r.args << ": " << out;
    EXPECT_EQ(files(), before) << r.args;
  }
  ASSERT_EQ(run_import("--force --months 1 --lon 0:299.99 big.nc", &out), 0) << out;
  std::string xy = *box.read("xy_coordinates.txt");
  EXPECT_EQ(std::count(xy.begin(), xy.end(), '\n'), 12000);
}

// Each grid kind, and the files that older or odder datasets make: the
// coordinate file, the data lines of the reconstruction file, and pieces of
// what brix_import printed (each fixture says how its values were made).
TEST_F(Import, EveryGridKindWritesItsCellsWithTheirOwnPositions) {
  for (const char* name : {"curvilinear", "rotated", "mesh", "fine", "oldfile", "oddtime"})
    make(name);
  struct Run {
    const char* args;
    const char* xy;
    const char* years;  // the reconstruction file after its header
    std::vector<const char*> says;
  };
  const Run kRuns[] = {
      // Cells in the band in storage order, not whole rows; x 3 of row 2 has
      // no position, y 1, x 1 misses 2002. Either order of "coordinates".
      {"--months 1 curvilinear.nc",
       "-5 110\n-3 120\n-1 130\n-2 102\n2 122\n4 132\n3 104\n5 114\n",
       " 2000    20.100    20.200    20.300    21.000    21.200    21.300    22.000    22.100\n"
       " 2001    21.100    21.200    21.300    22.000    22.200    22.300    23.000    23.100\n"
       " 2002    22.100    22.200    22.300    23.000    23.200    23.300    24.000    24.100\n"
       " 2003    23.100    23.200    23.300    24.000    24.200    24.300    25.000    25.100\n",
       {"grid         curvilinear, 3 rows by 4 columns (y, x), 4 time steps from 2000-01 to "
        "2003-01",
        "region       latitudes -5:5, longitudes all: 9 cells\n",
        "8 written, 1 left out for lack of a value at "
        "some time step used"}},
      {"--months 1 --var other curvilinear.nc",
       "-5 110\n-3 120\n-1 130\n-2 102\n2 122\n4 132\n3 104\n5 114\n",
       nullptr,
       {"variable     other, units degC\n"}},
      // True positions from the rotated pole, not the grid's own latitudes.
      {"--months 1 --lat -90:90 --var tas rotated.nc",
       "49.75 18\n-0.6326861 107.22558\n-51.75 -162\n50.75 18\n0 108\n-50.75 -162\n51.75 "
       "18\n0.6326861 108.77442\n"
       "-49.75 -162\n",
       " 2000    10.000    11.000    12.000    13.000    14.000    15.000    16.000    17.000    "
       "18.000\n",
       {"grid         rotated pole, 3 rows by 3 columns (rlat, rlon), 1 time step from",
        "\n1\ny\n"}},
      {"--months 1 --lat -90:90 --var tas2 rotated.nc",
       "-0.6326861 -71.22558\n49.75 18\n-0.6326861 107.22558\n0 -72\n50.75 18\n0 108\n0.6326861 "
       "-72.77442\n"
       "51.75 18\n0.6326861 108.77442\n",
       nullptr,
       {}},
      // Means of months 1 and 2: 25.25 + c at cells c = 1, 2, 3; from 10E
      // eastwards to 190E they cross 180.
      {"--months 1-2 mesh.nc",
       "-4 -170\n0 90\n4.5 10\n",
       " 2000    26.250    27.250    28.250\n",
       {"grid         unstructured, 5 cells (ncells), 2 time steps", "\n1\ny\n",
        "warning: only 1 year written: brix_eli's spline needs 4 years or more"}},
      {"--months 1-2 --var tos_r mesh.nc",
       "-4 -170\n0 90\n4.5 10\n",
       " 2000    26.250    27.250    28.250\n",
       {}},
      // Longitude 360 is 0 again: one column, said so.
      {"--months 1 fine.nc",
       "-4 0\n-4 90\n-4 180\n-4 270\n-2 0\n-2 180\n-2 270\n0 0\n0 90\n0 180\n0 270\n2 0\n2 90\n2 "
       "180\n",
       " 2000    20.000    20.100    20.200    20.300    21.000    21.200    21.300    22.000    "
       "22.100    22.200"
       "    22.300    23.000    23.100    23.200\n",
       {"20 cells (4 latitudes by 4 longitudes); 4 at the position of another (a longitude stored "
        "twice",
        "14 written, 2 left out"}},
      // Blocks of 3 by 3 from 4S and 0E: 8 of the 9 cells of the first
      // (sum 189.9 - 21.1), 3 of the block at 270E, 3 at 2N, none at 2N 270E.
      {"--months 1 --coarsen 3 fine.nc",
       "-2 90\n-2 270\n2 90\n",
       " 2000    21.100    21.300    23.100\n",
       {"blocks of 3 by 3: 4 points\n", "3 written, 1 left out"}},
      // Blocks of 2 by 2 from 4S and 270E, across 0: the first at 315E holds
      // 20.3, 20, 21.3 and 21; at 90E 20.1 alone; at 1N 22.3, 22 and 23.
      {"--months 1 --coarsen 2 --lon 270:90 fine.nc",
       "-3 315\n-3 90\n1 315\n1 90\n",
       " 2000    20.650    20.100    22.433    22.600\n",
       {"\n1\nn\n"}},
      // Yearly steps in July, units "Deg C" and "DEG C" taken as Celsius.
      {"--months 7 oldfile.nc",
       "0 0\n0 10\n",
       " 2000    20.000    21.000\n 2001    22.000    23.000\n",
       {"2 time steps from 2000-07 to 2001-07",
        "years        2000 to 2001 (2 years), each the mean of month 7\n"}},
      {"--months 7 --years 1999:2005 --var sst2 oldfile.nc",
       "0 0\n0 10\n",
       " 2000    20.000    21.000\n 2001    22.000    23.000\n",
       {"; --years 1999:2005 asked for, but the time steps run from 2000-07 to 2001-07\n"}},
      // A climatology of year 0: the mean of 16 .. 27.
      {"--var d oddtime.nc",
       "0 0\n",
       "    0    21.500\n",
       {"12 time steps from 0000-01 to 0000-12", "1 cell (1 latitude by 1 longitude)"}},
  };
  std::string out;
  for (const Run& r : kRuns) {
    ASSERT_EQ(run_import("--force " + std::string(r.args), &out), 0) << r.args << ": " << out;
    EXPECT_EQ(*box.read("xy_coordinates.txt"), r.xy) << r.args;
    std::string recon = *box.read("recon_sst.txt");
    if (r.years != nullptr) {
      EXPECT_EQ(recon.substr(recon.find('\n') + 1), r.years) << r.args;
    }
    for (const char* says : r.says)
      EXPECT_NE(out.find(says), std::string::npos) << r.args << ": " << says << " in\n" << out;
    EXPECT_EQ(out.find("neither kelvin nor degrees Celsius"), std::string::npos)
        << r.args << ": " << out;
  }
}

// The curvilinear grid's cells through brix_eli: every point is warm above
// 20 degrees, so each year's longitudes are the 8 written (mean 934 / 8,
// standard deviation sqrt(879.5 / 7), its error over sqrt(8)) and its
// temperatures those of 2000 plus the year's count (mean 168.2 / 8,
// standard deviation sqrt(4.275 / 7)).
TEST_F(Import, BrixEliRunsOnACurvilinearGrid) {
  make("curvilinear");
  std::string out;
  ASSERT_EQ(run_import("--months 1 curvilinear.nc", &out), 0) << out;
  std::string answers = out.substr(out.find('\n', out.find("Answers for brix_eli")) + 1);
  EXPECT_EQ(answers, "xy_coordinates.txt\n1\nn\nrecon_sst.txt\n");
  e2e::Result r = box.run(answers + "20\n5\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, e2e::kEnd);  // the normal end, on the error stream
  std::string yearly = *box.read("Brix_ELI_5N-5S.txt");
  EXPECT_EQ(yearly,
            " Year  NPeak  MN_Lon  SD_Lon  SE_Lon  MN_Tmp  SD_Tmp  SE_Tmp\n"
            " 2000  1.000  116.75   11.21    3.96  21.025   0.781   0.276\n"
            " 2001  1.000  116.75   11.21    3.96  22.025   0.781   0.276\n"
            " 2002  1.000  116.75   11.21    3.96  23.025   0.781   0.276\n"
            " 2003  1.000  116.75   11.21    3.96  24.025   0.781   0.276\n");
  std::string smoothed = *box.read("Brix_ELI_5N-5S_Spline.txt");
  EXPECT_EQ(std::count(smoothed.begin(), smoothed.end(), '\n'), 5) << smoothed;
  EXPECT_EQ(smoothed.find("-999"), std::string::npos)
      << smoothed;  // no refusal marker with 4 years
}

TEST_F(Import, BrixEliRunsOnWhatItWroteWithTheAnswersItPrinted) {
  make("dateline");
  std::string out;
  ASSERT_EQ(run_import("--lon 150:-150 dateline.nc", &out), 0) << out;
  EXPECT_NE(out.find("2000-01 to 2001-12 (calendar noleap)"), std::string::npos) << out;
  EXPECT_NE(out.find("grid points  7 written, 1 left out"), std::string::npos) << out;  // 1N 170W
  std::string answers = out.substr(out.find('\n', out.find("Answers for brix_eli")) + 1);
  EXPECT_EQ(answers, "xy_coordinates.txt\n1\ny\nrecon_sst.txt\n");

  e2e::Result r = box.run(answers + "27\n5\n");
  EXPECT_EQ(r.status, 0) << r.err;
  // Every point is warm. The longitudes 150, 170, 190, 210 at 1S and 150,
  // 170, 210 at 1N (not -170..170) have the mean 1250 / 7 and the standard
  // deviation sqrt(3885.71 / 6); the temperatures 27.055 + (0.25 * 20 + 0.5 * 3) / 7.
  std::string yearly = *box.read("Brix_ELI_5N-5S.txt");
  EXPECT_EQ(yearly.substr(yearly.find('\n') + 1, 44),
            " 2000  1.000  178.57   25.45    9.62  27.984");
  // -150, -90 and 0 hold both signs but run across 0, not 180.
  ASSERT_EQ(run_import("--lon -150:0 --xy w.xy --recon w.txt dateline.nc", &out), 0) << out;
  EXPECT_NE(out.find("\nw.xy\n1\nn\nw.txt\n"), std::string::npos) << out;
}

}  // namespace
}  // namespace brix
