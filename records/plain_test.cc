#include "records/plain.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "records/convert.h"
#include "records/request.h"
#include "records/test_util.h"

namespace brix::records {
namespace {

// The general conversion of a field: blanks removed, then converted.
bool general(const std::string& field, int d, float& v) {
  std::string scratch(field.size(), ' ');
  return get_real(strip_blanks(scratch.data(), field), d, v);
}

TEST(PlainFieldTest, AgreesWithTheGeneralConversionBitForBit) {
  std::mt19937_64 random(7);
  std::vector<std::string> fields;
  const char* formats[] = {"%10.3f", "%10.2f", "%10.0f", "%10.1f", "%10.5f", "%9.3f"};
  for (int i = 0; i < 400000; ++i) {
    double magnitude = std::ldexp(1.0, static_cast<int>(random() % 40) - 12);
    double v = (static_cast<double>(random() % 2000001) / 1000000.0 - 1.0) * magnitude;
    char buf[64];
    std::snprintf(buf, sizeof buf, formats[random() % 6], v);
    std::string s = buf;
    if (s.size() != 10) continue;
    if (random() % 8 == 0) {  // a field without point: implied decimals
      std::string no_point;
      for (char c : s)
        if (c != '.') no_point += c;
      s = std::string(10 - no_point.size(), ' ') + no_point;
    }
    fields.push_back(s);
  }
  for (const char* s : {"     0.000", "    -0.000", "    +1.500", "-99999.999", "999999.999",
                        "         5", "        -5", "1234567890", "0000001.25", "    -.500",
                        "     .5000", "9999999999", "   16777.216", "  16777.215"}) {
    fields.push_back(s);
  }
  int plain = 0;
  for (const std::string& f : fields) {
    float fast = 0.0f, slow = 0.0f;
    if (!get_real_plain(f.data(), static_cast<int>(f.size()), 3, fast)) continue;
    ++plain;
    ASSERT_TRUE(general(f, 3, slow)) << f;
    ASSERT_EQ(std::bit_cast<std::uint32_t>(fast), std::bit_cast<std::uint32_t>(slow))
        << "[" << f << "] " << fast << " vs " << slow;
  }
  EXPECT_GT(plain, 250000);
}

TEST(PlainFieldTest, LeavesEveryOtherFormToTheGeneralConversion) {
  for (const char* s : {"  28.5    ", " 2 8.500  ", "    28,500", "   2.85e+1", "       NaN",
                        "      -inf", "    28.5x0", "          ", "   28..500", "    -  1.0",
                        "   --1.000", "  1.0-3   ", "  \t 1.000"}) {
    float v = 42.0f;
    EXPECT_FALSE(get_real_plain(s, 10, 3, v)) << "[" << s << "]";
    EXPECT_EQ(v, 42.0f);
  }
}

// Year lines with every kind of field: plain, implied decimals, commas,
// exponents, blanks inside, NaN, short lines, CRs, bad characters.
std::string messy_file(std::uint64_t seed, int points, int years) {
  std::mt19937_64 random(seed);
  std::string text = "header line\n";
  for (int y = 0; y < years; ++y) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%5d", 1800 + y);
    std::string line = buf;
    int fields = random() % 10 == 0 ? static_cast<int>(random() % points) : points + 2;
    for (int p = 0; p < fields; ++p) {
      double v = (static_cast<double>(random() % 10000000) / 1000.0 - 5000.0) /
                 static_cast<double>(1 + random() % 100);
      switch (random() % 40) {
        case 0: std::snprintf(buf, sizeof buf, "%10d", static_cast<int>(v * 1000)); break;
        case 1: std::snprintf(buf, sizeof buf, "%.2f,", v); break;
        case 2: std::snprintf(buf, sizeof buf, "%10.2e", v); break;
        case 3: std::snprintf(buf, sizeof buf, "%-10.3f", v); break;
        case 4: std::snprintf(buf, sizeof buf, "%s", "       NaN"); break;
        case 5: std::snprintf(buf, sizeof buf, "%10.6f", v / 1000.0); break;
        case 6: std::snprintf(buf, sizeof buf, "%10.1f", v * 1000.0); break;
        case 7: std::snprintf(buf, sizeof buf, "%s", "  1 2.345 "); break;
        default: std::snprintf(buf, sizeof buf, "%10.3f", v); break;
      }
      line += buf;
    }
    std::size_t bad = 5 + 10 * (random() % points);
    if (random() % 20 == 0 && bad + 10 <= line.size()) line.replace(bad, 10, "    29.5x0");
    if (random() % 15 == 0) line += "\r";
    text += line + "\n";
  }
  return text;
}

TEST(PlainFieldTest, YearRecordsReadTheSameWithAndWithoutTheFastPath) {
  static const Format record("(i5,12000f10.3)");
  constexpr int kPoints = 3000, kYears = 400, kStride = kYears;
  const std::string text = messy_file(11, kPoints, kYears);
  std::vector<float> values[2];
  std::vector<Outcome> outcomes[2];
  for (int fast = 0; fast < 2; ++fast) {
    use_fast_fields(fast == 1);
    testing::InputUnit in(text);
    values[fast].assign(std::size_t{kPoints} * kStride, -1.0f);
    std::string_view header;
    ASSERT_TRUE(in.unit().next_line(header));
    for (int r = 0; r < kYears; ++r) {
      std::int32_t year = 0;
      outcomes[fast].push_back(
          read(in.unit(), record,
               {Target::integer(year), Target::reals(&values[fast][static_cast<std::size_t>(r)],
                                                     kPoints, kStride)},
               Handles::kErrorsAndEnd));
    }
  }
  use_fast_fields(true);
  ASSERT_EQ(outcomes[0], outcomes[1]);
  int errors = 0;
  for (Outcome o : outcomes[0]) errors += o == Outcome::kError;
  EXPECT_GT(errors, 5) << "the file holds bad lines";
  EXPECT_LT(errors, kYears / 2);
  for (std::size_t i = 0; i < values[0].size(); ++i) {
    ASSERT_EQ(std::bit_cast<std::uint32_t>(values[0][i]), std::bit_cast<std::uint32_t>(values[1][i]))
        << "value " << i / kStride + 1 << " of record " << i % kStride + 1;
  }
}

}  // namespace
}  // namespace brix::records
