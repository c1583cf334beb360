// Year records of every field form: the kept values, read six fields at a
// time (where the processor can) and one at a time, against every value read
// the general way and the kept ones picked out. The same outcome, and the same bits in the
// same places, whatever the forms around a field and whichever are kept.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "records/request.h"

namespace brix::records {
namespace {

TEST(SixFieldsTest, AgreeWithOneAtATime) {
  // Runs of kept values that start inside a line, and seven fields of another
  // layout between them.
  static const Format kYear("(i5,7f10.3,7f9.3,12000f10.3)");
  const char* forms[] = {"    28.512", "   -28.512", "   +28.512", "     -.001", "      .000",
                         "    -0.000", " 16777.215", " 16777.216", "-16777.219", "100000.001",
                         "  12 3.456", "  -+12.345", "  12-3.456", "  - 12.345", "     28512",
                         "   28.5   ", "   28,512 ", "       abc", "          ", "    28.5e1",
                         "    +-.001", "28.512    ", "\t   28.512", "  1234.567", " -9876.543",
                         "   123.456"};
  const float kUnread = std::bit_cast<float>(0x7FA5A5A5u);
  std::mt19937 random(11);
  for (int line = 0; line < 4000; ++line) {
    const int n = 6 + static_cast<int>(random() % 30);
    const unsigned kept = random() % 4;  // none, a third, two thirds or all of the fields
    std::string text = " 1950";
    std::vector<std::uint8_t> keep;
    for (int k = 0; k < n; ++k) {
      // Mostly plain fields, so that whole groups of six occur.
      text += random() % 4 != 0 ? forms[random() % 2] : forms[random() % std::size(forms)];
      keep.push_back(static_cast<std::uint8_t>(random() % 3 < kept));
    }
    // Every value, read the general way, then the kept ones picked out.
    std::vector<float> all(static_cast<std::size_t>(n), kUnread), expected;
    std::int32_t year = 0;
    use_fast_fields(false);
    const Outcome outcome =
        read_line(text, kYear, {Target::integer(year), Target::reals(all.data(), n, 1)});
    use_fast_fields(true);
    for (int k = 0; k < n; ++k)
      if (keep[k]) expected.push_back(all[k]);
    for (bool wide : {false, true}) {
      use_wide_fields(wide);
      std::vector<float> values(expected.size(), kUnread);
      EXPECT_EQ(
          read_line(text, kYear,
                    {Target::integer(year), Target::kept_reals(values.data(), n, keep.data())}),
          outcome)
          << text;
      for (std::size_t k = 0; k < values.size(); ++k)
        ASSERT_EQ(std::bit_cast<std::uint32_t>(values[k]),
                  std::bit_cast<std::uint32_t>(expected[k]))
            << "kept value " << k << (wide ? " six at a time of " : " one at a time of ") << text;
    }
    use_wide_fields(true);
  }
}

}  // namespace
}  // namespace brix::records
