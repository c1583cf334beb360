#include "records/convert.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace brix::records {
namespace {

std::string real(float v, int w, int d) {
  std::string s(static_cast<std::size_t>(w), '?');
  put_real(s.data(), w, d, v);
  return s;
}

std::string integer(std::int32_t v, int w) {
  std::string s(static_cast<std::size_t>(w), '?');
  put_integer(s.data(), w, v);
  return s;
}

float bits(std::uint32_t b) { return std::bit_cast<float>(b); }

struct RealOut {
  float value;
  int w, d;
  const char* text;
};

TEST(ConvertTest, RealOutput) {
  const float inf = std::numeric_limits<float>::infinity();
  const RealOut cases[] = {
      {0.5f, 7, 3, "  0.500"},
      {-0.5f, 7, 3, " -0.500"},
      {123.456f, 7, 3, "123.456"},
      {-12.345f, 7, 3, "-12.345"},
      {-123.456f, 7, 3, "*******"},
      {999.9996f, 7, 3, "*******"},
      {0.0f, 7, 3, "  0.000"},
      {-0.0f, 7, 3, "  0.000"},
      {-0.0004f, 7, 3, "  0.000"},
      {-0.0005f, 7, 3, " -0.001"},
      {0.125f, 7, 2, "   0.13"},
      {2.675f, 7, 2, "   2.67"},
      {180.0625f, 8, 3, " 180.062"},
      {12345.678f, 8, 2, "12345.68"},
      {-9998.0f, 8, 2, "-9998.00"},
      {-9998.0f, 7, 3, "*******"},
      {-9998.0f, 8, 3, "********"},
      {28.5f, 5, 0, "  29."},
      {28.0f, 5, 0, "  28."},
      {0.0f, 5, 0, "   0."},
      {-3.2f, 5, 0, "  -3."},
      {-0.4f, 5, 0, "   0."},
      {-0.5f, 5, 0, "  -1."},
      {bits(0x7FC00000), 8, 3, "     NaN"},
      {bits(0xFFC00000), 8, 3, "    -NaN"},
      {bits(0xFFC00000), 7, 3, "   -NaN"},
      {-inf, 8, 3, "    -INF"},
      {inf, 8, 3, "     INF"},
      {bits(0xFFC00000), 3, 0, "***"},
      // Rounding carries across every digit and raises the exponent.
      {9.9996f, 7, 3, " 10.000"},
      {0.9996f, 7, 3, "  1.000"},
      {99.995f, 8, 2, "  100.00"},
      // Values below 1 keep their leading zero and zeros after the point.
      {0.0123f, 8, 3, "   0.012"},
      {0.00951f, 8, 3, "   0.010"},
      {-0.666666f, 7, 3, " -0.667"},
      // The tiniest and largest values.
      {bits(0x00000001), 8, 3, "   0.000"},
      {std::numeric_limits<float>::max(), 8, 2, "********"},
      {29.5f, 8, 3, "  29.500"},
      {165.0f, 8, 2, "  165.00"},
      {0.6666667f, 7, 3, "  0.667"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(real(c.value, c.w, c.d), c.text)
        << c.value << " F" << c.w << "." << c.d;
  }
}

TEST(ConvertTest, RealOutputWithoutRoomForTheLeadingZero) {
  // F4.2: a = 4 - 1 - 2 = 1 for a positive value, 0 for a negative one.
  EXPECT_EQ(real(0.25f, 4, 2), "0.25");
  EXPECT_EQ(real(-0.25f, 4, 2), "-.25");
  EXPECT_EQ(real(-0.25f, 3, 2), "***");
}

TEST(ConvertTest, IntegerOutput) {
  const struct {
    std::int32_t value;
    int w;
    const char* text;
  } cases[] = {
      {0, 5, "    0"},          {-123, 5, " -123"},     {123456, 5, "*****"},
      {-12345, 5, "*****"},     {1950, 6, "  1950"},    {-1, 6, "    -1"},
      {99999, 5, "99999"},      {-9999, 5, "-9999"},
      {std::numeric_limits<std::int32_t>::min(), 11, "-2147483648"},
  };
  for (const auto& c : cases) EXPECT_EQ(integer(c.value, c.w), c.text) << c.value;
}

// Reads a field as Fw.d input does: blanks removed, then converted.
bool field(const std::string& text, int d, float& v) {
  std::string scratch(text.size(), ' ');
  return get_real(strip_blanks(scratch.data(), text), d, v);
}

struct RealIn {
  const char* text;
  int d;
  std::uint32_t bits;
};

TEST(ConvertTest, RealInput) {
  const RealIn cases[] = {
      {"  1234", 3, std::bit_cast<std::uint32_t>(1.234f)},
      {"1234.", 3, std::bit_cast<std::uint32_t>(1234.0f)},
      {"          ", 3, 0},
      {"12", 3, std::bit_cast<std::uint32_t>(0.012f)},
      {"5", 3, std::bit_cast<std::uint32_t>(0.005f)},
      {"1234E2", 3, std::bit_cast<std::uint32_t>(123.4f)},
      {"28.5", 3, std::bit_cast<std::uint32_t>(28.5f)},
      {" - 2 8 . 5", 3, std::bit_cast<std::uint32_t>(-28.5f)},
      {"1.5-3", 3, std::bit_cast<std::uint32_t>(1.5e-3f)},
      {"1.5e+3", 3, std::bit_cast<std::uint32_t>(1500.0f)},
      {"1.5D3", 3, std::bit_cast<std::uint32_t>(1500.0f)},
      {"-0", 3, 0x80000000u},
      {"-0.0", 3, 0x80000000u},
      {"0E400", 0, 0},
      {"1E39", 0, 0x7F800000u},
      {"-1E39", 0, 0xFF800000u},
      {"1E-50", 3, 0},
      {"1.4E-45", 3, 1},
      {"Inf", 3, 0x7F800000u},
      {"-infinity", 3, 0xFF800000u},
      {"NaN", 3, 0x7FC00000u},
      {"-nonsense", 3, 0xFFC00000u},
      // Leading zeros after the point do not use up the 19 digits.
      {"0.000000000000000000001234567", 3, std::bit_cast<std::uint32_t>(1.234567e-21f)},
      // Digits beyond 19 before the point only raise the exponent.
      {"123456789012345678901234", 0, std::bit_cast<std::uint32_t>(1.2345679e23f)},
      // Just above the midpoint between 1.0 and the next single: the
      // truncated double lands on the midpoint itself, which rounds to even.
      {"1.0000000596046448", 3, std::bit_cast<std::uint32_t>(1.0f)},
      // Beyond 2^53 the low bits are cut off: exactly 5.0, in the band.
      {"5.000000238418579969", 3, std::bit_cast<std::uint32_t>(5.0f)},
      // The division below 10^-307 in two steps still reaches the value.
      {"1E-310", 3, 0},
      {"123456789E-315", 3, 0},
  };
  for (const auto& c : cases) {
    float v = -1.0f;
    ASSERT_TRUE(field(c.text, c.d, v)) << c.text;
    EXPECT_EQ(std::bit_cast<std::uint32_t>(v), c.bits) << c.text << " read " << v;
  }
}

TEST(ConvertTest, NotCorrectlyRoundedWhereTheConversionSaysOtherwise) {
  // A correctly rounded conversion would give the next single in both cases.
  EXPECT_EQ(std::strtof("1.0000000596046448", nullptr), std::nextafter(1.0f, 2.0f));
  EXPECT_EQ(std::strtof("5.000000238418579969", nullptr), std::nextafter(5.0f, 6.0f));
}

TEST(ConvertTest, RealInputSyntaxErrors) {
  for (const char* text : {"12a", "1.2.3", "1.5e", "1.5E+", "1.5e3.", "--1", "1e5e5", "+",
                           ".", "e5", "1,5", "28.5x", "1.5-3-3"}) {
    float v = 7.0f;
    EXPECT_FALSE(field(text, 3, v)) << text;
    EXPECT_EQ(v, 7.0f) << text;
  }
}

TEST(ConvertTest, FreeFormRealsHaveNoImpliedPoint) {
  float v = 0.0f;
  ASSERT_TRUE(get_real("28", 0, v));
  EXPECT_EQ(v, 28.0f);
  ASSERT_TRUE(get_real("-0.5e1", 0, v));
  EXPECT_EQ(v, -5.0f);
}

TEST(ConvertTest, IntegerInput) {
  const struct {
    const char* field;
    bool ok;
    std::int32_t value;
  } cases[] = {
      {"", true, 0},     {"-7", true, -7},  {"+3", true, 3},        {"1950", true, 1950},
      {"12.5", false, 0}, {"1e0", false, 0}, {"-", false, 0},        {"abc", false, 0},
      {"99999999999", true, std::numeric_limits<std::int32_t>::max()},
      {"-99999999999", true, std::numeric_limits<std::int32_t>::min()},
  };
  for (const auto& c : cases) {
    std::int32_t v = 42;
    EXPECT_EQ(get_integer_field(c.field, v), c.ok) << c.field;
    EXPECT_EQ(v, c.ok ? c.value : 42) << c.field;
  }
}

TEST(ConvertTest, FreeFormIntegersMustFitThirtyTwoBits) {
  const struct {
    const char* text;
    bool ok;
    std::int32_t value;
  } cases[] = {
      {"2147483647", true, 2147483647},   {"-2147483648", true, -2147483647 - 1},
      {"2147483648", false, 0},           {"-2147483649", false, 0},
      {"99999999999999999999", false, 0}, {"", false, 0},
      {"1.0", false, 0},                  {"+", false, 0},
  };
  for (const auto& c : cases) {
    std::int32_t v = 42;
    EXPECT_EQ(get_integer_value(c.text, v), c.ok) << c.text;
    EXPECT_EQ(v, c.ok ? c.value : 42) << c.text;
  }
}

TEST(ConvertTest, BlanksInsideFieldsAreIgnored) {
  std::string scratch(8, ' ');
  std::int32_t v = 0;
  ASSERT_TRUE(get_integer_field(strip_blanks(scratch.data(), "19 50"), v));
  EXPECT_EQ(v, 1950);
}

}  // namespace
}  // namespace brix::records
