// brix_import on small netCDF files that ncgen makes from the CDL files of
// import/testdata (each says at its top what it holds). brix_eli runs on what
// brix_import writes in the Python module's and the workflow's tests.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "records/test_util.h"
#include "tests/e2e.h"

namespace brix {
namespace {

class Import : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(NCGEN_PATH))
      GTEST_SKIP() << "ncgen is missing, which makes the test files (tools/setup installs "
                      "netcdf-bin)";
  }
  // NAME.nc in the sandbox, from testdata/NAME.cdl.
  void make(const std::string& name, const char* kind = "classic") {
    ncgen(name, kind, IMPORT_TESTDATA "/" + name + ".cdl");
  }
  void ncgen(const std::string& name, const char* kind, const std::string& cdl_path) {
    std::string command = NCGEN_PATH " -k " + std::string(kind) + " -o " + box.path(name + ".nc") +
                          " " + cdl_path;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  // Runs brix_import with the arguments in the sandbox: its exit status, and
  // in *out what it printed on either stream.
  // `env`: variables for it, as "NAME=VALUE ...".
  int run_import(const std::string& args, std::string* out, const std::string& env = "") {
    return records::testing::output_of(
        "cd " + box.dir() + " && env " + env + " " BRIX_IMPORT_PATH " " + args + " 2>&1", out);
  }
  // brix_import refuses the arguments: it exits with `status`, says `says`,
  // and leaves every file of the sandbox as it was.
  void expect_refused(const std::string& args, const std::string& says, int status = 1) {
    std::string before = files(), out;
    EXPECT_EQ(run_import(args, &out), status) << args << ": " << out;
    EXPECT_NE(out.find(says), std::string::npos) << args << ":\n" << out;
    EXPECT_EQ(files(), before) << args;
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

TEST_F(Import, FailuresExitWithAMessageAndLeaveEveryFileAsItWas) {
  for (const char* name :
       {"packed", "big", "air", "curvilinear", "rotated", "oddtime", "dateline", "mesh"})
    make(name);
  for (const char* name : {"text.nc", "xy_coordinates.txt", "recon_sst.txt"})
    box.write(name, "not netCDF\n");
  for (const auto& c : records::testing::cases("import/testdata/runs.txt", "fail"))
    expect_refused(c[0], c[2], std::stoi(c[1]));
  std::string out;
  ASSERT_EQ(run_import("--force --months 1 --lon 0:299.99 big.nc", &out), 0) << out;
  std::string xy = *box.read("xy_coordinates.txt");
  EXPECT_EQ(std::count(xy.begin(), xy.end(), '\n'), 12000);

}

// Each grid kind, and the files that older or odder datasets make: the
// coordinate file, the data lines of the reconstruction file, and pieces of
// what brix_import printed (import/testdata/runs.txt; each fixture says how
// its values were made).
TEST_F(Import, EveryGridKindWritesItsCellsWithTheirOwnPositions) {
  for (const char* name :
       {"curvilinear", "rotated", "mesh", "fine", "oldfile", "oddtime", "air", "dateline", "packed"})
    make(name);
  make("season", "nc4");
  std::string out;
  for (const auto& c : records::testing::cases("import/testdata/runs.txt", "grid")) {
    ASSERT_EQ(run_import("--force " + c[0], &out), 0) << c[0] << ": " << out;
    EXPECT_EQ(*box.read("xy_coordinates.txt"), c[1]) << c[0];
    const std::string recon = *box.read("recon_sst.txt");
    if (c[2] != "-") {
      EXPECT_EQ(recon.substr(recon.find('\n') + 1), c[2]) << c[0];
    }
    // Pieces of what it said or of the reconstruction's header line.
    const std::string said = out + recon.substr(0, recon.find('\n'));
    for (std::size_t i = 3; i < c.size(); ++i)
      EXPECT_NE(said.find(c[i]), std::string::npos) << c[0] << ": " << c[i] << " in\n" << said;
    EXPECT_EQ(out.find("neither kelvin nor degrees Celsius"), std::string::npos)
        << c[0] << ": " << out;
  }
  // The files it writes get mode 666 less the umask, as a new file would.
  const std::string masked = "cd " + box.dir() + " && umask 027 && " BRIX_IMPORT_PATH
                             " --force --months 1 curvilinear.nc > /dev/null";
  ASSERT_EQ(std::system(masked.c_str()), 0);
  for (const char* name : {"xy_coordinates.txt", "recon_sst.txt"}) {
    struct stat st;
    EXPECT_TRUE(::stat(box.path(name).c_str(), &st) == 0 && (st.st_mode & 0777) == 0640) << name;
  }
}

// Datasets of several files, made in the test: a rectilinear grid of 2
// latitudes by 3 longitudes whose value at cell c in month k (k = 0 is
// 2000-01) is 20 + 0.1 k + 0.01 c unless a piece says otherwise: a signal
// that grows through the years, so that a month taken for another shows.
struct Piece {
  std::string file;
  int first = 0, last = 35;  // months from 2000-01, both included
  const char* time_type = "double";
  const char* unit = "days";  // or "hours", since `origin` at 00:00
  std::chrono::year_month_day origin{std::chrono::year{2000}, std::chrono::January,
                                     std::chrono::day{1}};
  bool end_stamps = false;   // each mean stamped at the start of the next month
  bool bounds = false;       // with time_bnds from the month's start to the next's
  bool zero_times = false;   // every stamp 0
  bool reversed = false;     // the steps stored from the last to the first
  const char* storage = "";  // the variable's storage attributes (netCDF-4), as CDL
  bool unlimited = true;     // time an unlimited dimension (else of fixed length)
  const char* calendar = "standard";
  const char* var = "sst";
  const char* type = "float";  // of the variable
  const char* units = "degC";
  bool string_units = false;  // units as a netCDF-4 string, not characters
  double lat0 = -2;           // the first latitude; the second is 2
  std::function<double(int k, int c)> value = [](int k, int c) { return 20 + 0.1 * k + 0.01 * c; };
};

std::string cdl(const Piece& p) {
  using namespace std::chrono;
  auto at = [&](int k) {  // day 15 of month k, or day 1 of month k + 1 for an end stamp
    year_month ym = year_month{year{2000}, January} + months{k + (p.end_stamps ? 1 : 0)};
    long long days = (sys_days{ym / day{p.end_stamps ? 1u : 15u}} - sys_days{p.origin}).count();
    return std::to_string(std::string(p.unit) == "hours" ? days * 24 : days);
  };
  auto start = [&](int k) {
    year_month ym = year_month{year{2000}, January} + months{k};
    long long days = (sys_days{ym / day{1}} - sys_days{p.origin}).count();
    return std::to_string(std::string(p.unit) == "hours" ? days * 24 : days);
  };
  char origin[64];
  std::snprintf(origin, sizeof origin, "%s since %04d-%02u-%02u", p.unit,
                static_cast<int>(p.origin.year()), static_cast<unsigned>(p.origin.month()),
                static_cast<unsigned>(p.origin.day()));
  // The data variable first, so that it is the file's variable 0.
  std::string s = "netcdf piece {\ndimensions: time = " +
                  (p.unlimited ? std::string("UNLIMITED") : std::to_string(p.last - p.first + 1)) +
                  " ; lat = 2 ; lon = 3 ; nv = 2 ;\n";
  s += "variables:\n  " + std::string(p.type) + " " + p.var + "(time, lat, lon) ; " +
       (p.string_units ? "string " : "") + p.var + ":units = \"" + p.units + "\" ; " + p.storage +
       "\n";
  s += "  " + std::string(p.time_type) + " time(time) ; time:units = \"" + origin +
       "\" ; time:calendar = \"" + p.calendar + "\" ;\n";
  if (p.bounds) s += "  time:bounds = \"time_bnds\" ; double time_bnds(time, nv) ;\n";
  s += "  float lat(lat) ; lat:units = \"degrees_north\" ; float lon(lon) ; lon:units = "
       "\"degrees_east\" ;\n";
  std::vector<int> steps;
  for (int k = p.first; k <= p.last; ++k) steps.push_back(k);
  if (p.reversed) std::reverse(steps.begin(), steps.end());
  s += "data:\n  lat = " + std::to_string(p.lat0) + ", 2 ; lon = 100, 200, 300 ;\n  time = ";
  for (int k : steps)
    s.append(k != steps.front() ? ", " : "").append(p.zero_times ? "0" : at(k));
  if (p.bounds) {
    s += " ;\n  time_bnds = ";
    for (int k : steps)
      s.append(k != steps.front() ? ", " : "").append(start(k)).append(", ").append(start(k + 1));
  }
  s += " ;\n  " + std::string(p.var) + " =";
  for (int k : steps)
    for (int c = 0; c < 6; ++c) {
      char v[32];
      std::snprintf(v, sizeof v, "%s %.9g", k == steps.front() && c == 0 ? "" : ",", p.value(k, c));
      s += v;
    }
  return s + " ;\n}\n";
}

class Series : public Import {
 protected:
  void make(const Piece& p, const std::string& kind = "nc4") {
    box.write("piece.cdl", cdl(p));
    std::string command =
        NCGEN_PATH " -k " + kind + " -o " + box.path(p.file) + " " + box.path("piece.cdl");
    ASSERT_EQ(std::system(command.c_str()), 0) << cdl(p);
    std::filesystem::remove(box.path("piece.cdl"));
  }
  // brix_import of the files into a.xy and a.txt (both then removed): what
  // it printed, and both files with the reconstruction's header line left out.
  std::string import(const std::string& args, int* status, const std::string& env = "") {
    std::string out;
    *status = run_import("--xy a.xy --recon a.txt " + args, &out, env);
    if (*status != 0) return out;
    std::string xy = *box.read("a.xy"), recon = *box.read("a.txt");
    std::filesystem::remove(box.path("a.xy"));
    std::filesystem::remove(box.path("a.txt"));
    last_out_ = out;
    return xy + recon.substr(recon.find('\n') + 1);
  }
  std::string last_out_;
};

// Each way of cutting the whole file's months gives the whole file's lines.
TEST_F(Series, PiecesInAnyOrderWriteWhatTheWholeFileWrites) {
  using namespace std::chrono;
  make({.file = "whole.nc"});
  int status = 0;
  const std::string whole = import("whole.nc", &status);
  ASSERT_EQ(status, 0) << whole;
  EXPECT_NE(whole.find(" 2002    22.950    22.960"), std::string::npos)
      << whole;  // 20 + 0.1 * 29.5
  // Cut at odd places, each in its own units and type.
  make({.file = "p1.nc",
        .first = 0,
        .last = 6,
        .time_type = "int",
        .origin = year{1999} / December / day{1}});
  make({.file = "p2.nc",
        .first = 7,
        .last = 20,
        .unit = "hours",
        .origin = year{1990} / June / day{1}});
  make({.file = "p3.nc",
        .first = 21,
        .last = 35,
        .time_type = "int",
        .unit = "hours",
        .origin = year{2001} / July / day{3},
        .reversed = true});
  box.write("list", "p2.nc\n\np1.nc\r\n");
  for (const char* files : {"p3.nc p1.nc p2.nc", "p2.nc p3.nc p1.nc", "--files-from list p3.nc"}) {
    EXPECT_EQ(import(files, &status), whole) << files;
    EXPECT_NE(last_out_.find("3 files, in time order:\n"
                             "                 p1.nc: 7 time steps, 2000-01 to 2000-07\n"
                             "                 p2.nc: 14 time steps, 2000-08 to 2001-09\n"
                             "                 p3.nc: 15 time steps, 2001-10 to 2002-12\n"),
              std::string::npos)
        << last_out_;
  }
  // Files in other units: each read in its own, with a warning.
  make({.file = "k1.nc",
        .first = 0,
        .last = 17,
        .units = "K",
        .string_units = true,
        .value = [](int k, int c) { return 293.15 + 0.1 * k + 0.01 * c; }});
  make({.file = "k2.nc", .first = 18, .last = 35});
  EXPECT_EQ(import("k2.nc k1.nc", &status), whole);
  EXPECT_NE(last_out_.find("k2.nc gives the units \"degC\", k1.nc \"K\"; each file's values are "
                           "read in its own"),
            std::string::npos)
      << last_out_;
  // Overlapping files whose common steps agree: each step taken once.
  make({.file = "q1.nc", .first = 0, .last = 14});
  make({.file = "q2.nc", .first = 10, .last = 35, .origin = year{1850} / January / day{1}});
  EXPECT_EQ(import("q2.nc q1.nc", &status), whole);
  for (const char* said : {"brix_import: 2 files, q1.nc to q2.nc\n",
                           "repeated     5 time steps (2000-11 to 2001-03) in both q1.nc and q2.nc, "
                           "taken once\n"})
    EXPECT_NE(last_out_.find(said), std::string::npos) << last_out_;
  // One file a month, given by a glob, against the whole of their 24 months;
  // the warning each file gives of its units is said once.
  for (int k = 0; k < 24; ++k)
    make({.file = std::to_string(100 + k).append(".nc"),
          .first = k,
          .last = k,
          .time_type = k % 2 ? "int" : "double",
          .units = "degrees"});
  std::string months = import("--years 2000:2001 whole.nc", &status);
  EXPECT_EQ(import("1[0-9][0-9].nc", &status), months);
  EXPECT_NE(
      last_out_.find("24 files, in time order:\n                 100.nc: 1 time step, 2000-01\n"),
      std::string::npos)
      << last_out_;
  const std::string warning = "units \"degrees\" of sst are neither kelvin nor degrees Celsius";
  EXPECT_EQ(last_out_.find(warning), last_out_.rfind(warning)) << last_out_;
  EXPECT_NE(last_out_.find(warning), std::string::npos) << last_out_;

  // The header names the pieces.
  ASSERT_EQ(run_import("--force p3.nc p1.nc p2.nc", &last_out_), 0) << last_out_;
  EXPECT_NE(box.read("recon_sst.txt")->find("p1.nc to p3.nc (3 files): sst, mean of"),
            std::string::npos);
}

// Files that do not make one dataset, and values that cannot be data: each
// an error that names what is wrong, and nothing written.
TEST_F(Series, FilesThatDoNotMakeOneDatasetAreRefused) {
  make({.file = "a.nc", .first = 0, .last = 14});
  make({.file = "b.nc", .first = 10, .last = 35, .value = [](int k, int c) {
          return 20 + 0.1 * k + 0.01 * c + (k == 12 && c == 4 ? 1 : 0);
        }});
  make({.file = "gap.nc", .first = 16, .last = 35});
  make({.file = "tail.nc", .first = 36, .last = 47});
  make({.file = "grid.nc", .first = 15, .last = 35, .lat0 = -2.5});
  make({.file = "noleap.nc", .first = 15, .last = 35, .calendar = "noleap"});
  make({.file = "tas.nc", .first = 15, .last = 35, .var = "tos"});
  make({.file = "months.nc", .first = 15, .last = 20, .unit = "months"});
  box.write("empty", "\n");
  for (const auto& c : records::testing::cases("import/testdata/runs.txt", "refused"))
    expect_refused(c[0], c[2], std::stoi(c[1]));
  // A file none of whose steps are used is read for its time alone.
  int status = 0;
  import("--years 2000:2000 a.nc grid.nc", &status);
  EXPECT_EQ(status, 0) << last_out_;
  EXPECT_NE(last_out_.find("grid.nc: 21 time steps, 2001-04 to 2002-12, none used\n"),
            std::string::npos)
      << last_out_;
}

// Where a step's month comes from, and units given on the command line.
TEST_F(Series, BoundsPlaceStepsAndUnitsGivenStand) {
  // Means stamped at the start of the next month: with their bounds, year y
  // holds months k = 12 y .. 12 y + 11, whose mean 12 y + 5.5 makes 20.55,
  // 21.75 and 22.95 at cell 0; without them, 2000 lacks January and 2001 is
  // December 2000 to November 2001 (mean k 16.5).
  make({.file = "end.nc", .end_stamps = true, .bounds = true});
  make({.file = "late.nc", .end_stamps = true});
  int status = 0;
  std::string got = import("end.nc", &status);
  EXPECT_NE(got.find("\n 2000    20.550    20.560    20.570    20.580    20.590    20.600\n"
                     " 2001    21.750    21.760    21.770    21.780    21.790    21.800\n"
                     " 2002    22.950    22.960    22.970    22.980    22.990    23.000\n"),
            std::string::npos)
      << got;
  EXPECT_NE(last_out_.find("\n  time         each step in the month that holds the middle of its "
                           "time bounds (time_bnds)\n"),
            std::string::npos)
      << last_out_;
  got = import("late.nc", &status);
  EXPECT_NE(got.find("\n 2001    21.650    21.660"), std::string::npos) << got;
  EXPECT_NE(last_out_.find("of its time stamp (no time bounds)"), std::string::npos) << last_out_;

  // Kelvin read as kelvin when told so (the rules of units and values that
  // cannot be data are tested on arrays in memory, in rules_test.cc).
  make({.file = "k.nc", .value = [](int k, int c) { return 300 + 0.1 * k + 0.01 * c; }});
  got = import("--units K k.nc", &status);
  EXPECT_NE(got.find("\n 2000    27.400    27.410"), std::string::npos) << got;  // 300.55 - 273.15
  EXPECT_NE(last_out_.find("units K (given with --units; the file says \"degC\")"),
            std::string::npos)
      << last_out_;
}

// A file cut short, as a broken download leaves it, at any length (in its
// header, its coordinates, its first or last records): an error naming the
// file, and nothing written; the whole file imports. A time axis of zeros is
// no time axis either.
TEST_F(Series, DamagedFilesAreErrorsNeverData) {
  std::string out;
  for (const char* kind : {"classic", "64-bit-offset", "cdf5", "nc4"}) {
    make({.file = "whole.nc", .last = 47}, kind);
    const std::string data = *box.read("whole.nc");
    int status = 0;
    import("whole.nc", &status);
    EXPECT_EQ(status, 0) << kind << ": " << last_out_;
    std::vector<std::size_t> lengths{8, 40, data.size() - 1};
    for (std::size_t eighth = 1; eighth < 8; ++eighth) lengths.push_back(data.size() * eighth / 8);
    for (std::size_t n : lengths) {
      box.write("cut.nc", data.substr(0, n));
      std::string before = files();
      EXPECT_EQ(run_import("cut.nc", &out), 1) << kind << " cut at " << n << ":\n" << out;
      bool cut = out.find(
                     "brix_import: cut.nc is cut short, perhaps an incomplete download: the "
                     "file ends at byte " +
                     std::to_string(n) + "; its header needs ") != std::string::npos;
      bool damaged = out.find("cut.nc") != std::string::npos &&
                     out.find("the file may be damaged or incomplete") != std::string::npos;
      // netCDF-4 files are HDF5 files, in which the library may fail first.
      EXPECT_TRUE(cut || (damaged && std::string(kind) == "nc4"))
          << kind << " at " << n << ": " << out;
      EXPECT_EQ(files(), before) << kind << " at " << n;
    }
  }
  make({.file = "zeros.nc",
        .last = 2,
        .origin = std::chrono::year{0} / std::chrono::January / std::chrono::day{1},
        .zero_times = true,
        .calendar = "noleap"},
       "classic");
  expect_refused("zeros.nc",
                 "zeros.nc holds two steps at 0000-01-01 (steps 1 and 2 of its time axis)");
}

// netCDF-4 chunks read straight from the file give the bits netCDF-C gives,
// for each way of storing them and on any number of threads; storage that
// reader does not take is read by netCDF-C. A chunk that fails its checksum
// is an error naming the file and the time step, and nothing is written.
TEST_F(Series, ChunksReadDirectlyGiveWhatNetcdfGives) {
  const std::string profile = "BRIX_IMPORT_PROFILE=1 ";
  for (const auto& c : records::testing::cases("import/testdata/runs.txt", "chunks")) {
    const bool scaled = c[5] != "-";
    const std::string storage = c[0] + (scaled ? " sst:scale_factor = " + c[5] + " ;" : "");
    const double unit = scaled ? std::strtod(c[5].c_str(), nullptr) : 0;
    make({.file = "c.nc",
          .storage = storage.c_str(),
          .unlimited = c[3] == "unlimited",
          .type = c[4].c_str(),
          .value = [unit](int k, int c) {
            double v = 20 + 0.1 * k + 0.01 * c;
            return unit ? std::round(v / unit) : v;
          }},
         c[1]);
    int status = 0;
    const std::string netcdf = import("c.nc", &status, "BRIX_IMPORT_CHUNKS=netcdf");
    ASSERT_EQ(status, 0) << c[0] << ": " << netcdf;
    for (const char* threads : {"1", "2"}) {
      EXPECT_EQ(import(std::string("-j ") + threads + " c.nc", &status, profile), netcdf)
          << c[0] << ", " << threads << " threads";
      EXPECT_NE(last_out_.find(c[2]), std::string::npos) << c[0] << ": " << last_out_;
    }
  }
  // Step 5's six values as stored (uncompressed, with a checksum), one of
  // them changed.
  make({.file = "f.nc", .storage = "sst:_ChunkSizes = 1, 2, 3 ; sst:_Fletcher32 = \"true\" ;"});
  std::string data = *box.read("f.nc"), step;
  for (int c = 0; c < 6; ++c) {
    float v = static_cast<float>(20 + 0.1 * 4 + 0.01 * c);
    step.append(reinterpret_cast<const char*>(&v), sizeof v);
  }
  std::size_t at = data.find(step);
  ASSERT_NE(at, std::string::npos);
  data[at + 9] ^= 0x10;
  box.write("f.nc", data);
  expect_refused("f.nc",
                 "cannot read sst from f.nc at time step 5 (2000-05): its chunk fails its "
                 "checksum; the file may be damaged");
}

}  // namespace
}  // namespace brix
