#include "records/request.h"

#include <cstdlib>
#include <string>

#include "records/freeform.h"
#include "records/test_util.h"

namespace brix::records::testing {

TEST(WriteTest, QuestionLineThenEchoMakeOneLineFeed) {
  OutputUnit out;
  TextField<80> name;
  name.chars[0] = 'x';
  write(out.unit(), Format("(/1x,'Enter file name for XY coordinates',t45,'==> ',$)"));
  const std::string asked = "\n Enter file name for XY coordinates         ==> ";
  EXPECT_EQ(out.read(), asked);
  write(out.unit(), Format("(/1x,'XY coordinates file opened: ',a,'|')"), {name});
  EXPECT_EQ(out.read(), asked + "\n XY coordinates file opened: x" + std::string(79, ' ') + "|\n");
}

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
  for (const auto& c : cases("request.txt", "year")) {
    InputUnit in(c[1]);
    std::int32_t year = -1;
    float v[6] = {-1, -1, -1, -1, -1, -1};  // three at a stride of 2
    const Handles handles = c[0] == "errors" ? Handles::kErrors : Handles::kErrorsAndEnd;
    Outcome o = read(in.unit(), Format("(i5,12000f10.3)"),
                     {Target::integer(year), Target::reals(v, 3, 2)}, handles);
    EXPECT_EQ(kOutcomes[int(o)] + " " + std::to_string(year), c[2] + " " + c[3]) << c[1];
    for (int i = 0; i < 3; ++i)
      EXPECT_TRUE(bits(v[2 * i]) == bits(real(c[4 + i])) && v[2 * i + 1] == -1) << c[1] << " " << i;
  }
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

TEST(FreeFormTest, Requests) {
  for (const auto& c : cases("freeform.txt", "free")) {
    InputUnit in(c[1]);
    std::int32_t i = 99;
    float f[3] = {1, -1, 2};  // a run of reals takes every other element
    Target t = c[0] == "i" ? Target::integer(i) : Target::reals(f, c[0] == "ff" ? 2 : 1, 2);
    EXPECT_EQ(kOutcomes[int(read_free(in.unit(), {t}, Handles::kErrorsAndEnd))], c[2]) << c[1];
    EXPECT_TRUE(c[0] == "i" ? i == std::stoi(c[3])
                            : f[0] == real(c[3]) && f[2] == (c[0] == "ff" ? real(c[4]) : 2))
        << c[1] << " gave " << i << ", " << f[0] << ", " << f[2];
    EXPECT_EQ(f[1], -1.0f) << c[1];
  }
}

}  // namespace brix::records::testing
