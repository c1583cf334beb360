// The bundled example: the program run on examples/ with its answers file
// reproduces the committed console text, error stream, status and both
// tables byte for byte, and the committed tables describe a warm pool that
// the example's grid can hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// The number in columns [first, last] (1-based, inclusive) of a table row.
double field(const std::string& row, std::size_t first, std::size_t last) {
  return std::strtod(row.substr(first - 1, last - first + 1).c_str(), nullptr);
}

TEST(ExampleTest, RunReproducesTheCommittedOutputs) {
  Sandbox box;
  box.write("xy_coordinates.txt", slurp(kExamples + "xy_coordinates.txt"));
  box.write("recon_sst.txt", slurp(kExamples + "recon_sst.txt"));
  Result r = box.run(slurp(kExamples + "answers.txt"));

  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, slurp(kExamples + "expected/console.txt"));
  EXPECT_EQ(r.err, slurp(kExamples + "expected/stderr.txt"));
  for (const char* table : {"Brix_ELI_5N-5S.txt", "Brix_ELI_5N-5S_Spline.txt"}) {
    std::optional<std::string> got = box.read(table);
    ASSERT_TRUE(got.has_value()) << table;
    EXPECT_EQ(*got, slurp(kExamples + "expected/" + table)) << table;
  }
}

// Guards the example data rather than the program: a regenerated data set
// whose band never warms, or whose longitudes were left unshifted, would
// still reproduce itself above but show nothing worth looking at.
TEST(ExampleTest, CommittedYearlyTableIsPlausible) {
  const std::vector<std::string> answers = lines(slurp(kExamples + "answers.txt"));
  ASSERT_EQ(answers.size(), 6u);
  EXPECT_EQ(answers[2], "y") << "the example grid crosses the dateline";
  const double threshold = std::strtod(answers[4].c_str(), nullptr);

  const std::vector<std::string> rows =
      lines(slurp(kExamples + "expected/Brix_ELI_5N-5S.txt"));
  ASSERT_GE(rows.size(), 101u) << "a heading and about a century of years";
  EXPECT_EQ(rows[0] + "\n", kYearlyHeading);

  double lon_min = 1e9, lon_max = -1e9;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const std::string& row = rows[i];
    ASSERT_EQ(row.size(), 60u) << row;
    const double npeak = field(row, 6, 12), lon = field(row, 13, 20),
                 tmp = field(row, 37, 44);
    // Every year has a few warm points and never a fully warm band, so the
    // means are numbers and the fraction varies from year to year.
    EXPECT_GT(npeak, 0.0) << row;
    EXPECT_LT(npeak, 1.0) << row;
    // Longitudes run from 120 to 280 once the dateline shift is applied.
    EXPECT_GE(lon, 120.0) << row;
    EXPECT_LE(lon, 280.0) << row;
    EXPECT_GT(tmp, threshold) << row;
    EXPECT_LT(tmp, threshold + 3.0) << row;
    lon_min = std::min(lon_min, lon);
    lon_max = std::max(lon_max, lon);
  }
  // The warm pool moves east and west over the record.
  EXPECT_GT(lon_max - lon_min, 20.0);
}

}  // namespace
}  // namespace brix::e2e
