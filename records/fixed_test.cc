#include "records/fixed.h"

#include <climits>
#include <string>

#include "records/test_util.h"

namespace brix::records::testing {

TEST(FixedTest, FieldsAsPrintfPrintsThem) {
  const struct {
    std::int32_t v;
    int w, d;
    const char* field;
  } kCases[] = {{28512, 10, 3, "    28.512"},     {-1, 10, 3, "    -0.001"},
                {0, 10, 3, "     0.000"},         {-99999999, 10, 3, "-99999.999"},
                {999999999, 10, 3, "999999.999"}, {-100000000, 10, 3, "**********"},
                {INT32_MIN, 10, 3, "**********"}, {-500, 7, 2, "  -5.00"}};
  for (const auto& c : kCases) {
    std::string field(std::size_t(c.w) + 1, '?');  // one column more, which must stay
    put_fixed_field(field.data(), c.w, c.d, c.v);
    EXPECT_EQ(field, c.field + std::string("?")) << c.v;
    if (c.field[0] == '*') continue;
    std::string text(16, '?');  // the value alone, and nothing after it
    text.resize(put_fixed(text.data(), c.v, c.d) + 1);
    EXPECT_EQ(text, std::string(c.field).substr(std::string(c.field).find_first_not_of(' ')) + "?");
  }
}

}  // namespace brix::records::testing
