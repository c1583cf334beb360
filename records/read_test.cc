#include "records/read.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

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
  std::vector<std::vector<std::string>> rows = cases("request.txt", "year");
  for (auto& c : rows) c.insert(c.begin(), "(i5,12000f10.3)");
  for (auto& c : cases("request.txt", "read")) rows.push_back(c);
  for (auto& row : rows) {
    const std::vector<std::string> c(row.begin() + 1, row.end());
    InputUnit in(c[1]);
    std::int32_t year = -1;
    float v[6] = {-1, -1, -1, -1, -1, -1};  // three at a stride of 2
    const Handles handles = c[0] == "errors" ? Handles::kErrors : Handles::kErrorsAndEnd;
    Outcome o = read(in.unit(), Format(row[0]), {Target::integer(year), Target::reals(v, 3, 2)},
                     handles);
    EXPECT_EQ(kOutcomes[int(o)] + " " + std::to_string(year), c[2] + " " + c[3]) << c[1];
    for (int i = 0; i < 3; ++i)
      EXPECT_TRUE(bits(v[2 * i]) == bits(real(c[4 + i])) && v[2 * i + 1] == -1) << c[1] << " " << i;
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
