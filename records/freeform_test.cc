#include "records/freeform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "records/test_util.h"

namespace brix::records {
namespace {

using testing::InputUnit;

struct IntegerCase {
  std::string input;
  Outcome outcome;
  std::int32_t value;  // with 99 as the value before the request
};

TEST(FreeFormTest, IntegerAnswers) {
  const IntegerCase cases[] = {
      {"1\n", Outcome::kDone, 1},
      {"  2  \n", Outcome::kDone, 2},
      {"+3\n", Outcome::kDone, 3},
      {"1.0\n", Outcome::kError, 99},
      {"1e0\n", Outcome::kError, 99},
      {"abc\n", Outcome::kError, 99},
      {"\n\n   \n7\n", Outcome::kDone, 7},  // empty and blank lines are passed over
      {",\n", Outcome::kDone, 99},
      {"/\n", Outcome::kDone, 99},
      {"5 6\n", Outcome::kDone, 5},
      {"5,6\n", Outcome::kDone, 5},
      {"2*7\n", Outcome::kDone, 7},
      {"2* 7\n", Outcome::kDone, 7},
      {"2*\n7\n", Outcome::kDone, 7},
      {"3*,\n", Outcome::kDone, 99},
      {"0*7\n", Outcome::kError, 99},  // no leading zero: not a repeat count
      {"-5\n", Outcome::kDone, -5},
      {"5/\n", Outcome::kDone, 5},
      {"2147483648\n", Outcome::kError, 99},
      {"", Outcome::kEnd, 99},
      {"\n  \n", Outcome::kEnd, 99},
  };
  for (const auto& c : cases) {
    InputUnit in(c.input);
    std::int32_t v = 99;
    EXPECT_EQ(read_free(in.unit(), {Target::integer(v)}, Handles::kErrorsAndEnd), c.outcome)
        << c.input;
    EXPECT_EQ(v, c.value) << c.input;
  }
}

TEST(FreeFormTest, RealAnswers) {
  const struct {
    const char* input;
    float value;
  } cases[] = {{"28\n", 28.0f}, {"28.5,\n", 28.5f}, {"-0.5e1\n", -5.0f}, {"1.5e3\n", 1500.0f}};
  for (const auto& c : cases) {
    InputUnit in(c.input);
    float v = 0.0f;
    EXPECT_EQ(read_free(in.unit(), {Target::real(v)}, Handles::kErrors), Outcome::kDone);
    EXPECT_EQ(v, c.value) << c.input;
  }
}

struct PairCase {
  std::string input;
  Outcome outcome;
  float first, second;  // with 1 and 2 as the values before the request
};

TEST(FreeFormTest, CoordinatePairs) {
  const PairCase cases[] = {
      {"10.5 -3.25\n", Outcome::kDone, 10.5f, -3.25f},
      {"10.5,-3.25\n", Outcome::kDone, 10.5f, -3.25f},
      {"10.5 , -3.25\n", Outcome::kDone, 10.5f, -3.25f},
      {"10.5\n-3.25\n", Outcome::kDone, 10.5f, -3.25f},
      // The comma on the next line belongs to the line end that ended 10.5.
      {"10.5\n, -3.25\n", Outcome::kDone, 10.5f, -3.25f},
      {"10.5 200.0 7\n", Outcome::kDone, 10.5f, 200.0f},
      {"lat lon\n", Outcome::kError, 1.0f, 2.0f},
      {",7\n", Outcome::kDone, 1.0f, 7.0f},
      {"/\n", Outcome::kDone, 1.0f, 2.0f},
      {"3,/\n", Outcome::kDone, 3.0f, 2.0f},
      {",,\n", Outcome::kDone, 1.0f, 2.0f},
      {"2*4.5\n", Outcome::kDone, 4.5f, 4.5f},
      {"10.5 abc\n", Outcome::kError, 10.5f, 2.0f},
      {"10.5", Outcome::kEnd, 10.5f, 2.0f},  // end of file inside the pair
      {"10.5 -3.25", Outcome::kDone, 10.5f, -3.25f},  // last line without LF
  };
  for (const auto& c : cases) {
    InputUnit in(c.input);
    float a = 1.0f, b = 2.0f;
    EXPECT_EQ(read_free(in.unit(), {Target::real(a), Target::real(b)}, Handles::kErrorsAndEnd),
              c.outcome)
        << c.input;
    EXPECT_EQ(a, c.first) << c.input;
    EXPECT_EQ(b, c.second) << c.input;
  }
}

TEST(FreeFormTest, EachRequestStartsOnTheNextLine) {
  InputUnit in("1 2 3\nlat lon\n4 5\n");
  float a = 0, b = 0;
  auto pair = [&] {
    return read_free(in.unit(), {Target::real(a), Target::real(b)}, Handles::kErrorsAndEnd);
  };
  EXPECT_EQ(pair(), Outcome::kDone);
  EXPECT_EQ(b, 2.0f);
  EXPECT_EQ(pair(), Outcome::kError);
  EXPECT_EQ(pair(), Outcome::kDone);
  EXPECT_EQ(a, 4.0f);
  EXPECT_EQ(b, 5.0f);
  EXPECT_EQ(pair(), Outcome::kEnd);
}

}  // namespace
}  // namespace brix::records
