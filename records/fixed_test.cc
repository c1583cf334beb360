#include "records/fixed.h"

#include <climits>
#include <string>

#include "records/test_util.h"

namespace brix::records::testing {

TEST(FixedTest, FieldsAsPrintfPrintsThem) {
  const struct { std::int32_t v; int w, d; const char* field; } kCases[] = {
      {28512, 10, 3, "    28.512"}, {-1, 10, 3, "    -0.001"}, {0, 10, 3, "     0.000"},
      {-99999999, 10, 3, "-99999.999"}, {999999999, 10, 3, "999999.999"},
      {-100000000, 10, 3, "**********"}, {INT32_MIN, 10, 3, "**********"}, {-500, 7, 2, "  -5.00"}};
  for (const auto& c : kCases) {
    std::string field(std::size_t(c.w) + 1, '?');  // one column more, which must stay
    put_fixed_field(field.data(), c.w, c.d, c.v);
    EXPECT_EQ(field, c.field + std::string("?")) << c.v;
  }
}

}  // namespace brix::records::testing
