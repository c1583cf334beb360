// The program under faults of its surroundings: output files that cannot be
// written or created, directories and pipes given as input names, input that
// cannot be read, a closed or broken standard output, very long lines, numbers
// at the edges of their syntax and bytes that are not text in the input files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <string>
#include <thread>

#include "tests/e2e.h"

namespace brix::e2e {
namespace {

const char* kYearly = "Brix_ELI_5N-5S.txt";
const char* kSmoothed = "Brix_ELI_5N-5S_Spline.txt";
const char* kAnswers = "xy.txt\n1\nn\nrecon.txt\n28.5\n5\n";

std::string years(int first, int count) {
  std::string s = "header\n";
  for (int y = first; y < first + count; ++y) s += four_point_year(y);
  return s;
}

// The tables and console of an undisturbed run on the same files.
struct Reference {
  Result result;
  std::optional<std::string> yearly, smoothed;
};
Reference reference(const std::string& xy, const std::string& recon) {
  Sandbox box;
  box.write("xy.txt", xy);
  box.write("recon.txt", recon);
  Reference ref;
  ref.result = box.run(kAnswers);
  ref.yearly = box.read(kYearly);
  ref.smoothed = box.read(kSmoothed);
  return ref;
}

TEST(FaultTest, TableThatCannotBeWrittenToTheEnd) {
  const struct {
    const char* name;
    const char* full;  // the table that is a link to /dev/full
    int n_years;
    std::string out;
  } cases[] = {
      // The smoothed table fails when it is completed and closed; the yearly
      // table is already complete.
      {"smoothed table", kSmoothed, 1,
       console_to_threshold("    4", "  1950  1950     1") + threshold_used("  29.") + ask_smoothing()},
      // 1200 rows are more than the file's buffer holds: the failure comes
      // while the yearly table is written, before the smoothing question.
      {"yearly table", kYearly, 1200,
       console_to_threshold("    4", "  1950  3149  1200") + threshold_used("  29.")},
  };
  for (const auto& c : cases) {
    const std::string recon = years(1950, c.n_years);
    Reference ref = reference(kFourPoints, recon);
    ASSERT_EQ(ref.result.status, 0) << c.name;
    Sandbox box;
    box.write("xy.txt", kFourPoints);
    box.write("recon.txt", recon);
    ASSERT_EQ(::symlink("/dev/full", box.path(c.full).c_str()), 0);
    Result r = box.run(kAnswers);
    EXPECT_EQ(r.out, c.out) << c.name;
    EXPECT_EQ(r.err, "? System Error:\n? No space left on device\n? WRITE(UNIT=10,...\n") << c.name;
    EXPECT_EQ(r.status, 255) << c.name;
    if (std::string(c.full) == kSmoothed) {
      // The other table is whole: heading and every row, as in a full run.
      EXPECT_EQ(box.read(kYearly), ref.yearly) << c.name;
    } else {
      EXPECT_FALSE(box.read(kSmoothed)) << c.name;
    }
  }
}

TEST(FaultTest, FolderWhereTheSecondTableCannotBeCreated) {
  // The yearly table exists and may be written by anyone; nothing may be
  // created in the folder, so the smoothed table's opening is refused.
  Reference ref = reference(kFourPoints, years(1950, 3));
  Sandbox box;
  box.write("xy.txt", kFourPoints);
  box.write("recon.txt", years(1950, 3));
  box.write(kYearly, std::string(5000, '#'));
  ::chmod(box.path(kYearly).c_str(), 0666);
  ::chmod(box.dir().c_str(), 0555);
  Result r = box.run(kAnswers, /*as_nobody=*/true);
  ::chmod(box.dir().c_str(), 0755);
  EXPECT_EQ(r.out, console_to_threshold("    4", "  1950  1952     3") + threshold_used("  29."));
  EXPECT_EQ(r.err, "? System Error:\n? Permission denied\n? OPEN(UNIT=10,...\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(box.read(kYearly), ref.yearly);  // nothing of the old content left
  EXPECT_FALSE(box.read(kSmoothed));
}

TEST(FaultTest, TableNameTakenByADirectory) {
  Sandbox box;
  box.write("xy.txt", kFourPoints);
  box.write("recon.txt", years(1950, 1));
  ::mkdir(box.path(kYearly).c_str(), 0755);
  Result r = box.run(kAnswers);
  EXPECT_EQ(r.out, welcome() + ask_coordinates() + coordinates_opened("xy.txt") + ask_order() +
                       points_read("    4") + ask_dateline() + reading_recon() + ask_recon() +
                       recon_opened("recon.txt") + recon_read("  1950  1950     1"));
  EXPECT_EQ(r.err, "? System Error:\n? Is a directory\n? OPEN(UNIT=10,...\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_FALSE(box.read(kSmoothed));
}

TEST(FaultTest, DirectoriesGivenAsInputNamesAskAgain) {
  Sandbox box;
  box.write("xy.txt", kFourPoints);
  box.write("recon.txt", years(1950, 1));
  ::mkdir(box.path("sub").c_str(), 0755);
  Result r = box.run("sub\n.\nsub/\n/\nxy.txt\n1\nn\nsub\n..\nrecon.txt\n28.5\n5\n");
  EXPECT_EQ(r.out, welcome() + ask_coordinates() + ask_coordinates() + ask_coordinates() +
                       ask_coordinates() + ask_coordinates() + coordinates_opened("xy.txt") +
                       ask_order() + points_read("    4") + ask_dateline() + reading_recon() +
                       ask_recon() + ask_recon() + ask_recon() + recon_opened("recon.txt") +
                       recon_read("  1950  1950     1") + ask_threshold() +
                       threshold_used("  29.") + ask_smoothing() + closing());
  EXPECT_EQ(r.err, kEnd);
  EXPECT_EQ(r.status, 0);
}

// A pipe whose reading end the program inherits, fed by a thread, as a shell
// passes a process substitution.
class FedPipe {
 public:
  explicit FedPipe(std::string content) : content_(std::move(content)) {
    std::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) std::abort();
    read_end_ = fds[0];
    write_end_ = fds[1];
    ::fcntl(read_end_, F_SETFD, 0);  // the program inherits this end only
    writer_ = std::thread([this] {
      for (std::size_t done = 0; done < content_.size();) {
        ssize_t n = ::write(write_end_, content_.data() + done, content_.size() - done);
        if (n <= 0) break;  // nobody reads any more
        done += static_cast<std::size_t>(n);
      }
      ::close(write_end_);
    });
  }
  ~FedPipe() {
    ::close(read_end_);
    writer_.join();
  }
  std::string name() const { return "/dev/fd/" + std::to_string(read_end_); }

 private:
  std::string content_;
  int read_end_ = -1, write_end_ = -1;
  std::thread writer_;
};

TEST(FaultTest, InputFilesThroughPipes) {
  // 2000 years are more than a pipe holds at once.
  const std::string recon = years(1950, 2000);
  Reference ref = reference(kFourPoints, recon);
  ASSERT_EQ(ref.result.status, 0);
  Sandbox box;
  FedPipe xy(kFourPoints), rec(recon);
  Result r = box.run(xy.name() + "\n1\nn\n" + rec.name() + "\n28.5\n5\n");
  EXPECT_EQ(r.out, welcome() + ask_coordinates() + coordinates_opened(xy.name()) + ask_order() +
                       points_read("    4") + ask_dateline() + reading_recon() + ask_recon() +
                       recon_opened(rec.name()) + recon_read("  1950  3949  2000") +
                       ask_threshold() + threshold_used("  29.") + ask_smoothing() + closing());
  EXPECT_EQ(r.err, kEnd);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(box.read(kYearly), ref.yearly);
  EXPECT_EQ(box.read(kSmoothed), ref.smoothed);
}

Streams closed() {
  Streams s;
  s.out = Streams::Out::kClosed;
  return s;
}

// Standard output through a pipe whose reader takes `bytes` bytes after the
// first input and then goes away.
Streams broken_after(const std::string& first_input, std::size_t bytes) {
  Streams s;
  s.out = Streams::Out::kPipe;
  s.first_input = first_input;
  s.read_before_closing = bytes;
  return s;
}

TEST(FaultTest, StandardOutputClosedOrBroken) {
  const std::string to_threshold = console_to_threshold("    4", "  1950  1951     2");
  const std::string to_smoothing = to_threshold + threshold_used("  29.") + ask_smoothing();
  Reference ref = reference(kFourPoints, years(1950, 2));
  const struct {
    const char* name;
    Streams streams;
    std::string input;  // fed after standard output is broken
    const char* error;
    std::optional<std::string> yearly, smoothed;
  } cases[] = {
      // The welcome text is the first write.
      {"closed", closed(), kAnswers, "Bad file descriptor", {}, {}},
      // The reader goes away while the program waits for an answer.
      {"broken at the first question",
       broken_after("", welcome().size() + ask_coordinates().size()),
       kAnswers,
       "Broken pipe",
       {},
       {}},
      // The open yearly table is closed by the report, empty.
      {"broken at the threshold question",
       broken_after("xy.txt\n1\nn\nrecon.txt\n", to_threshold.size()),
       "28.5\n5\n",
       "Broken pipe",
       "",
       {}},
      // Both tables are complete before the closing line fails.
      {"broken at the smoothing question",
       broken_after("xy.txt\n1\nn\nrecon.txt\n28.5\n", to_smoothing.size()), "5\n", "Broken pipe",
       ref.yearly, ref.smoothed},
  };
  for (const auto& c : cases) {
    Sandbox box;
    box.write("xy.txt", kFourPoints);
    box.write("recon.txt", years(1950, 2));
    Result r = box.run_with(c.input, c.streams);
    EXPECT_FALSE(r.timed_out) << c.name;
    if (c.streams.out == Streams::Out::kPipe) {
      EXPECT_EQ(r.out, to_smoothing.substr(0, c.streams.read_before_closing)) << c.name;
    }
    EXPECT_EQ(r.err, std::string("? System Error:\n? ") + c.error + "\n? WRITE(UNIT=*,...\n")
        << c.name;
    EXPECT_EQ(r.status, 255) << c.name;
    EXPECT_EQ(box.read(kYearly), c.yearly) << c.name;
    EXPECT_EQ(box.read(kSmoothed), c.smoothed) << c.name;
  }
}

TEST(FaultTest, InputThatCannotBeRead) {
  // A directory as standard input opens, but reading it fails.
  Sandbox box;
  Streams directory;
  directory.input_path = box.dir();
  Result r = box.run_with("", directory);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.out, welcome() + ask_coordinates());
  EXPECT_EQ(r.err, "? System Error:\n? Is a directory\n? READ(UNIT=*,...\n");
  EXPECT_EQ(r.status, 255);

  // A coordinate file that opens as a regular file and fails when read.
  r = box.run("/proc/self/mem\n1\nn\n");
  EXPECT_EQ(r.out,
            welcome() + ask_coordinates() + coordinates_opened("/proc/self/mem") + ask_order());
  EXPECT_EQ(r.err, "? System Error:\n? Input/output error\n? READ(UNIT=10,...\n");
  EXPECT_EQ(r.status, 255);
}

TEST(FaultTest, HundredMegabyteLines) {
  constexpr std::size_t kLong = std::size_t{100} << 20;
  // A coordinate line of blanks before its pair; a year line whose fields
  // are followed by 100 MB that no field reaches, and a CR before its LF.
  const std::string xy = "-5 150\n0 160\n5 170\n6 180\n";
  const std::string recon = years(1950, 3);
  std::string long_xy = "-5 150\n" + std::string(kLong, ' ') + "0 160\n5 170\n6 180\n";
  std::string long_recon = recon;
  long_recon.insert(recon.find("\n 1951"), std::string(kLong, '9') + "\r");
  Reference ref = reference(xy, recon);
  ASSERT_EQ(ref.result.status, 0);
  Sandbox box;
  box.write("xy.txt", long_xy);
  box.write("recon.txt", long_recon);
  long_xy.clear();
  long_recon.clear();
  Result r = box.run(kAnswers);
  EXPECT_EQ(r.out, ref.result.out);
  EXPECT_EQ(r.err, kEnd);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find(recon_read("  1950  1952     3")), std::string::npos);
  EXPECT_EQ(box.read(kYearly), ref.yearly);
  EXPECT_EQ(box.read(kSmoothed), ref.smoothed);
}

TEST(FaultTest, NumbersAtTheEdgesOfTheirSyntax) {
  // Integer answers beyond the 32-bit range are refused, not wrapped round to
  // an acceptable 1 or 5; a real answer keeps its value however many digits
  // it has; exponents and signs in every form the input rules allow read as
  // their plain values.
  const std::string answers =
      "xy.txt\n4294967297\n-4294967295\n2147483648\n+2147483648\n-2147483649\n"
      "-2147483648\n1\nn\n"
      "recon.txt\n28.500000000000000000000000001\n4294967301\n-4294967291\n5\n";
  const std::string xy = "-5 1.5d2\n0 16D1\n5 1.7+2\n6 1800-1\n0 150.0000000000000000000000001\n";
  const std::string recon = "header\n 1950   +28.000     +29.0 +  30.000  31000   \n";
  Reference ref = reference("-5 150\n0 160\n5 170\n6 180\n0 150\n",
                            "header\n 1950    28.000    29.000    30.000    31.000\n");
  ASSERT_EQ(ref.result.status, 0);
  Sandbox box;
  box.write("xy.txt", xy);
  box.write("recon.txt", recon);
  Result r = box.run(answers);
  std::string asked_order;
  for (int i = 0; i < 7; ++i) asked_order += ask_order();
  EXPECT_EQ(r.out, welcome() + ask_coordinates() + coordinates_opened("xy.txt") + asked_order +
                       points_read("    5") + ask_dateline() + reading_recon() + ask_recon() +
                       recon_opened("recon.txt") + recon_read("  1950  1950     1") +
                       ask_threshold() + threshold_used("  29.") + ask_smoothing() +
                       ask_smoothing() + ask_smoothing() + closing());
  EXPECT_EQ(r.err, kEnd);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(box.read(kYearly), ref.yearly);
  EXPECT_EQ(box.read(kSmoothed), ref.smoothed);
}

// Bytes 0x80 to 0xFF in a fixed pseudo-random order: no blank, comma, slash,
// digit or line end among them.
std::string garbage(std::size_t n) {
  std::string s;
  std::uint32_t x = 12345;
  for (std::size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s += static_cast<char>(0x80 | (x >> 16 & 0x7F));
  }
  return s;
}

TEST(FaultTest, BytesThatAreNotTextInTheInputFiles) {
  using namespace std::string_literals;
  const std::string clean_recon = "header\n" + four_point_year(1950) + four_point_year(1951);
  const struct {
    const char* name;
    std::string xy, recon;              // as given
    std::string clean_xy, clean_recon;  // what they must read as
    const char* points;
  } cases[] = {
      // A NUL is no separator: a value holding one is not a number, and its
      // line is skipped; in the header it is just a character.
      {"NUL bytes", "lat\0lon\n-5 150\n0 1\0\n0 160\n5 170\n\0\n6 180\n"s,
       "head\0er\n"s + four_point_year(1950) + " 1951    28.000    29.\0\0\0    30.000    31.000\n"s +
           four_point_year(1951),
       kFourPoints, clean_recon, "    4"},
      // Every CR is dropped wherever it stands, so the columns close up.
      {"stray CR", "-5\r 150\n0 16\r0\n\r5 170\r\n6 180\r",
       "header\r\n 19\r50    28.000    29.000    30.000    31.000\r\n" + four_point_year(1951) + "\r",
       kFourPoints, clean_recon + "\n", "    4"},
      // A CR alone ends no line: the coordinate file is one line.
      {"CR as line end", "-5 150\r0 160\r5 170\r", clean_recon, "-5 1500 1605 170\n", clean_recon,
       "    1"},
      {"invalid UTF-8",
       "\xc3\x28 \xa0\xa1\n-5 150\n\xf0\x28\x8c\xbc 1\n0 160\n5 170 \xff\xfe\n6 180\n",
       "\xff\xfe h\xc3\n" + four_point_year(1950) +
           " 1951    28.000   \xe2\x82\xac.000    30.000    31.000\n" + four_point_year(1951) +
           four_point_year(1952).substr(0, 45) + "\xc3\xa9\xff\n",
       kFourPoints, clean_recon + four_point_year(1952), "    4"},
      {"binary garbage",
       garbage(5000) + "\n-5 150\n0 160\n" + garbage(70000) + "\n5 170\n6 180\n" + garbage(10),
       garbage(300) + "\n" + four_point_year(1950) + garbage(20000) + "\n" + four_point_year(1951), kFourPoints,
       clean_recon, "    4"},
  };
  for (const auto& c : cases) {
    Reference ref = reference(c.clean_xy, c.clean_recon);
    ASSERT_EQ(ref.result.status, 0) << c.name;
    EXPECT_NE(ref.result.out.find(points_read(c.points)), std::string::npos) << c.name;
    Sandbox box;
    box.write("xy.txt", c.xy);
    box.write("recon.txt", c.recon);
    Result r = box.run(kAnswers);
    EXPECT_EQ(r.out, ref.result.out) << c.name;
    EXPECT_EQ(r.err, kEnd) << c.name;
    EXPECT_EQ(r.status, 0) << c.name;
    EXPECT_EQ(box.read(kYearly), ref.yearly) << c.name;
    EXPECT_EQ(box.read(kSmoothed), ref.smoothed) << c.name;
  }
}

}  // namespace
}  // namespace brix::e2e
