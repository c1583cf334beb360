// Year records of every field form, read on every path this processor has
// against the general reading: the kept values (six at a time where the path
// can, one at a time elsewhere) and every value at a stride. The same
// outcome, and the same bits in the same places, whatever the forms around a
// field and whichever are kept.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "records/convert.h"
#include "records/plain.h"
#include "records/request.h"

namespace brix::records {
namespace {

const float kUnread = std::bit_cast<float>(0x7FA5A5A5u);

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

// Restores the widest path after a test, whatever happened.
struct WidestAfter {
  ~WidestAfter() { use_field_path(widest_field_path()); }
};

TEST(SixFieldsTest, EveryPathAgreesWithTheGeneralReading) {
  // Runs of kept values that start inside a line, and seven fields of another
  // layout between them.
  static const Format kYear("(i5,7f10.3,7f9.3,12000f10.3)");
  const char* forms[] = {"    28.512", "   -28.512", "   +28.512", "     -.001", "      .000",
                         "    -0.000", " 16777.215", " 16777.216", "-16777.219", "100000.001",
                         "  12 3.456", "  -+12.345", "  12-3.456", "  - 12.345", "     28512",
                         "   28.5   ", "   28,512 ", "       abc", "          ", "    28.5e1",
                         "    +-.001", "28.512    ", "\t   28.512", "  1234.567", " -9876.543",
                         "   123.456", "99999.999 ", "-99999.999", " 99999.999", "+  123.456"};
  WidestAfter restore;
  const std::vector<FieldPath> paths = available_field_paths();
  std::mt19937 random(11);
  for (int line = 0; line < 3000; ++line) {
    const int n = 6 + static_cast<int>(random() % 40);
    const unsigned kept = random() % 4;  // none, a third, two thirds or all of the fields
    std::string text = " 1950";
    std::vector<std::uint8_t> keep;
    for (int k = 0; k < n; ++k) {
      // Mostly plain fields, so that whole groups of six occur.
      const unsigned form = random() % 8;
      text += form < 5   ? forms[random() % 3]
              : form < 7 ? forms[random() % std::size(forms)]
                         : random_field(random);
      // Any value not 0 keeps a field.
      keep.push_back(static_cast<std::uint8_t>(random() % 3 < kept ? 1 + random() % 255 : 0));
    }
    if (random() % 3 == 0) text.resize(text.size() - random() % 12);  // the last fields short
    // Every value, read the general way, then the kept ones picked out:
    // after an error, those before the failing field.
    std::vector<float> all(static_cast<std::size_t>(n), kUnread), expected;
    std::int32_t year = 0;
    ASSERT_TRUE(use_field_path(FieldPath::kGeneral));
    const Outcome outcome =
        read_line(text, kYear, {Target::integer(year), Target::reals(all.data(), n, 1)});
    std::size_t places = 0;  // of all kept values
    for (int k = 0; k < n; ++k) {
      places += keep[k] != 0;
      if (keep[k] && std::bit_cast<std::uint32_t>(all[k]) != 0x7FA5A5A5u) expected.push_back(all[k]);
    }
    for (FieldPath path : paths) {
      ASSERT_TRUE(use_field_path(path));
      const std::string_view name = field_path_name(path);
      std::vector<float> values(places + 8, kUnread);
      EXPECT_EQ(
          read_line(text, kYear,
                    {Target::integer(year), Target::kept_reals(values.data(), n, keep.data())}),
          outcome)
          << name << ": " << text;
      // The values stored; the places of the kept values after them may
      // have been written after an error, and nothing past them.
      for (std::size_t k = 0; k < values.size(); ++k)
        if (k < expected.size() || k >= places || outcome == Outcome::kDone) {
          ASSERT_EQ(std::bit_cast<std::uint32_t>(values[k]),
                    std::bit_cast<std::uint32_t>(k < expected.size() ? expected[k] : kUnread))
              << "kept value " << k << " on the " << name << " path of " << text;
        }
      // Every value, at a stride of 2: the gaps stay untouched.
      std::vector<float> strided(2 * static_cast<std::size_t>(n), kUnread);
      EXPECT_EQ(
          read_line(text, kYear, {Target::integer(year), Target::reals(strided.data(), n, 2)}),
          outcome)
          << name << ": " << text;
      for (int k = 0; k < n; ++k) {
        ASSERT_EQ(std::bit_cast<std::uint32_t>(strided[2 * k]), std::bit_cast<std::uint32_t>(all[k]))
            << "value " << k << " on the " << name << " path of " << text;
        ASSERT_EQ(std::bit_cast<std::uint32_t>(strided[2 * k + 1]), 0x7FA5A5A5u);
      }
    }
  }
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
    ASSERT_EQ(scalar, plain) << "[" << shown << "]";
    if (plain) {
      ASSERT_EQ(m, plain_m) << "[" << shown << "]";
      ASSERT_EQ(negative, plain_negative) << "[" << shown << "]";
      float value = kUnread, general = kUnread;
      char scratch[10];
      if (plain_value(m, 3, negative, value)) {
        ASSERT_TRUE(get_real(strip_blanks(scratch, shown), 3, general));
        ASSERT_EQ(std::bit_cast<std::uint32_t>(value), std::bit_cast<std::uint32_t>(general))
            << "[" << shown << "]";
        ++decided;
      }
    }
#ifdef BRIX_PLAIN_SIMD
    std::uint64_t vector_m = 0;
    bool vector_negative = false;
    const bool vector = parse_plain_10_3(field.data(), vector_m, vector_negative);
    ASSERT_EQ(vector, plain) << "[" << shown << "]";
    if (vector) {
      EXPECT_TRUE(vector_m == m && vector_negative == negative) << "[" << shown << "]";
    }
#endif
  }
  EXPECT_GT(decided, 50000);
}

}  // namespace
}  // namespace brix::records
