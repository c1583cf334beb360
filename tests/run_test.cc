// Whole runs that the case files cannot describe: permissions, pipes, a closed
// or broken standard output, 100 MB lines, and the smoothed table checked
// against the yearly one over a varied record.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e.h"

namespace brix::e2e {
namespace {

const char* kYearly = "Brix_ELI_5N-5S.txt";
const char* kSmoothed = "Brix_ELI_5N-5S_Spline.txt";
const char* kAnswers = "xy.txt\n1\nn\nrecon.txt\n28.5\n5\n";

// The console pieces, one after the other.
std::string dialogue(std::initializer_list<std::string> pieces) {
  std::string out;
  for (const std::string& piece : pieces) out += console(piece);
  return out;
}

// The console of a run on "xy.txt" and "recon.txt" up to the threshold question.
std::string console_to_threshold(const std::string& recon_read) {
  return dialogue({"welcome", "ask coordinates", "coordinates opened xy.txt", "ask order",
                   "points read     4", "ask dateline", "reading recon", "ask recon",
                   "recon opened recon.txt", "recon read " + recon_read, "ask threshold"});
}

std::string years(int first, int count) {
  std::string s = "header\n";
  for (int y = first; y < first + count; ++y) s += four_point_year(y);
  return s;
}

// A run in a fresh folder holding the two input files.
struct Ran {
  Sandbox box;
  Result result;
  Ran(const std::string& xy, const std::string& recon, const std::string& input = kAnswers,
      const Streams& streams = {}, bool read_only_folder = false) {
    box.write("xy.txt", xy);
    box.write("recon.txt", recon);
    if (read_only_folder) ::chmod(box.dir().c_str(), 0555);
    result = box.run(input, streams);
  }
};

TEST(RunTest, FolderWhereATableCannotBeCreated) {
  Streams nobody;
  nobody.as_nobody = true;
  // Nothing may be created: the yearly table is refused at once.
  Ran first(kFourPoints, "h\n", "xy.txt\n1\nn\nrecon.txt\n", nobody, true);
  if (first.result.status == 126) GTEST_SKIP() << first.result.err;
  EXPECT_EQ(first.result.out + console("ask threshold"), console_to_threshold("     0    -1     0"));
  EXPECT_EQ(first.result.err, "? System Error:\n? Permission denied\n? OPEN(UNIT=10,...\n");
  EXPECT_EQ(first.result.status, 255);
  EXPECT_FALSE(first.box.read(kYearly));
  // The yearly table exists and anyone may write it: it is written whole,
  // and the smoothed table's creation is refused.
  Ran clean(kFourPoints, years(1950, 3));
  Sandbox box;
  box.write("xy.txt", kFourPoints);
  box.write("recon.txt", years(1950, 3));
  box.write(kYearly, std::string(5000, '#'));
  ::chmod(box.path(kYearly).c_str(), 0666);
  ::chmod(box.dir().c_str(), 0555);
  Result r = box.run(kAnswers, nobody);
  EXPECT_EQ(r.out, console_to_threshold("  1950  1952     3") + console("threshold used   29."));
  EXPECT_EQ(r.err, "? System Error:\n? Permission denied\n? OPEN(UNIT=10,...\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(box.read(kYearly), clean.box.read(kYearly));
  EXPECT_FALSE(box.read(kSmoothed));
}

// A pipe whose reading end the program inherits, fed by a thread, as a shell
// passes a process substitution.
class FedPipe {
 public:
  explicit FedPipe(std::string content) : content_(std::move(content)) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) std::abort();
    read_end_ = fds[0];
    ::fcntl(read_end_, F_SETFD, 0);  // the program inherits this end only
    writer_ = std::thread([this, fd = fds[1]] {
      for (std::size_t done = 0; done < content_.size();) {
        ssize_t n = ::write(fd, content_.data() + done, content_.size() - done);
        if (n <= 0) break;  // nobody reads any more
        done += static_cast<std::size_t>(n);
      }
      ::close(fd);
    });
  }
  ~FedPipe() {
    ::close(read_end_);
    writer_.join();
  }
  std::string name() const { return "/dev/fd/" + std::to_string(read_end_); }

