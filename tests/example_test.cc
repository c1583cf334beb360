// The bundled example: the program run on examples/ with its answers file
// reproduces the committed console text, error stream, status and both
// tables byte for byte; and the committed yearly table describes a warm pool
// that moves, so that a regenerated example which shows nothing is noticed.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/e2e.h"

namespace brix::e2e {
namespace {

const std::string kExamples = std::string(BRIX_SOURCE_DIR) + "/examples/";

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << path;
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(ExampleTest, RunReproducesTheCommittedOutputs) {
  Sandbox box;
  box.write("xy_coordinates.txt", slurp(kExamples + "xy_coordinates.txt"));
  box.write("recon_sst.txt", slurp(kExamples + "recon_sst.txt"));
  Result r = box.run(slurp(kExamples + "answers.txt"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, slurp(kExamples + "expected/console.txt"));
  EXPECT_EQ(r.err, slurp(kExamples + "expected/stderr.txt"));
  for (const char* table : {"Brix_ELI_5N-5S.txt", "Brix_ELI_5N-5S_Spline.txt"})
    EXPECT_EQ(box.read(table), slurp(kExamples + "expected/" + table)) << table;

  // Every year has warm points but never a fully warm band, at longitudes
  // 120 to 280 once shifted across the dateline, and the pool moves.
  std::istringstream rows(slurp(kExamples + "expected/Brix_ELI_5N-5S.txt"));
  std::string row;
  std::getline(rows, row);
  double lon_min = 1e9, lon_max = -1e9;
  int n = 0;
  for (; std::getline(rows, row); ++n) {
    const double npeak = std::stod(row.substr(5, 7)), lon = std::stod(row.substr(12, 8));
    EXPECT_TRUE(npeak > 0.0 && npeak < 1.0 && lon >= 120.0 && lon <= 280.0) << row;
    lon_min = std::min(lon_min, lon);
    lon_max = std::max(lon_max, lon);
  }
  EXPECT_GE(n, 100);
  EXPECT_GT(lon_max - lon_min, 20.0);
}

}  // namespace
}  // namespace brix::e2e
