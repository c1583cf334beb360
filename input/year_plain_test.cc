// The one-field readings of the year records' layout against the general
// reading, and the groups the group readers take. Whole records with every
// kernel, their kept values packed, are compared with the general reading by
// the year-record fuzz target, which the suite replays over its seeds with
// every kernel.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
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
  static const char kChars[] = "          ---++.0123456789012345678901234567890123456789x\t,e/:";
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

// The group readers against the one-field reading, on lines of random
// fields, most of them plain, with random kept fields and lengths: each takes
// exactly the whole groups of plain fields it may read (one that declined
// would not be wrong, only slow: nothing else would notice) and stops before
// a kept value of 2^24 thousandths or more, at that field (AVX2) or at its
// group (AVX-512); the values it stores are the general reading's, and it
// writes nothing past them.
TEST(PlainFieldsTest, TakeEveryWholeGroupOfPlainFieldsTheyMayRead) {
  const struct {
    const char* name;
    PlainFields read;
    int group;             // fields
    std::size_t readable;  // bytes a group needs from its start
    bool stops_at_value;   // before a large value itself, not at its group
  } readers[] = {{"avx512", plain_fields_avx512(), 6, 64, false},
                 {"avx2", plain_fields_avx2(), 16, 166, true}};
  std::mt19937 random(7);
  for (const auto& reader : readers) {
    if (reader.read == nullptr) continue;  // this processor lacks its vectors
    for (int trial = 0; trial < 4000; ++trial) {
      const int n = static_cast<int>(random() % 70);
      std::string line;
      std::vector<std::uint8_t> keep(static_cast<std::size_t>(n));
      int first_other = n, first_large = n;  // the first field of another form, large kept value
      for (int k = 0; k < n; ++k) {
        std::string field;
        if (random() % 64 == 0) {
          // 2^24 + 1, 2^24 and 2^24 - 1 thousandths
          field = std::array{" 16777.217", "-16777.216", " 16777.215"}[random() % 3];
        } else if (random() % 32 == 0) {
          field = random_field(random);
        } else {
          char f[12];
          std::snprintf(f, sizeof f, "%10.3f",
                        static_cast<double>(static_cast<int>(random() % 2000001) - 1000000) /
                            (random() % 2 ? 1000.0 : 100000.0));
          field = f;
        }
        keep[std::size_t(k)] = random() % 3 == 0;
        std::uint64_t m = 0;
        bool negative = false;
        const bool plain = parse_plain_10_3_scalar(field.data(), m, negative) &&
                           !(field[0] >= '0' && field[0] <= '9');
        if (!plain && first_other == n) first_other = k;
        if (plain && keep[std::size_t(k)] && m >= (1u << 24) && first_large == n) first_large = k;
        line += field;
      }
      const std::size_t readable = line.size() + random() % 200;
      line.resize(readable + 16, ' ');
      int groups = 0;
      while ((groups + 1) * reader.group <= std::min(n, first_other) &&
             std::size_t(10 * groups * reader.group) + reader.readable <= readable)
        ++groups;
      int expected = groups * reader.group;
      if (first_large < expected)
        expected = reader.stops_at_value ? first_large : first_large / reader.group * reader.group;

      std::vector<float> values(std::size_t(n) + 8, kUnread);
      float* out = values.data();
      const int done = reader.read(line.data(), readable, n, keep.data(), out);
      ASSERT_EQ(done, expected) << reader.name << " n " << n << " readable " << readable;
      std::size_t stored = 0, pos = 0;
      for (int k = 0; k < done; ++k) {
        float general = kUnread;
        ASSERT_TRUE(records::read_real_field(line, pos, kValueWidth, kValueDecimals, general));
        if (keep[std::size_t(k)]) {
          ASSERT_EQ(bits(values[stored++]), bits(general))
              << reader.name << " field " << k << " [" << line.substr(10 * k, 10) << "]";
        }
      }
      ASSERT_EQ(out - values.data(), std::ptrdiff_t(stored)) << reader.name;
      for (std::size_t i = stored; i < values.size(); ++i)
        ASSERT_EQ(bits(values[i]), bits(kUnread)) << reader.name << " wrote past its values";
    }
  }
}

}  // namespace
}  // namespace brix::input
