// The synthetic input generator, for what the benchmark, the example and the
// reader tests rely on: the same bytes for a seed, in memory and on disk;
// and clean records in exact "%10.3f" fields holding Dataset::milli. (Messy files are checked against Dataset::milli through
// the program's readers in input/input_test.cc.)
#include "tools/generate.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace brix::gen {
namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(GenerateTest, SameSeedSameBytesInMemoryAndOnDisk) {
  for (Grid grid : {Grid::kRandom, Grid::kRegular}) {
    Options o;
    o.grid = grid;
    o.points = 50;
    o.years = 20;
    o.seed = 42;
    o.messy = Messy::all();
    Dataset a = make(o);
    EXPECT_EQ(make(o).recon, a.recon);
    std::string xy = ::testing::TempDir() + "/gen_xy", recon = ::testing::TempDir() + "/gen_recon";
    ASSERT_EQ(write_files(o, xy, recon), "");
    EXPECT_EQ(slurp(xy), a.xy);
    EXPECT_EQ(slurp(recon), a.recon);
    ::unlink(xy.c_str());
    ::unlink(recon.c_str());
    o.seed = 43;
    EXPECT_NE(make(o).recon, a.recon);
  }
}

TEST(GenerateTest, CleanRecordsAreExactFixedFields) {
  Options o;
  o.points = 7;
  o.years = 12;
  o.first_year = 998;
  Dataset d = make(o);
  std::istringstream lines(d.recon);
  std::string line, expected(5 + 10 * 7, ' ');
  std::getline(lines, line);  // header
  for (int y = 0; y < o.years; ++y) {
    ASSERT_TRUE(std::getline(lines, line));
    int n = std::snprintf(expected.data(), expected.size() + 1, "%5d", o.first_year + y);
    for (int p = 0; p < o.points; ++p)
      n += std::snprintf(expected.data() + n, expected.size() + 1 - n, "%10.3f",
                         d.milli[static_cast<std::size_t>(y) * o.points + p] / 1000.0);
    EXPECT_EQ(line, expected);
  }
  for (std::int32_t v : {0, -1, 999, -1000, 29512, -99999999, 999999999}) {
    char out[10], want[16];
    put_milli(out, v);
    std::snprintf(want, sizeof want, "%10.3f", v / 1000.0);
    EXPECT_EQ(std::string(out, 10), want) << v;
  }
}

}  // namespace
}  // namespace brix::gen
