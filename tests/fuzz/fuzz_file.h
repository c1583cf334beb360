// Unit 10 over the fuzzer's input, opened by name as the program opens files.
// One in-memory file and one unit serve every input: one line buffer in all.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "records/unit.h"

namespace brix::fuzz {

struct FuzzFile {
  explicit FuzzFile(const char* name) : fd(::memfd_create(name, MFD_CLOEXEC)) {}

  // Replaces the file's content and opens it on the unit.
  records::Unit& open(std::string_view text) {
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()) ||
        !unit.open_old("/proc/self/fd/" + std::to_string(fd)))
      std::abort();
    return unit;
  }
  void close() { unit.close(); }

  int fd;
  records::Unit unit{"10", -1, -1, false};
};

}  // namespace brix::fuzz
