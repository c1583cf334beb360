// Units: the console and the one file channel, their lines in and out, the
// run-time error report and the stop.
//
// Lines read have every CR removed and every tab expanded to the next stop
// of 8 columns; they have no length limit. Lines written end with one LF; a
// line left open by "$" is handed over without it, and the next write request
// on the unit continues that line where the cursor stands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brix::records {

enum class Statement { kRead, kWrite, kOpen, kClose };

// A line as read requests see it: raw itself when it holds no CR and no tab;
// else the line without its CRs and with every tab expanded to the next stop
// of 8 columns, built in clean (which grows only for a longer line).
std::string_view clean_line(const char* raw, std::size_t size, std::vector<char>& clean);

// Reads lines from a file descriptor through one reusable buffer. The buffer
// grows only for a line longer than any before it; nothing is allocated per
// line.
class LineReader {
 public:
  enum class Status { kLine, kEnd, kFailed };

  void attach(int fd);
  void detach();
  // The next line, valid until the next call. kFailed leaves errno set.
  Status next(std::string_view& line);
  // Bytes of the input taken by the lines handed out since attach.
  std::uint64_t taken() const { return taken_; }

 private:
  bool fill();  // reads more bytes after end_; false at end of file or failure

  int fd_ = -1;
  bool end_of_file_ = false;
  int error_ = 0;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;  // first unread byte
  std::size_t end_ = 0;    // one past the last byte read
  std::uint64_t taken_ = 0;
  std::vector<char> clean_;  // a line with its CRs removed and tabs expanded
};

class Unit {
 public:
  // The console: lines read from standard input, written to standard output,
  // each line handed over as soon as it ends.
  static Unit& console();
  // Unit 10, the file channel.
  static Unit& file();

  // A unit over descriptors the caller owns (tests, tools). Output lines are
  // handed over at once when immediate is true, else buffered until close.
  Unit(std::string name, int in_fd, int out_fd, bool immediate);
  Unit(const Unit&) = delete;
  Unit& operator=(const Unit&) = delete;
  ~Unit();

  const std::string& name() const { return name_; }

  // Opens an existing file for reading (status "OLD"): the name without its
  // leading and trailing blanks. False when the name is empty, holds a NUL,
  // names no file, a directory, or a file that cannot be opened.
  bool open_old(std::string_view name);
  // Opens a file for writing (status "UNKNOWN"): created with mode 664 less
  // the umask when missing, not emptied by the opening; cut at the end of what
  // the run writes once it is written to. A refusal raises the report.
  void open_unknown(std::string_view name);
  // Completes and closes the open file; a refusal raises the report.
  void close();
  bool is_open() const { return fd_ >= 0; }

  // The next input line (read requests start here). False at end of file; a
  // failure of the system raises the report.
  bool next_line(std::string_view& line);
  // A file opened by open_old that is a regular file, which can be read at
  // any offset: its descriptor, and the offset of the first byte that no line
  // has taken yet. False for any other input.
  bool regular_input(int& fd, std::uint64_t& offset) const;

  // Output: characters are placed on the current line from a column counted
  // from 1; a gap beyond the line's length is filled with blanks.
  void put(int column, std::string_view text);
  char* place(int column, int width);  // room for width characters at column
  int length() const { return length_; }
  void end_line();   // hands the line over with its LF; a new line starts
  void hand_over();  // hands what the line holds over without an LF ("$")

  // Used by the report: completes and closes the file without reporting.
  void close_quietly();
  // As the unit was made: no file open (one is closed quietly), no line in
  // hand, nothing held back, its input read afresh from its descriptor.
  // For runs of the whole program one after another in one process.
  void restart();

 private:
  void emit(const char* data, std::size_t size);
  void flush(Statement statement);
  void write_out(const char* data, std::size_t size, Statement statement);

  std::string name_;
  int in_fd_ = -1;
  int out_fd_ = -1;
  int fd_ = -1;          // the file opened by name, owned by the unit
  bool owns_fd_ = false;
  bool immediate_ = false;
  bool regular_ = false;  // the output is a regular file, which can be cut
  bool written_ = false;  // something was written since the opening
  LineReader reader_;
  std::string line_;        // the line being written, columns 1..line_.size()
  int length_ = 0;          // highest column written
  std::size_t handed_ = 0;  // characters of line_ already handed over ("$")
  std::vector<char> pending_;  // output held back for a buffered unit
};

// The run-time error report: every open file completed and closed, three
// lines on standard error ("? " and a header, the message, the statement and
// unit), exit status 255. system_error selects the header "System Error:".
[[noreturn]] void report(Statement statement, const Unit& unit,
                         std::string_view message, bool system_error = false);

// The message of the report for a run that cannot have the memory it needs.
inline constexpr std::string_view kNoMemoryMessage = "Buffer allocation failed";

// The run-time error report for a failed allocation: the statement is that of
// the request in progress (the last line read or written, the last opening or
// closing).
[[noreturn]] void report_no_memory();

// The run-time error report for an error number of the operating system.
[[noreturn]] void report_system(Statement statement, const Unit& unit, int error);

// For runs of the whole program in one process (a fuzzer): the report and
// the stop write their text to error_fd and then call end(status) instead of
// ending the process; end must not return (it throws). end nullptr restores
// the exit, with standard error.
void end_runs_with(int error_fd, void (*end)(int status));

// The stop: the stop text on standard error with an LF (nothing for an empty
// text or a single blank), every open file completed and closed, status 0.
[[noreturn]] void stop(std::string_view text);

}  // namespace brix::records
