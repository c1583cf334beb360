#include "records/read.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

#include "records/test_util.h"

namespace brix::records::testing {

TEST(ReadTest, TextFieldsTakeTheFirst80CharactersOfALine) {
  for (const std::string& line : {std::string(), std::string("  name.txt"), std::string("a,b c"),
                                  std::string(99, 'a')}) {
    InputUnit in(line + "\nnext\n");
    TextField<80> field[2];
    std::string whole;
    read(in.unit(), Format("(a)"), {Target::text(field[0], &whole)}, Handles::kNeither);
    read(in.unit(), Format("(a)"), {Target::text(field[1])}, Handles::kNeither);  // the next line
    EXPECT_EQ(field[0].view(), (line + std::string(80, ' ')).substr(0, 80));
    EXPECT_EQ(whole + "|" + std::string(field[1].view()), line + "|next" + std::string(76, ' '));
  }
}

TEST(ReadTest, YearRecords) {
  for (const std::string tag : {"year", "read"}) {
    for (auto c : cases("request.txt", tag)) {
      // "read" rows name their format first.
      const std::string format = tag == "read" ? c[0] : "(i5,12000f10.3)";
      if (tag == "read") c.erase(c.begin());
      InputUnit in(c[1]);
      std::int32_t year = -1;
      float v[6] = {-1, -1, -1, -1, -1, -1};  // three at a stride of 2
      const Handles handles = c[0] == "errors" ? Handles::kErrors : Handles::kErrorsAndEnd;
      Outcome o = read(in.unit(), Format(format), {Target::integer(year), Target::reals(v, 3, 2)},
                       handles);
      EXPECT_EQ(kOutcomes[int(o)] + " " + std::to_string(year), c[2] + " " + c[3]) << c[1];
      for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(bits(v[2 * i]) == bits(real(c[4 + i])) && v[2 * i + 1] == -1)
            << c[1] << " " << i;
    }
  }
  // A value of the other kind than its descriptor's is the caller's mistake.
  InputUnit in("1\n1\n");
  std::int32_t n = 0;
  float x = 0;
  EXPECT_THROW(read(in.unit(), Format("(f5.0)"), {Target::integer(n)}, Handles::kErrors),
               std::invalid_argument);
  EXPECT_THROW(read(in.unit(), Format("(i5)"), {Target::reals(&x, 1, 1)}, Handles::kErrors),
               std::invalid_argument);
}

TEST(ReadDeathTest, UnhandledOutcomesEndTheRun) {
  for (const auto& [input, what] : {std::pair{"", "Attempt to read past end of file"},
                                    {"abc\n", "Illegal character in numeric input"}}) {
    const std::string err = "? Run-Time Error:\n? " + std::string(what) + "\n? READ(UNIT=10,...\n";
    std::int32_t v;
    // The file is made here, outside the child, which ends without removing
    // what it made.
    InputUnit in(input);
    EXPECT_EXIT(read(in.unit(), Format("(i5)"), {Target::integer(v)}, Handles::kNeither),
                ::testing::ExitedWithCode(255), ::testing::Eq(err));
  }
}

}  // namespace brix::records::testing
