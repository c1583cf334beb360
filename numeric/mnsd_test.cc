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
constexpr std::uint32_t kDefaultNaN = 0xFFC00000u;  // quiet NaN, sign bit set

std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }

struct Case {
  const char* name;
  std::vector<float> x;
  std::int32_t n;
  float mean;  // compared bit for bit, unless NaN is expected
  float sd;
};

// Both outputs start as a value no case produces, so an output left unwritten
// shows up.
void run(const std::vector<float>& x, std::int32_t n, float& mean, float& sd) {
  mean = 12345.0f;
  sd = 12345.0f;
  mnsd(x.empty() ? nullptr : x.data(), n, mean, sd);
}

TEST(Mnsd, OrdinaryAndEdgeCounts) {
  const Case cases[] = {
      {"two values", {1, 2}, 2, 1.5f, 0.70710677f},
      {"four values", {1, 2, 3, 4}, 4, 2.5f, 1.2909944f},
      {"reads only n values", {1, 2, 100}, 2, 1.5f, 0.70710677f},
      {"one value: sd is 0/0", {3.25f}, 1, 3.25f, std::bit_cast<float>(kDefaultNaN)},
      {"no values, x not read", {}, 0, std::bit_cast<float>(kDefaultNaN), -0.0f},
      {"negative count, x not read", {}, -1, -0.0f, -0.0f},
      {"very negative count", {}, -7, -0.0f, -0.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    float mean, sd;
    run(c.x, c.n, mean, sd);
    EXPECT_EQ(bits(mean), bits(c.mean));
    EXPECT_EQ(bits(sd), bits(c.sd));
  }
}

// Ten copies of 0.1f sum to 1.0000001 in single precision; the deviations
// from that rounded mean give a tiny, non-zero sd. A wider accumulator would
// give the mean 0.1f and sd 0.
TEST(Mnsd, SinglePrecisionRounding) {
  const std::vector<float> x(10, 0.1f);
  float mean, sd;
  run(x, 10, mean, sd);
  EXPECT_EQ(mean, 0.100000009f);
  EXPECT_NE(mean, 0.1f);
  EXPECT_GT(sd, 7.80e-9f);
  EXPECT_LT(sd, 7.90e-9f);
}

TEST(Mnsd, NaNAndInfinities) {
  struct Special {
    const char* name;
    std::vector<float> x;
    float mean;  // NaN: any NaN
  };
  const Special cases[] = {
      {"NaN element", {1, kNaN, 3}, kNaN},
      {"positive infinity", {kInf, 1, 2}, kInf},
      {"negative infinity", {-4, -kInf}, -kInf},
      {"both infinities", {kInf, 5, -kInf}, kNaN},
      {"a single infinity", {-kInf}, -kInf},
  };
  for (const Special& c : cases) {
    SCOPED_TRACE(c.name);
    float mean, sd;
    run(c.x, static_cast<std::int32_t>(c.x.size()), mean, sd);
    if (std::isnan(c.mean)) {
      EXPECT_TRUE(std::isnan(mean)) << mean;
    } else {
      EXPECT_EQ(mean, c.mean);
    }
    EXPECT_TRUE(std::isnan(sd)) << sd;
  }
}

}  // namespace
}  // namespace brix::numeric
