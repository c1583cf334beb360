#include "records/unit.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "records/test_util.h"

namespace brix::records {
namespace {

using testing::InputUnit;
using testing::TempFile;

std::vector<std::string> lines_of(const std::string& text) {
  InputUnit in(text);
  std::vector<std::string> out;
  std::string_view line;
  while (in.unit().next_line(line)) out.emplace_back(line);
  return out;
}

TEST(UnitTest, LinesRead) {
  using V = std::vector<std::string>;
  const struct {
    const char* name;
    std::string text;
    V lines;
  } cases[] = {
      {"empty file", "", {}},
      {"last line without LF", "a\nb", {"a", "b"}},
      {"two LFs at the end", "a\n\n", {"a", ""}},
      {"CR LF", "a\r\nb\r\n", {"a", "b"}},
      {"CR anywhere", "a\rb\r", {"ab"}},
      {"CR alone as line end", "a\rb\rc\r", {"abc"}},
      {"tab in column 1", "\tx", {"        x"}},
      {"tab after 3", "abc\tx", {"abc     x"}},
      {"tab after 8", "12345678\tx", {"12345678        x"}},
      {"tabs in a row", "a\t\tb", {"a               b"}},
      {"CR before a tab counts nothing", "ab\r\tc", {"ab      c"}},
      {"NUL bytes are characters", std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
  };
  for (const auto& c : cases) EXPECT_EQ(lines_of(c.text), c.lines) << c.name;
}

TEST(UnitTest, LinesHaveNoLengthLimit) {
  std::string big(6u << 20, 'x');  // longer than the read chunk
  big[123] = '\t';
  std::string text = "short\n" + big + "\nafter";
  auto lines = lines_of(text);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "short");
  EXPECT_EQ(lines[1].size(), big.size() + 4);  // the tab after 123 characters is 5 blanks
  EXPECT_EQ(lines[1].substr(120, 12), "xxx     xxxx");
  EXPECT_EQ(lines[2], "after");
}

TEST(UnitTest, OpenOldFailsQuietly) {
  TempFile file("x\n");
  Unit unit("10", -1, -1, false);
  EXPECT_FALSE(unit.open_old(""));
  EXPECT_FALSE(unit.open_old("     "));
  EXPECT_FALSE(unit.open_old("/nonexistent/brix"));
  EXPECT_FALSE(unit.open_old("/tmp"));  // a directory
  EXPECT_FALSE(unit.open_old(std::string(file.path()) + std::string("\0x", 2)));
  EXPECT_FALSE(unit.is_open());
  ASSERT_TRUE(unit.open_old("  " + file.path() + "   "));
  std::string_view line;
  ASSERT_TRUE(unit.next_line(line));
  EXPECT_EQ(line, "x");
  EXPECT_FALSE(unit.next_line(line));
  unit.close();
  EXPECT_FALSE(unit.is_open());
}

TEST(UnitTest, OpenUnknownKeepsOldContentUntilWrittenTo) {
  TempFile file("old content that is longer\n");
  Unit unit("10", -1, -1, false);
  unit.open_unknown(file.path());
  unit.close();
  EXPECT_EQ(file.read(), "old content that is longer\n");

  unit.open_unknown(file.path());
  unit.put(1, "new");
  unit.end_line();
  EXPECT_EQ(file.read(), "") << "cut at the first line written";
  unit.close();
  EXPECT_EQ(file.read(), "new\n");
}

TEST(UnitTest, OpenUnknownCreatesWithMode664LessTheUmask) {
  TempFile dir_holder;
  std::string path = dir_holder.path() + ".new";
  mode_t old = ::umask(027);
  Unit unit("10", -1, -1, false);
  unit.open_unknown(path);
  unit.close();
  ::umask(old);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  ::unlink(path.c_str());
}

TEST(UnitTest, OutputLinesColumnsAndGaps) {
  testing::OutputUnit out;
  Unit& u = out.unit();
  u.put(5, "ab");   // columns 1 to 4 become blanks
  u.put(2, "X");    // overwrites within the line
  u.end_line();
  u.put(1, "q");
  u.hand_over();    // handed over without LF
  u.put(2, "r");
  u.end_line();     // only what was not handed over follows
  EXPECT_EQ(out.text(), " X  ab\nqr\n");
}

// The report and the stop end the process: run them in a child.
TEST(UnitDeathTest, ReportForEndOfFileAtTheConsole) {
  EXPECT_EXIT(report(Statement::kRead, Unit::console(), "Attempt to read past end of file"),
              ::testing::ExitedWithCode(255),
              "^\\? Run-Time Error:\n\\? Attempt to read past end of file\n"
              "\\? READ\\(UNIT=\\*,\\.\\.\\.\n$");
}

TEST(UnitDeathTest, SystemRefusalOfAnOpening) {
  EXPECT_EXIT(Unit::file().open_unknown("/nonexistent/dir/Brix_ELI_5N-5S.txt"),
              ::testing::ExitedWithCode(255),
              "^\\? System Error:\n\\? No such file or directory\n\\? OPEN\\(UNIT=10,\\.\\.\\.\n$");
}

TEST(UnitDeathTest, FullDiskIsReportedNotSwallowed) {
  EXPECT_EXIT(
      {
        Unit::file().open_unknown("/dev/full");
        Unit::file().put(1, "row");
        Unit::file().end_line();
        Unit::file().close();
      },
      ::testing::ExitedWithCode(255),
      "^\\? System Error:\n\\? No space left on device\n\\? WRITE\\(UNIT=10,\\.\\.\\.\n$");
}

TEST(UnitDeathTest, ReportCompletesTheOpenFile) {
  TempFile file;
  EXPECT_EXIT(
      {
        Unit::file().open_unknown(file.path());
        Unit::file().put(1, "kept");
        Unit::file().end_line();
        report(Statement::kRead, Unit::console(), "x");
      },
      ::testing::ExitedWithCode(255), "");
  EXPECT_EQ(file.read(), "kept\n");
}

TEST(UnitDeathTest, Stop) {
  EXPECT_EXIT(stop(" End Brix_ELI"), ::testing::ExitedWithCode(0), "^ End Brix_ELI\n$");
  EXPECT_EXIT(stop(" "), ::testing::ExitedWithCode(0), "^$");
  EXPECT_EXIT(stop(""), ::testing::ExitedWithCode(0), "^$");
  EXPECT_EXIT(stop("x"), ::testing::ExitedWithCode(0), "^x\n$");
}

}  // namespace
}  // namespace brix::records
