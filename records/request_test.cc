#include "records/request.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "records/test_util.h"

namespace brix::records {
namespace {

using testing::InputUnit;
using testing::OutputUnit;

TEST(WriteTest, QuestionLineThenEchoMakeOneLineFeed) {
  OutputUnit out;
  static const Format question("(/1x,'Enter file name for XY coordinates',t45,'==> ',$)");
  static const Format echo("(/1x,'XY coordinates file opened: ',a)");
  TextField<80> name;
  name.chars[0] = 'x';
  write(out.unit(), question);
  std::string after_question = out.text();
  EXPECT_EQ(after_question, "\n Enter file name for XY coordinates         ==> ");
  EXPECT_EQ(after_question.size(), 1u + 48u);
  write(out.unit(), echo, {name});
  EXPECT_EQ(out.text(), after_question + "\n XY coordinates file opened: x" +
                            std::string(79, ' ') + "\n");
}

TEST(WriteTest, Layouts) {
  const struct {
    const char* format;
    std::vector<Value> values;
    const char* text;
  } cases[] = {
      {"(/1x,'Grid points read in is: ',i5)", {std::int32_t{0}},
       "\n Grid points read in is:     0\n"},
      {"(/1x,'Recon data read in: ',3i6)", {std::int32_t{0}, std::int32_t{-1}, std::int32_t{0}},
       "\n Recon data read in:      0    -1     0\n"},
      {"(/1x,'Deep convection threshold used: ',f5.0)", {28.0f},
       "\n Deep convection threshold used:   28.\n"},
      {"(' ')", {}, " \n"},
      {"(/t2,'*** a ***'/t2,' *** b ***'/)", {}, "\n *** a ***\n  *** b ***\n\n"},
      {"(i5,f7.3,3f8.2)", {std::int32_t{1950}, 0.5f, 1.0f, 2.0f, 3.0f},
       " 1950  0.500    1.00    2.00    3.00\n"},
      // Values used up: the rest stops at the next data descriptor.
      {"(i5,' a',i5,' b')", {std::int32_t{1}}, "    1 a\n"},
      // T moves either way; columns never written are blanks.
      {"(t10,'x',t3,'y')", {}, "  y      x\n"},
      {"(5x,'a',10x)", {}, "     a\n"},
  };
  for (const auto& c : cases) {
    OutputUnit out;
    write(out.unit(), Format(c.format), c.values);
    EXPECT_EQ(out.text(), c.text) << c.format;
  }
}

TEST(WriteTest, AWritesTheWholeField) {
  OutputUnit out;
  TextField<4> t;
  t.chars[1] = 'b';
  write(out.unit(), Format("('[',a,']')"), {t});
  EXPECT_EQ(out.text(), "[ b  ]\n");
}

TEST(ReadTest, TextFields) {
  const struct {
    std::string line;
    std::string field;
  } cases[] = {
      {"", std::string(80, ' ')},
      {"  name.txt", "  name.txt" + std::string(70, ' ')},
      {std::string(100, 'a'), std::string(80, 'a')},
      {"a,b c", "a,b c" + std::string(75, ' ')},
  };
  static const Format a("(a)");
  for (const auto& c : cases) {
    InputUnit in(c.line + "\nnext\n");
    TextField<80> field;
    std::string whole;
    ASSERT_EQ(read(in.unit(), a, {Target::text(field, &whole)}, Handles::kNeither),
              Outcome::kDone);
    EXPECT_EQ(std::string(field.view()), c.field);
    EXPECT_EQ(whole, c.line);
    // The next request starts on the next line.
    ASSERT_EQ(read(in.unit(), a, {Target::text(field)}, Handles::kNeither), Outcome::kDone);
    EXPECT_EQ(std::string(field.view()).substr(0, 5), "next ");
  }
}

struct YearCase {
  const char* name;
  std::string line;
  Outcome outcome;
  std::int32_t year;
  std::vector<float> values;
};

TEST(ReadTest, YearRecords) {
  static const Format record("(i5,12000f10.3)");
  const YearCase cases[] = {
      {"fixed fields", " 1950    28.500    29.250", Outcome::kDone, 1950, {28.5f, 29.25f, 0.0f}},
      {"commas end fields", "1950 28.5,29.25", Outcome::kDone, 1950, {28.5f, 29.25f, 0.0f}},
      {"comma separated throughout", "1950,28.5,29.25,30", Outcome::kDone, 1950,
       {28.5f, 29.25f, 0.030f}},
      {"implied decimals", " 1951      1234      -500         5", Outcome::kDone, 1951,
       {1.234f, -0.5f, 0.005f}},
      {"short line: missing fields read 0", " 1952    27.000", Outcome::kDone, 1952,
       {27.0f, 0.0f, 0.0f}},
      {"empty line", "", Outcome::kDone, 0, {0.0f, 0.0f, 0.0f}},
      {"more fields than variables", " 1953         1         2         3         4",
       Outcome::kDone, 1953, {0.001f, 0.002f, 0.003f}},
      {"blanks inside the year", "19 50", Outcome::kDone, 1950, {0.0f, 0.0f, 0.0f}},
      {"illegal character in a value", " 1954    28.500       abc", Outcome::kError, 1954,
       {28.5f, -1.0f, -1.0f}},
      {"decimal point in the year", "12.5     1.000", Outcome::kError, -1, {-1.0f, -1.0f, -1.0f}},
      {"NaN and infinity", " 1955       NaN      -inf", Outcome::kDone, 1955,
       {std::bit_cast<float>(0x7FC00000u), -std::numeric_limits<float>::infinity(), 0.0f}},
  };
  for (const auto& c : cases) {
    InputUnit in(c.line + "\n");
    std::int32_t year = -1;
    // Three values at a stride of 2, as the columns of a year-major matrix.
    float values[6] = {-1, -1, -1, -1, -1, -1};
    Outcome got = read(in.unit(), record,
                       {Target::integer(year), Target::reals(values, 3, 2)}, Handles::kErrors);
    EXPECT_EQ(got, c.outcome) << c.name;
    EXPECT_EQ(year, c.year) << c.name;
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(std::bit_cast<std::uint32_t>(values[2 * i]),
                std::bit_cast<std::uint32_t>(c.values[static_cast<std::size_t>(i)]))
          << c.name << " value " << i + 1;
      EXPECT_EQ(values[2 * i + 1], -1.0f) << "stride respected";
    }
  }
}

TEST(ReadTest, OutcomesAgainstWhatTheCallerHandles) {
  std::int32_t v = 0;
  static const Format i5("(i5)");
  {
    InputUnit in("");
    EXPECT_EQ(read(in.unit(), i5, {Target::integer(v)}, Handles::kErrorsAndEnd), Outcome::kEnd);
    EXPECT_EQ(read(in.unit(), i5, {Target::integer(v)}, Handles::kErrors), Outcome::kError);
  }
  {
    InputUnit in("x\n  -7\n");
    EXPECT_EQ(read(in.unit(), i5, {Target::integer(v)}, Handles::kErrors), Outcome::kError);
    EXPECT_EQ(read(in.unit(), i5, {Target::integer(v)}, Handles::kErrors), Outcome::kDone);
    EXPECT_EQ(v, -7);
  }
}

TEST(ReadDeathTest, UnhandledOutcomesEndTheRun) {
  EXPECT_EXIT(
      {
        InputUnit in("");
        std::int32_t v;
        read(in.unit(), Format("(i5)"), {Target::integer(v)}, Handles::kNeither);
      },
      ::testing::ExitedWithCode(255),
      "^\\? Run-Time Error:\n\\? Attempt to read past end of file\n\\? READ\\(UNIT=10,\\.\\.\\.\n$");
  EXPECT_EXIT(
      {
        InputUnit in("abc\n");
        std::int32_t v;
        read(in.unit(), Format("(i5)"), {Target::integer(v)}, Handles::kNeither);
      },
      ::testing::ExitedWithCode(255),
      "^\\? Run-Time Error:\n\\? Illegal character in numeric input\n\\? READ\\(UNIT=10,\\.\\.\\.\n$");
}

}  // namespace
}  // namespace brix::records
