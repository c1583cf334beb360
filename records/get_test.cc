#include "records/get.h"

#include <string>
#include <vector>

#include "records/plain.h"
#include "records/test_util.h"

namespace brix::records::testing {

TEST(GetTest, RealInput) {
  for (const auto& c : cases("convert.txt", "in")) {
    std::string scratch(c[0].size(), ' ');
    float v = 7.0f;
    const bool ok = get_real(strip_blanks(scratch.data(), c[0]), std::stoi(c[1]), v);
    EXPECT_TRUE(c[2] == "error" ? !ok && v == 7.0f : ok && bits(v) == bits(real(c[2])))
        << c[0] << " read " << v;
  }
}

TEST(GetTest, IntegerInput) {
  for (const auto& c : cases("convert.txt", "int")) {
    std::string scratch(c[0].size(), ' ');
    std::int32_t v[2] = {42, 42};  // a failed conversion leaves them alone
    const bool ok[2] = {get_integer_field(strip_blanks(scratch.data(), c[0]), v[0]),
                        get_integer_value(c[0], v[1])};
    for (int i = 0; i < 2; ++i)  // as an Iw field, then as a free-form value
      EXPECT_EQ(ok[i] ? std::to_string(v[i]) : v[i] == 42 ? "error" : "changed", c[1 + i]) << c[0];
  }
}

// The fields of the case table: those the plain conversion takes read as the
// general conversion reads them. (Random fields are compared so by the
// year-record tests and fuzz target, through the year-record reader.)
TEST(PlainFieldTest, FieldsReadAsByTheGeneralConversion) {
  for (const auto& c : cases("plain.txt", "field")) {
    float fast = 42.0f, slow = 0;
    const bool plain = get_real_plain(c[0].data(), int(c[0].size()), 3, fast);
    EXPECT_EQ(plain ? "plain" : fast == 42.0f ? "other" : "changed", c[1]) << "[" << c[0] << "]";
    std::string scratch(c[0].size(), ' ');
    EXPECT_TRUE(!plain || (get_real(strip_blanks(scratch.data(), c[0]), 3, slow) &&
                           bits(fast) == bits(slow)))
        << "[" << c[0] << "] " << fast << " vs " << slow;
  }
}

}  // namespace brix::records::testing
