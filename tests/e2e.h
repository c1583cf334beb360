// Runs the built program in a temporary folder with a scripted standard
// input, and the pieces of the console text it is expected to show.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace brix::e2e {

struct Result {
  std::string out;
  std::string err;
  int status = -1;         // exit status; -1 when ended by a signal or killed
  bool timed_out = false;  // killed at the time limit
};

// How a run connects the program's standard streams.
struct Streams {
  enum class Out { kFile, kClosed, kPipe };
  Out out = Out::kFile;
  // kPipe: first_input is fed, then this many bytes of standard output are
  // read (they become Result::out), then the pipe's reading end is closed;
  // only after that is the rest of the input fed.
  std::string first_input;
  std::size_t read_before_closing = 0;
  // When not empty, standard input is this path, and the input is not fed.
  std::string input_path;
  // Run as an unprivileged user (root passes every permission check). The
  // program is started from a copy in the run's folder, which that user can
  // reach wherever the build lies. Where the drop is refused, the status is
  // 126 and the error stream says why.
  bool as_nobody = false;
  int timeout_seconds = 120;
};

class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  const std::string& dir() const { return dir_; }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  void write(const std::string& name, const std::string& content) const;
  // The file's content, or nullopt when it is not a regular file (or a link).
  std::optional<std::string> read(const std::string& name) const;
  // Runs the program with the input fed through a pipe that is closed after
  // it. Descriptors of the caller that are not close-on-exec stay open in the
  // program (for names such as /dev/fd/N). Ignores SIGPIPE in the caller.
  Result run(const std::string& input, const Streams& streams = {}) const;

 private:
  std::string dir_;
};

// Console texts, byte for byte.
std::string welcome();
std::string ask_coordinates();
std::string coordinates_opened(const std::string& name);
std::string ask_order();
std::string points_read(const std::string& count5);
std::string ask_dateline();
std::string reading_recon();
std::string ask_recon();
std::string recon_opened(const std::string& name);
std::string recon_read(const std::string& three_i6);
std::string ask_threshold();
std::string threshold_used(const std::string& f5);
std::string ask_smoothing();
std::string closing();  // after the smoothing answer: the line of one blank
inline constexpr const char* kEnd = " End Brix_ELI\n";

// Four grid points, at latitudes -5, 0, 5 and 6.
inline constexpr const char* kFourPoints = "-5 150\n0 160\n5 170\n6 180\n";
// A year record of those four points with the values 28, 29, 30 and 31.
std::string four_point_year(int year);
// The console of a run on "xy.txt" and "recon.txt", both opened at the first
// asking, up to and including the threshold question.
std::string console_to_threshold(const std::string& count5, const std::string& recon3);

}  // namespace brix::e2e
