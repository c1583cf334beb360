// A unit 10 over the fuzzer's input, opened by name as the program opens its
// files. One unit and one in-memory file serve every input, so that the
// line buffer is allocated once and not per input.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "records/unit.h"

namespace brix::fuzz {

class FuzzFile {
 public:
  explicit FuzzFile(const char* name)
      : fd_(::memfd_create(name, MFD_CLOEXEC)),
        path_("/proc/self/fd/" + std::to_string(fd_)),
        unit_("10", -1, -1, false) {
    if (fd_ < 0) std::abort();
  }

  // Replaces the file's content and opens it on the unit.
  records::Unit& open(std::string_view content) {
    if (::ftruncate(fd_, 0) != 0) std::abort();
    for (std::size_t done = 0; done < content.size();) {
      ssize_t n =
          ::pwrite(fd_, content.data() + done, content.size() - done, static_cast<off_t>(done));
      if (n <= 0) std::abort();
      done += static_cast<std::size_t>(n);
    }
    if (!unit_.open_old(path_)) {
      std::fprintf(stderr, "cannot open %s\n", path_.c_str());
      std::abort();
    }
    return unit_;
  }

  void close() { unit_.close(); }

 private:
  int fd_;
  std::string path_;
  records::Unit unit_;
};

}  // namespace brix::fuzz
