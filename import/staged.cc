#include "import/staged.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "import/source.h"

namespace brix::importer {

void check_output(const std::string& path, bool force) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) throw Failure(path + " is a directory");
  if (!force) throw Failure(path + " exists (give --force to replace it)");
}

Staged::Staged(const std::string& path) : path_(path), temp_(path + ".XXXXXX") {
  int fd = ::mkstemp(temp_.data());
  if (fd < 0) throw Failure("cannot create a file beside " + path_ + ": " + std::strerror(errno));
  // The mode a new file gets: 666 less the umask.
  mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  file_ = ::fdopen(fd, "w");
  buffer_.resize(1 << 20);
  std::setvbuf(file_, buffer_.data(), _IOFBF, buffer_.size());
}

Staged::~Staged() {
  if (file_ != nullptr) std::fclose(file_);
  if (!published_) ::unlink(temp_.c_str());
}

void Staged::close() {
  bool failed = std::ferror(file_) != 0;
  failed |= std::fclose(file_) != 0;
  file_ = nullptr;
  if (failed) throw Failure("cannot write " + path_ + ": " + std::strerror(errno));
}

void Staged::publish(bool replace) {
  int status =
      replace ? ::rename(temp_.c_str(), path_.c_str())
              : ::renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, path_.c_str(), RENAME_NOREPLACE);
  if (status != 0 && !replace && (errno == EINVAL || errno == ENOSYS)) {  // no such renaming here
    struct stat st;
    errno = EEXIST;
    if (::stat(path_.c_str(), &st) != 0) status = ::rename(temp_.c_str(), path_.c_str());
  }
  if (status != 0) {
    if (errno == EEXIST) throw Failure(path_ + " exists (give --force to replace it)");
    throw Failure("cannot write " + path_ + ": " + std::strerror(errno));
  }
  published_ = true;
}

void Staged::withdraw() { ::unlink(path_.c_str()); }

}  // namespace brix::importer
