#include "numeric/mnsd.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace brix::numeric {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kDefaultNaN = std::bit_cast<float>(0xFFC00000u);  // quiet NaN, sign bit set

std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }

TEST(Mnsd, CountsRoundingAndSpecialValues) {
  const struct {
    const char* name;
    std::vector<float> x;
    std::int32_t n;
    float mean, sd;  // bit for bit; kNaN: any NaN
  } cases[] = {
      {"two values", {1, 2}, 2, 1.5f, 0.70710677f},
      {"four values", {1, 2, 3, 4}, 4, 2.5f, 1.2909944f},
      {"reads only n values", {1, 2, 100}, 2, 1.5f, 0.70710677f},
      // Ten 0.1f sum to 1.0000001 in single precision, and the deviations from
      // that rounded mean give a tiny sd (worked step by step in single
      // precision); a wider sum would give 0.1f and 0.
      {"single precision", std::vector<float>(10, 0.1f), 10, 0.100000009f, 7.8536013e-9f},
      {"one value: sd is 0/0", {3.25f}, 1, 3.25f, kDefaultNaN},
      {"no values, x not read", {}, 0, kDefaultNaN, -0.0f},
      {"negative count, x not read", {}, -7, -0.0f, -0.0f},
      {"NaN element", {1, kNaN, 3}, 3, kNaN, kNaN},
      {"positive infinity", {kInf, 1, 2}, 3, kInf, kNaN},
      {"negative infinity", {-4, -kInf}, 2, -kInf, kNaN},
      {"both infinities", {kInf, 5, -kInf}, 3, kNaN, kNaN},
  };
  for (const auto& c : cases) {
    float mean = 12345.0f, sd = 12345.0f;  // an output left unwritten shows
    mnsd(c.x.empty() ? nullptr : c.x.data(), c.n, mean, sd);
    for (auto [got, want] : {std::pair{mean, c.mean}, std::pair{sd, c.sd}}) {
      if (std::isnan(want) && bits(want) == bits(kNaN)) {
        EXPECT_TRUE(std::isnan(got)) << c.name;
      } else {
        EXPECT_EQ(bits(got), bits(want)) << c.name << ": " << got << " vs " << want;
      }
    }
  }
}

}  // namespace
}  // namespace brix::numeric
