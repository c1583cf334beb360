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
  int status = -1;  // exit status; -1 when ended by a signal
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
  bool no_threads = false;  // RLIMIT_NPROC 1: no thread can start (root is exempt)
  // When not empty, the program run instead of brix_eli (a build of it with
  // something added, such as failing allocations).
  std::string program;
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
  // it. Ignores SIGPIPE in the caller.
  Result run(const std::string& input, const Streams& streams = {}) const;

 private:
  std::string dir_;
};

// A file's whole content (a failure of the test when it cannot be read).
std::string slurp(const std::string& path);

// A line of a text file of the tests turned into its bytes: "\r", "\t",
// "\0", "\xHH" and "\\" stand for their bytes; the line ends with LF unless
// it ends with "\c"; "\*N text" is the text's line N times.
std::string unescape(const std::string& line);

// A piece of the console, byte for byte, as tests/console.txt gives it: its
// name, then for some pieces a blank and the argument ("points read     4").
std::string console(const std::string& piece);
inline constexpr const char* kEnd = " End Brix_ELI\n";

}  // namespace brix::e2e
