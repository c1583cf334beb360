#include "records/unit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace brix::records {
namespace {

constexpr std::size_t kReadChunk = std::size_t{256} << 10;  // bytes read at a time
constexpr std::size_t kFileBuffer = std::size_t{64} << 10;  // output held back

// Writes all bytes, retrying after interruptions and short writes. Returns 0
// or the error number.
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

std::string_view trim_blanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// The request the run is at: the statement and unit of the last line that a
// read took, a write placed, or the last opening or closing. The report for
// a failure that is not a request's own (no memory) names it.
Statement current_statement = Statement::kWrite;
const Unit* current_unit = nullptr;

// Where the report and the stop write, and how they end the run.
int error_fd = STDERR_FILENO;
void (*end_run)(int status) = nullptr;

[[noreturn]] void end(int status) {
  if (end_run != nullptr) end_run(status);
  std::exit(status);
}

void begin(Statement statement, const Unit* unit) {
  current_statement = statement;
  current_unit = unit;
}

const char* statement_name(Statement s) {
  switch (s) {
    case Statement::kRead: return "READ";
    case Statement::kWrite: return "WRITE";
    case Statement::kOpen: return "OPEN";
    case Statement::kClose: return "CLOSE";
  }
  return "?";
}

}  // namespace

// ---------------------------------------------------------------- lines in

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

// ---------------------------------------------------------------- units

Unit& Unit::console() {
  static Unit unit("*", STDIN_FILENO, STDOUT_FILENO, true);
  return unit;
}

Unit& Unit::file() {
  static Unit unit("10", -1, -1, false);
  return unit;
}

Unit::Unit(std::string name, int in_fd, int out_fd, bool immediate)
    : name_(std::move(name)), in_fd_(in_fd), out_fd_(out_fd), immediate_(immediate) {
  if (in_fd_ >= 0) reader_.attach(in_fd_);
}

Unit::~Unit() {
  close_quietly();
  if (current_unit == this) current_unit = nullptr;
}

bool Unit::open_old(std::string_view name) {
  begin(Statement::kOpen, this);
  name = trim_blanks(name);
  if (name.empty() || name.find('\0') != std::string_view::npos) return false;
  if (fd_ >= 0) close();
  std::string path(name);
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  owns_fd_ = true;
  in_fd_ = fd;
  out_fd_ = -1;
  reader_.attach(fd);
  return true;
}

bool Unit::regular_input(int& fd, std::uint64_t& offset) const {
  struct stat st;
  if (fd_ < 0 || in_fd_ != fd_ || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  fd = fd_;
  offset = reader_.taken();
  return true;
}

void Unit::open_unknown(std::string_view name) {
  if (fd_ >= 0) close();
  begin(Statement::kOpen, this);
  std::string path(trim_blanks(name));
  int fd = path.find('\0') == std::string::npos
               ? ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0664)
               : (errno = EINVAL, -1);
  if (fd < 0) report_system(Statement::kOpen, *this, path.empty() ? ENOENT : errno);
  struct stat st;
  regular_ = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  fd_ = fd;
  owns_fd_ = true;
  in_fd_ = -1;
  out_fd_ = fd;
  written_ = false;
  immediate_ = false;
}

void Unit::close() {
  if (fd_ < 0) return;
  begin(Statement::kClose, this);
  if (out_fd_ >= 0) {
    if (length_ > 0 || handed_ > 0) end_line();  // a line left open by "$"
    flush(Statement::kWrite);
  }
  int fd = fd_;
  fd_ = -1;
  owns_fd_ = false;
  in_fd_ = out_fd_ = -1;
  reader_.detach();
  if (::close(fd) != 0 && errno != EINTR) report_system(Statement::kClose, *this, errno);
}

void Unit::close_quietly() {
  if (!owns_fd_ || fd_ < 0) return;
  if (out_fd_ >= 0 && !pending_.empty()) {
    write_all(out_fd_, pending_.data(), pending_.size());
    pending_.clear();
  }
  ::close(fd_);
  fd_ = -1;
  owns_fd_ = false;
  in_fd_ = out_fd_ = -1;
  reader_.detach();
}

void Unit::restart() {
  close_quietly();
  line_.clear();
  length_ = 0;
  handed_ = 0;
  pending_.clear();
  written_ = false;
  regular_ = false;
  reader_.detach();
  if (in_fd_ >= 0) reader_.attach(in_fd_);
}

