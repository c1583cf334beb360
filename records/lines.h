// Lines in from a file descriptor, and bytes out to one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace brix::records {

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

// Writes all bytes, retrying after interruptions and short writes. Returns 0
// or the error number.
int write_all(int fd, const char* data, std::size_t size);

}  // namespace brix::records
