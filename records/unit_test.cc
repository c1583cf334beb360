#include "records/unit.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <functional>

#include "records/report.h"
#include "records/test_util.h"

namespace brix::records::testing {

TEST(UnitTest, LinesRead) {
  auto lines_of = [](const std::string& text) {  // each followed by an LF
    InputUnit in(text);
    std::string out;
    for (std::string_view line; in.unit().next_line(line);) out.append(line) += '\n';
    return out;
  };
  for (const auto& c : cases("unit.txt", "lines")) EXPECT_EQ(lines_of(c[0]), c[1]) << c[0];
  std::string big((4u << 20) + 1000, 'x');  // more than the reading buffer holds at first
  big[123] = '\t';
  const std::string lines = lines_of("short\n" + big + "\nafter");
  EXPECT_TRUE(lines == "short\n" + big.replace(123, 1, "     ") + "\nafter\n");
}

TEST(UnitTest, Opening) {
  TempFile file("old content\n"), made;
  ::unlink(made.path().c_str());
  Unit unit("10", -1, -1, false);
  for (const std::string& name : {std::string(), std::string("  "), std::string("/nonexistent/x"),
                                  std::string("/tmp"), file.path() + std::string("\0x", 2)})
    EXPECT_FALSE(unit.open_old(name) || unit.is_open()) << name;
  std::string_view line;
  ASSERT_TRUE(unit.open_old("  " + file.path() + "   "));
  EXPECT_TRUE(unit.next_line(line) && line == "old content" && !unit.next_line(line));
  unit.open_unknown(file.path());  // closes the file read; nothing written, nothing lost
  unit.close();
  EXPECT_EQ(file.read() + (unit.is_open() ? "open" : "closed"), "old content\nclosed");
  unit.open_unknown(file.path());
  write(unit, Format("('new')"));
  write(unit, Format("('open',$)"));
  EXPECT_EQ(file.read(), "") << "cut at the first line written, held until closed";
  unit.close();
  EXPECT_EQ(file.read(), "new\nopen\n") << "a line left open by $ ends at close";
  const mode_t old_mask = ::umask(027);
  unit.open_unknown(made.path());
  unit.close();
  ::umask(old_mask);
  struct stat st;
  EXPECT_TRUE(::stat(made.path().c_str(), &st) == 0 && (st.st_mode & 0777) == 0640);  // 664 & ~027
}

// A file unit on descriptor 0 (a run whose standard input was closed) reads,
// cuts the file back and keeps every line; a unit that ends with output pending
// writes it.
TEST(UnitTest, EveryDescriptorAndEveryEnd) {
  TempFile file("an old content longer than the new\n");
  for (bool on_zero : {false, true}) {
    const int saved = ::dup(0);
    if (on_zero) ::close(0);
    {
      Unit unit("10", -1, -1, false);
      unit.open_unknown(file.path());
      write(unit, Format("('first')"));
      unit.close();
      EXPECT_EQ(file.read(), "first\n") << on_zero;
      std::string_view line;
      EXPECT_TRUE(unit.open_old(file.path()) && unit.is_open() && unit.next_line(line) &&
                  line == "first")
          << on_zero;
      int fd = -1;
      std::uint64_t offset = 0;
      EXPECT_TRUE(unit.regular_input(fd, offset) && offset == 6) << on_zero;
      unit.open_unknown(file.path());
      write(unit, Format("('pending')"));
    }  // the unit goes with its line unwritten
    ::dup2(saved, 0);
    ::close(saved);
    EXPECT_EQ(file.read(), "pending\n") << on_zero;
  }
  int read_fd = -1;  // a file read is closed with its unit
  {
    Unit reading("11", -1, -1, false);
    std::uint64_t at = 0;
    ASSERT_TRUE(reading.open_old(file.path()) && reading.regular_input(read_fd, at));
  }
  EXPECT_EQ(::fcntl(read_fd, F_GETFD), -1);
}

// The report and the stop end the process: they run in a child.
TEST(UnitDeathTest, ReportAndStop) {
  TempFile file;
  Unit& f = Unit::file();
  const std::pair<std::function<void()>, std::string> reports[] = {
      {[&] { f.open_unknown("/nonexistent/dir/Brix_ELI_5N-5S.txt"); },
       "? System Error:\n? No such file or directory\n? OPEN(UNIT=10,...\n"},
      {[&] { f.open_unknown("/dev/full"), write(f, Format("('row')")), f.close(); },
       "? System Error:\n? No space left on device\n? WRITE(UNIT=10,...\n"},
      {[&] {  // the open file is completed first
         f.open_unknown(file.path()), write(f, Format("('kept')"));
         report(Statement::kClose, Unit::console(), "x", true);
       },
       "? System Error:\n? x\n? CLOSE(UNIT=*,...\n"},
  };
  for (const auto& [run, text] : reports)
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(255), ::testing::Eq(text));
  EXPECT_EQ(file.read(), "kept\n");
  for (const auto& [text, err] :
       {std::pair{" End Brix_ELI", " End Brix_ELI\n"}, {" ", ""}, {"", ""}, {"x", "x\n"}})
    EXPECT_EXIT(stop(text), ::testing::ExitedWithCode(0), ::testing::Eq(std::string(err))) << text;
}

}  // namespace brix::records::testing
