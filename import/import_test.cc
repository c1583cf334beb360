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

#include "records/test_util.h"
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
  std::string before = files(), out;
  for (const auto& c : records::testing::cases("import/testdata/runs.txt", "fail")) {
    EXPECT_EQ(run_import(c[0], &out), std::stoi(c[1])) << c[0] << ": " << out;
    EXPECT_NE(out.find(c[2]), std::string::npos) << c[0] << ": " << out;
    EXPECT_EQ(files(), before) << c[0];
  }
  ASSERT_EQ(run_import("--force --months 1 --lon 0:299.99 big.nc", &out), 0) << out;
  std::string xy = *box.read("xy_coordinates.txt");
  EXPECT_EQ(std::count(xy.begin(), xy.end(), '\n'), 12000);
}

// Each grid kind, and the files that older or odder datasets make: the
// coordinate file, the data lines of the reconstruction file, and pieces of
// what brix_import printed (import/testdata/runs.txt; each fixture says how
// its values were made).
TEST_F(Import, EveryGridKindWritesItsCellsWithTheirOwnPositions) {
  for (const char* name : {"curvilinear", "rotated", "mesh", "fine", "oldfile", "oddtime"})
    make(name);
  std::string out;
  for (const auto& c : records::testing::cases("import/testdata/runs.txt", "grid")) {
    ASSERT_EQ(run_import("--force " + c[0], &out), 0) << c[0] << ": " << out;
    EXPECT_EQ(*box.read("xy_coordinates.txt"), c[1]) << c[0];
    const std::string recon = *box.read("recon_sst.txt");
    if (c[2] != "-") {
      EXPECT_EQ(recon.substr(recon.find('\n') + 1), c[2]) << c[0];
    }
    for (std::size_t i = 3; i < c.size(); ++i)
      EXPECT_NE(out.find(c[i]), std::string::npos) << c[0] << ": " << c[i] << " in\n" << out;
    EXPECT_EQ(out.find("neither kelvin nor degrees Celsius"), std::string::npos) << c[0] << ": " << out;
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
