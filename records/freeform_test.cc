#include "records/freeform.h"

#include <cstdint>
#include <string>

#include "records/test_util.h"

namespace brix::records::testing {

TEST(FreeFormTest, Requests) {
  for (const auto& c : cases("freeform.txt", "free")) {
    InputUnit in(c[1]);
    std::int32_t i = 99;
    float f[3] = {1, -1, 2};  // a run of reals takes every other element
    Target t = c[0] == "i" ? Target::integer(i) : Target::reals(f, c[0] == "ff" ? 2 : 1, 2);
    EXPECT_EQ(kOutcomes[int(read_free(in.unit(), {t}, Handles::kErrorsAndEnd))], c[2]) << c[1];
    EXPECT_TRUE(c[0] == "i" ? i == std::stoi(c[3])
                            : f[0] == real(c[3]) && f[2] == (c[0] == "ff" ? real(c[4]) : 2))
        << c[1] << " gave " << i << ", " << f[0] << ", " << f[2];
    EXPECT_EQ(f[1], -1.0f) << c[1];
  }
}

// Repeat counts of several digits, and the value after them.
TEST(FreeFormTest, RepeatCountsFillTheirNumberOfValues) {
  for (const auto& c : cases("freeform.txt", "run")) {
    InputUnit in(c[0]);
    float f[12] = {};
    EXPECT_EQ(
        kOutcomes[int(read_free(in.unit(), {Target::reals(f, 12, 1)}, Handles::kErrorsAndEnd))],
        "done")
        << c[0];
    std::string got;
    for (float v : f) {
      if (!got.empty()) got += ' ';
      got += std::to_string(static_cast<int>(v));
    }
    EXPECT_EQ(got, c[1]) << c[0];
  }
}

}  // namespace brix::records::testing
