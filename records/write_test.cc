#include "records/write.h"

#include <string>
#include <vector>

#include "records/test_util.h"

namespace brix::records::testing {

TEST(WriteTest, Layouts) {
  for (const auto& c : cases("request.txt", "write")) {
    std::vector<Value> values;  // between the format and the text; a real has a point
    for (auto v = c.begin() + 1; v + 1 != c.end(); ++v)
      values.push_back(v->find('.') == std::string::npos ? Value(std::stoi(*v)) : Value(real(*v)));
    OutputUnit out;
    write(out.unit(), Format(c[0]), values);
    EXPECT_EQ(out.read(), c.back()) << c[0];
  }
}

}  // namespace brix::records::testing
