// Units: the console and the one file channel, their lines in and out.
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

#include "records/lines.h"

namespace brix::records {

enum class Statement { kRead, kWrite, kOpen, kClose };

class Unit;

// Notes the request the run is at, which the report for a failure that is
// not a request's own (no memory) names: a unit calls it as it reads a line,
// places one, opens or closes.
void note_request(Statement statement, const Unit* unit);
// A unit that ends is no longer the one the report names.
void forget_request_unit(const Unit* unit);

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
  // A unit whose lines are appended to *text, and that touches nothing else:
  // text made on any thread, apart from the run and its report.
  explicit Unit(std::string* text);
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
  std::string* text_ = nullptr;  // a unit in memory: its lines
};

}  // namespace brix::records