void end_runs_with(int fd, void (*end)(int status)) {
  error_fd = end != nullptr ? fd : STDERR_FILENO;
  end_run = end;
}

bool Unit::next_line(std::string_view& line) {
  begin(Statement::kRead, this);
  switch (reader_.next(line)) {
    case LineReader::Status::kLine: return true;
    case LineReader::Status::kEnd: return false;
    case LineReader::Status::kFailed: break;
  }
  report_system(Statement::kRead, *this, errno);
}

// ---------------------------------------------------------------- lines out

char* Unit::place(int column, int width) {
  begin(Statement::kWrite, this);
  std::size_t from = static_cast<std::size_t>(column - 1);
  std::size_t to = from + static_cast<std::size_t>(width);
  if (line_.size() < to) line_.resize(to, ' ');
  // Columns between the old length and this field are a gap: blanks.
  if (from > static_cast<std::size_t>(length_))
    std::memset(line_.data() + length_, ' ', from - static_cast<std::size_t>(length_));
  if (to > static_cast<std::size_t>(length_)) length_ = static_cast<int>(to);
  return line_.data() + from;
}

void Unit::put(int column, std::string_view text) {
  if (text.empty()) return;
  std::memcpy(place(column, static_cast<int>(text.size())), text.data(), text.size());
}

void Unit::end_line() {
  line_.resize(static_cast<std::size_t>(length_));
  line_.push_back('\n');
  emit(line_.data() + handed_, line_.size() - handed_);
  line_.clear();
  length_ = 0;
  handed_ = 0;
}

void Unit::hand_over() {
  std::size_t length = static_cast<std::size_t>(length_);
  if (length > handed_) emit(line_.data() + handed_, length - handed_);
  handed_ = length;
}

void Unit::emit(const char* data, std::size_t size) {
  if (!written_) {
    written_ = true;
    // The file keeps its old content until the run writes to it; from the
    // first line on it holds exactly what this run writes.
    if (regular_ && fd_ >= 0 && ::ftruncate(fd_, 0) != 0)
      report_system(Statement::kWrite, *this, errno);
  }
  if (immediate_) {
    write_out(data, size, Statement::kWrite);
    return;
  }
  pending_.insert(pending_.end(), data, data + size);
  if (pending_.size() >= kFileBuffer) flush(Statement::kWrite);
}

void Unit::flush(Statement statement) {
  if (pending_.empty()) return;
  std::vector<char> out;
  out.swap(pending_);  // the report must not try to write these again
  write_out(out.data(), out.size(), statement);
  out.clear();
  pending_.swap(out);
}

void Unit::write_out(const char* data, std::size_t size, Statement statement) {
  if (out_fd_ < 0) report_system(statement, *this, EBADF);
  if (int error = write_all(out_fd_, data, size); error != 0)
    report_system(statement, *this, error);
}

// ---------------------------------------------------------------- report, stop

namespace {

[[noreturn]] void report_on(Statement statement, std::string_view unit, std::string_view message,
                            bool system_error) {
  Unit::file().close_quietly();
  // Built in place, without allocating: the report also ends a run that has
  // no memory left.
  char text[512];
  std::size_t n = 0;
  auto add = [&](std::string_view part) {
    part = part.substr(0, sizeof text - n);
    std::memcpy(text + n, part.data(), part.size());
    n += part.size();
  };
  add(system_error ? "? System Error:\n? " : "? Run-Time Error:\n? ");
  add(message.substr(0, 256));
  add("\n? ");
  add(statement_name(statement));
  add("(UNIT=");
  add(unit.substr(0, 16));
  add(",...\n");
  write_all(error_fd, text, n);
  end(255);
}

}  // namespace

void report(Statement statement, const Unit& unit, std::string_view message,
            bool system_error) {
  report_on(statement, unit.name(), message, system_error);
}

void report_no_memory() {
  // Before any request the run is at its first write, the welcome text; the
  // console is not made here, since making it takes memory.
  report_on(current_statement, current_unit != nullptr ? current_unit->name() : "*",
            kNoMemoryMessage, false);
}

void report_system(Statement statement, const Unit& unit, int error) {
  report(statement, unit, std::strerror(error), true);
}

void stop(std::string_view text) {
  if (text.size() > 1 || (text.size() == 1 && text[0] != ' ')) {
    std::string line(text);
    line += '\n';
    write_all(error_fd, line.data(), line.size());
  }
  Unit::file().close();
  end(0);
}

}  // namespace brix::records
