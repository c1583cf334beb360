// The one-field readings of the year records' layout against the general
// reading, and the groups the six-field readers take. Whole records on every
// path, their kept values packed, are compared with the general reading by
// the year-record fuzz target, which the suite replays over its seeds on
// every path.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "input/year_plain.h"
#include "input/year_record.h"
#include "records/get.h"
#include "records/plain.h"
#include "records/read.h"

namespace brix::input {

using records::get_real;
using records::parse_plain;
using records::strip_blanks;
namespace {

const float kUnread = std::bit_cast<float>(0x7FA5A5A5u);
std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }

// A field of 10 characters: half of them plain (blanks, maybe a sign, 0 to 6
// integer digits, the point, three decimals), one in two of those with one
// character changed; the others drawn from the characters of plain fields
// and a few more, the point mostly in its place.
std::string random_field(std::mt19937& random) {
  static const char kChars[] = "          ---++.0123456789012345678901234567890123456789x\t,e";
  std::string f(10, ' ');
  if (random() % 2 == 0) {
    const int digits = static_cast<int>(random() % 7);
    for (int i = 6 - digits; i < 10; ++i) f[i] = static_cast<char>('0' + random() % 10);
    f[6] = '.';
    if (digits < 6 && random() % 3 == 0) f[5 - digits] = random() % 2 ? '-' : '+';
    if (random() % 2 == 0) f[random() % 10] = kChars[random() % (sizeof kChars - 1)];
    return f;
  }
  for (char& c : f) c = kChars[random() % (sizeof kChars - 1)];
  if (random() % 4 != 0) f[6] = '.';
  return f;
}

// The one-field readings of the year records' layout, the scalar one and the
// vector one, against the general reading of random fields: they decide the
// same fields, and those as the general reading does.
TEST(PlainFieldTest, ScalarAndVectorReadingsAgreeWithTheGeneralOne) {
  std::mt19937 random(5);
  int decided = 0;
  for (int i = 0; i < 200000; ++i) {
    std::string field = random_field(random) + "      ";  // 16 bytes readable
    const std::string_view shown(field.data(), 10);
    std::uint64_t m = 0;
    bool negative = false;
    const bool scalar = parse_plain_10_3_scalar(field.data(), m, negative);
    std::uint64_t plain_m = 0;
    int fraction = 0;
    bool plain_negative = false;
    const bool plain = parse_plain(field.data(), 10, 3, plain_m, fraction, plain_negative) &&
                       field[6] == '.';
    // A plain field of the layout, and only such a field, is taken, with its
    // digits and sign; a value it gives is the general reading's.
    ASSERT_TRUE(scalar == plain && (!plain || (m == plain_m && negative == plain_negative)))
        << "[" << shown << "]";
    float value = kUnread, general = kUnread;
    char scratch[10];
    if (plain && plain_value(m, 3, negative, value)) {
      ASSERT_TRUE(get_real(strip_blanks(scratch, shown), 3, general) && bits(value) == bits(general))
          << "[" << shown << "]";
      ++decided;
    }
#ifdef BRIX_PLAIN_SIMD
    std::uint64_t vector_m = 0;
    bool vector_negative = false;
    ASSERT_TRUE(parse_plain_10_3(field.data(), vector_m, vector_negative) == plain &&
                (!plain || (vector_m == m && vector_negative == negative)))
        << "[" << shown << "]";
#endif
  }
  EXPECT_GT(decided, 50000);
}

// The six-field readers take every whole group of plain fields they may read
// (a reader that declines is not wrong, only slow: nothing else would notice),
// and stop before a group with a kept value of 2^24 thousandths or more.
TEST(SixFieldsTest, TakeEveryWholeGroupOfPlainFieldsTheyMayRead) {
  std::string line;
  for (int k = 0; k < 18; ++k) {
    char f[11];
    std::snprintf(f, sizeof f, "%10.3f", k == 14 ? 16777.217 : (k % 3 - 1) * (k * 1234.5 + 0.007));
    line += f;
  }
  line += std::string(20, ' ');
  const std::uint8_t keep[18] = {1, 0, 1, 1, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1};
  const struct { int n; std::size_t readable; int done; } cases[] = {
      {12, 124, 12}, {11, 200, 6}, {18, 200, 12}, {12, 123, 6}};
  for (SixFields six : {six_fields_avx512(), six_fields_avx2()}) {
    if (six == nullptr) continue;  // this processor lacks its vectors
    for (const auto& c : cases) {
      std::vector<float> values(18, kUnread);
      float* out = values.data();
      ASSERT_EQ(six(line.data(), c.readable, c.n, keep, out, 15), c.done) << c.n << " " << c.readable;
      int stored = 0;
      std::size_t pos = 0;
      for (int k = 0; k < c.done; ++k) {
        float general = kUnread;
        ASSERT_TRUE(records::read_real_field(line, pos, kValueWidth, kValueDecimals, general));
        if (keep[k]) {
          EXPECT_EQ(bits(values[std::size_t(stored++)]), bits(general)) << k;
        }
      }
      EXPECT_EQ(out - values.data(), stored);
    }
  }
}

}  // namespace
}  // namespace brix::input
