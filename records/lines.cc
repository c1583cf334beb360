#include "records/lines.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace brix::records {
namespace {

constexpr std::size_t kReadChunk = std::size_t{256} << 10;  // bytes read at a time

}  // namespace

int write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

void LineReader::attach(int fd) {
  fd_ = fd;
  end_of_file_ = false;
  error_ = 0;
  begin_ = end_ = 0;
  taken_ = 0;
  if (buffer_.empty()) buffer_.resize(kReadChunk);
}

void LineReader::detach() {
  fd_ = -1;
  begin_ = end_ = 0;
}

bool LineReader::fill() {
  if (begin_ > 0) {  // keep the unfinished line, at the front
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (buffer_.size() - end_ < kReadChunk / 2) buffer_.resize(buffer_.size() * 2);
  for (;;) {
    ssize_t n = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
    if (n > 0) {
      end_ += static_cast<std::size_t>(n);
      return true;
    }
    if (n == 0) {
      end_of_file_ = true;
      return false;
    }
    if (errno != EINTR) {
      error_ = errno;
      return false;
    }
  }
}

LineReader::Status LineReader::next(std::string_view& line) {
  if (fd_ < 0) return Status::kEnd;
  std::size_t scanned = 0;  // bytes after begin_ known to hold no LF
  const char* raw;
  std::size_t size;
  for (;;) {
    const char* start = buffer_.data() + begin_;
    const void* lf = std::memchr(start + scanned, '\n', end_ - begin_ - scanned);
    if (lf != nullptr) {
      raw = start;
      size = static_cast<std::size_t>(static_cast<const char*>(lf) - start);
      begin_ += size + 1;
      taken_ += size + 1;
      break;
    }
    scanned = end_ - begin_;
    if (end_of_file_) {
      if (begin_ == end_) return Status::kEnd;
      raw = start;  // a last line without its LF
      size = end_ - begin_;
      begin_ = end_;
      taken_ += size;
      break;
    }
    if (!fill() && error_ != 0) {
      errno = error_;
      return Status::kFailed;
    }
  }

  line = clean_line(raw, size, clean_);
  return Status::kLine;
}

std::string_view clean_line(const char* raw, std::size_t size, std::vector<char>& clean) {
  if (std::memchr(raw, '\r', size) == nullptr && std::memchr(raw, '\t', size) == nullptr)
    return {raw, size};
  // Drop every CR and expand every tab to the next stop of 8 columns.
  std::size_t length = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (raw[i] == '\t') length += 8 - length % 8;
    else if (raw[i] != '\r') ++length;
  }
  if (clean.size() < length + 1) clean.resize(length + 1);  // never empty: data() is not null
  char* out = clean.data();
  std::size_t n = 0;
  for (std::size_t i = 0; i < size; ++i) {
    char c = raw[i];
    if (c == '\t') {
      std::size_t blanks = 8 - n % 8;
      std::memset(out + n, ' ', blanks);
      n += blanks;
    } else if (c != '\r') {
      out[n++] = c;
    }
  }
  return {out, n};
}

}  // namespace brix::records
