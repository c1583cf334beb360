#include "records/format.h"

#include "records/test_util.h"

namespace brix::records::testing {

TEST(FormatTest, FormatTextsAndTheirDescriptors) {
  for (const auto& c : cases("format.txt", "format")) {
    std::string written;  // the descriptors in the notation of the table
    try {
      const Format format(c[0]);
      for (const Descriptor& d : format.descriptors()) {
        const std::string n = std::to_string(d.n), w = std::to_string(d.w);
        const std::string forms[] = {
            "/", n + "x", "t" + n, "'" + d.text + "'",
            "$", "a",     "i" + w, "f" + w + "." + std::to_string(d.d)};  // in the order of Edit
        written += (d.repeat != 1 ? std::to_string(d.repeat) : "") + forms[int(d.edit)] + " ";
      }
    } catch (const std::invalid_argument& e) {
      written = std::string("error: ") + e.what() + " ";
    }
    EXPECT_EQ(written, c[1] + " ") << c[0];
  }
}

}  // namespace brix::records::testing
