#include "records/unit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "records/report.h"

namespace brix::records {
namespace {

constexpr std::size_t kFileBuffer = std::size_t{64} << 10;  // output held back

std::string_view trim_blanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

}  // namespace

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
  if (text_ != nullptr) return;  // a unit in memory holds nothing to complete
  close_quietly();
  forget_request_unit(this);
}

bool Unit::open_old(std::string_view name) {
  note_request(Statement::kOpen, this);
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
  note_request(Statement::kOpen, this);
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
  note_request(Statement::kClose, this);
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

bool Unit::next_line(std::string_view& line) {
  note_request(Statement::kRead, this);
  switch (reader_.next(line)) {
    case LineReader::Status::kLine: return true;
    case LineReader::Status::kEnd: return false;
    case LineReader::Status::kFailed: break;
  }
  report_system(Statement::kRead, *this, errno);
}

// ---------------------------------------------------------------- lines out

char* Unit::place(int column, int width) {
  if (text_ == nullptr) note_request(Statement::kWrite, this);
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

Unit::Unit(std::string* text) : name_("memory"), text_(text) {}

void Unit::emit(const char* data, std::size_t size) {
  if (text_ != nullptr) {
    text_->append(data, size);
    return;
  }
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

}  // namespace brix::records
