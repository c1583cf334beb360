// Whole runs that the case files cannot describe: input files that are pipes,
// and a standard output that is closed or breaks while the program runs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>

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
      const Streams& streams = {}) {
    box.write("xy.txt", xy);
    box.write("recon.txt", recon);
    result = box.run(input, streams);
  }
};

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
    EXPECT_EQ(run.result.out, c.out) << c.name;
    EXPECT_EQ(run.result.err, c.err) << c.name;
    EXPECT_EQ(run.result.status, 255) << c.name;
    EXPECT_EQ(run.box.read(kYearly), c.yearly) << c.name;
    EXPECT_EQ(run.box.read(kSmoothed), c.smoothed) << c.name;
  }
}

}  // namespace
}  // namespace brix::e2e