 private:
  std::string content_;
  int read_end_ = -1;
  std::thread writer_;
};

TEST(RunTest, InputFilesThroughPipes) {
  const std::string recon = years(1950, 2000);  // more than a pipe holds at once
  Ran clean(kFourPoints, recon);
  Sandbox box;
  FedPipe xy(kFourPoints), rec(recon);
  Result r = box.run(xy.name() + "\n1\nn\n" + rec.name() + "\n28.5\n5\n");
  EXPECT_EQ(r.out, dialogue({"welcome", "ask coordinates", "coordinates opened " + xy.name(),
                             "ask order", "points read     4", "ask dateline", "reading recon",
                             "ask recon", "recon opened " + rec.name(),
                             "recon read   1950  3949  2000", "ask threshold",
                             "threshold used   29.", "ask smoothing", "closing"}));
  EXPECT_EQ(r.err, kEnd);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(box.read(kYearly), clean.box.read(kYearly));
  EXPECT_EQ(box.read(kSmoothed), clean.box.read(kSmoothed));
}

TEST(RunTest, StandardStreamsClosedBrokenOrUnreadable) {
  const std::string to_threshold = console_to_threshold("  1950  1951     2");
  const std::string to_smoothing = to_threshold + dialogue({"threshold used   29.", "ask smoothing"});
  Ran clean(kFourPoints, years(1950, 2));
  auto broken_after = [](const std::string& first_input, std::size_t bytes) {
    Streams s;
    s.out = Streams::Out::kPipe;
    s.first_input = first_input;
    s.read_before_closing = bytes;
    return s;
  };
  Streams closed, directory_input;
  closed.out = Streams::Out::kClosed;
  directory_input.input_path = "/";
  const struct {
    const char* name;
    Streams streams;
    std::string input;  // fed after standard output is broken
    std::string out, err;
    std::optional<std::string> yearly, smoothed;
  } cases[] = {
      {"closed: the welcome text is the first write", closed, kAnswers, "",
       "? System Error:\n? Bad file descriptor\n? WRITE(UNIT=*,...\n", {}, {}},
      {"broken at the first question",
       broken_after("", dialogue({"welcome", "ask coordinates"}).size()), kAnswers,
       dialogue({"welcome", "ask coordinates"}), "? System Error:\n? Broken pipe\n? WRITE(UNIT=*,...\n", {}, {}},
      {"broken at the threshold question: the open yearly table is closed, empty",
       broken_after("xy.txt\n1\nn\nrecon.txt\n", to_threshold.size()), "28.5\n5\n", to_threshold,
       "? System Error:\n? Broken pipe\n? WRITE(UNIT=*,...\n", "", {}},
      {"broken at the smoothing question: both tables are complete",
       broken_after("xy.txt\n1\nn\nrecon.txt\n28.5\n", to_smoothing.size()), "5\n", to_smoothing,
       "? System Error:\n? Broken pipe\n? WRITE(UNIT=*,...\n", clean.box.read(kYearly),
       clean.box.read(kSmoothed)},
      {"a directory as standard input: it opens, and reading fails", directory_input, "",
       dialogue({"welcome", "ask coordinates"}), "? System Error:\n? Is a directory\n? READ(UNIT=*,...\n",
       {}, {}},
  };
  for (const auto& c : cases) {
    Ran run(kFourPoints, years(1950, 2), c.input, c.streams);
    EXPECT_FALSE(run.result.timed_out) << c.name;
    EXPECT_EQ(run.result.out, c.out) << c.name;
    EXPECT_EQ(run.result.err, c.err) << c.name;
    EXPECT_EQ(run.result.status, 255) << c.name;
    EXPECT_EQ(run.box.read(kYearly), c.yearly) << c.name;
    EXPECT_EQ(run.box.read(kSmoothed), c.smoothed) << c.name;
  }
}

TEST(RunTest, HundredMegabyteLines) {
  // A coordinate line of blanks before its pair; a year line whose fields are
  // followed by 100 MB that no field reaches, and a CR before its LF.
  constexpr std::size_t kLong = std::size_t{100} << 20;
  const std::string recon = years(1950, 3);
  std::string long_recon = recon;
  long_recon.insert(recon.find("\n 1951"), std::string(kLong, '9') + "\r");
  Ran clean(kFourPoints, recon);
  Ran run("-5 150\n" + std::string(kLong, ' ') + "0 160\n5 170\n6 180\n", long_recon);
  EXPECT_EQ(run.result.out, clean.result.out);
  EXPECT_NE(run.result.out.find(console("recon read   1950  1952     3")), std::string::npos);
  EXPECT_EQ(run.result.status, 0);
  EXPECT_EQ(run.box.read(kYearly), clean.box.read(kYearly));
  EXPECT_EQ(run.box.read(kSmoothed), clean.box.read(kSmoothed));
}

std::vector<std::string> rows(const std::optional<std::string>& file) {
  std::vector<std::string> out;
  std::istringstream in(file.value_or(""));
  std::string line;
  std::getline(in, line);  // heading
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

// Six band points over 40 years with values moving around the threshold 28.5,
// so that every series varies; in year 11 of `nan_year` nothing is warm.
std::string varied_recon(bool nan_year) {
  std::string s = "generated\n";
  for (int y = 0; y < 40; ++y) {
    char line[128];
    int n = std::snprintf(line, sizeof line, "%5d", 1900 + y);
    for (int p = 0; p < 6; ++p) {
      double v = nan_year && y == 10 ? 20.0 : 27.0 + ((y * 7 + p * 13) % 17) * 0.25;
      n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "%10.3f", v);
    }
    s += std::string(line) + "\n";
  }
  return s;
}

TEST(RunTest, SmoothedTableAgainstTheYearlyTable) {
  const char* six_points = "-4 140\n-2 155\n0 170\n1 185\n3 200\n4.5 215\n";
  Ran run(six_points, varied_recon(false), "xy.txt\n1\nn\nrecon.txt\n28.5\n10\n");
  std::vector<std::string> yearly = rows(run.box.read(kYearly)),
                           smoothed = rows(run.box.read(kSmoothed));
  ASSERT_EQ(yearly.size(), 40u);
  ASSERT_EQ(smoothed.size(), 40u);
  int changed = 0;
  for (std::size_t i = 0; i < 40; ++i) {
    const std::string &y = yearly[i], &s = smoothed[i];
    ASSERT_EQ(y.size(), 60u);
    ASSERT_EQ(s.size(), 106u);
    // Year, NPeak, LonMN1, TmpMN1 and TmpSD1 repeat the yearly columns.
    EXPECT_EQ(s.substr(0, 12), y.substr(0, 12));
    EXPECT_EQ(s.substr(26, 8), y.substr(12, 8));
    EXPECT_EQ(s.substr(66, 8), y.substr(36, 8));
    EXPECT_EQ(s.substr(90, 8), y.substr(44, 8));
    // SD_Lon has two decimals, LonSD1 three: the same value.
    EXPECT_NEAR(std::stod(s.substr(50, 8)), std::stod(y.substr(20, 8)), 0.0051);
    // The whole-record means repeat in every row.
    for (std::size_t at : {19, 42, 82}) EXPECT_EQ(s.substr(at, 7), smoothed[0].substr(at, 7));
    // Smoothing changes a varying series, and stays near it.
    double raw = std::stod(s.substr(5, 7)), smooth = std::stod(s.substr(12, 7));
    changed += raw != smooth;
    EXPECT_NEAR(raw, smooth, 0.5);
  }
  EXPECT_GT(changed, 20);

  // A year without warm points spreads NaN through the smoothed means, and
  // the fraction stays a number.
  Ran gap(six_points, varied_recon(true), "xy.txt\n1\nn\nrecon.txt\n28.5\n5\n");
  yearly = rows(gap.box.read(kYearly));
  smoothed = rows(gap.box.read(kSmoothed));
  ASSERT_EQ(smoothed.size(), 40u);
  EXPECT_EQ(yearly[10].substr(12, 8), "    -NaN");
  for (const std::string& s : smoothed) {
    EXPECT_EQ(s.substr(12, 7).find("NaN"), std::string::npos) << s;
    for (std::size_t at : {34, 42, 74}) EXPECT_NE(s.substr(at, 8).find("NaN"), std::string::npos) << s;
  }
}

}  // namespace
}  // namespace brix::e2e
