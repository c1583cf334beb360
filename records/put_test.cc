#include "records/put.h"

#include "records/test_util.h"

namespace brix::records::testing {

TEST(PutTest, OutputFields) {
  ASSERT_EQ(bits(real("-nan")), 0xFFC00000u) << "the NaN of the tables";
  for (const auto& c : cases("convert.txt", "out")) {
    int w = 0, d = 0;
    std::sscanf(c[0].c_str() + 1, "%d.%d", &w, &d);
    std::string field(std::size_t(w) + 1, '?');  // one column more, which must stay
    if (c[0][0] == 'I') put_integer(field.data(), w, std::stoi(c[1]));
    else put_real(field.data(), w, d, real(c[1]));
    EXPECT_EQ(field, c[2] + "?") << c[0] << " of " << c[1];
  }
}

}  // namespace brix::records::testing
