// The bundled example: the program run on examples/ with its answers file
// reproduces the committed console text, error stream, status and both
// tables byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e.h"

namespace brix::e2e {
namespace {

const std::string kExamples = std::string(BRIX_SOURCE_DIR) + "/examples/";

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
}

}  // namespace
}  // namespace brix::e2e
