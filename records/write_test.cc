#include "records/write.h"

#include <algorithm>
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
    for (std::size_t at = 0, bar; at <= c[0].size(); at = bar + 1) {  // formats in turn
      bar = std::min(c[0].find('|', at), c[0].size());
      write(out.unit(), Format(c[0].substr(at, bar - at)), values);
    }
    EXPECT_EQ(out.read(), c.back()) << c[0];
  }
}

}  // namespace brix::records::testing
