// Test and benchmark helpers: temporary files and units over them.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "records/unit.h"

namespace brix::records::testing {

// A temporary file, removed with the object.
class TempFile {
 public:
  explicit TempFile(const std::string& content = "") {
    char name[] = "/tmp/brix_test_XXXXXX";
    int fd = ::mkstemp(name);
    path_ = name;
    if (fd < 0) std::abort();
    for (std::size_t done = 0; done < content.size();) {
      ssize_t n = ::write(fd, content.data() + done, content.size() - done);
      if (n <= 0) std::abort();
      done += static_cast<std::size_t>(n);
    }
    ::close(fd);
  }
  ~TempFile() { ::unlink(path_.c_str()); }
  const std::string& path() const { return path_; }
  std::string read() const {
    std::string out;
    FILE* f = std::fopen(path_.c_str(), "rb");
    if (f == nullptr) return out;
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
  }

 private:
  std::string path_;
};

// A unit reading the given text.
class InputUnit {
 public:
  explicit InputUnit(const std::string& text)
      : file_(text), fd_(::open(file_.path().c_str(), O_RDONLY)),
        unit_(std::make_unique<Unit>("10", fd_, -1, false)) {}
  ~InputUnit() {
    unit_.reset();
    ::close(fd_);
  }
  Unit& unit() { return *unit_; }

 private:
  TempFile file_;
  int fd_;
  std::unique_ptr<Unit> unit_;
};

// A console-like unit whose output lines land in a temporary file.
class OutputUnit {
 public:
  OutputUnit()
      : fd_(::open(file_.path().c_str(), O_WRONLY | O_TRUNC)),
        unit_(std::make_unique<Unit>("*", -1, fd_, true)) {}
  ~OutputUnit() {
    unit_.reset();
    ::close(fd_);
  }
  Unit& unit() { return *unit_; }
  std::string text() const { return file_.read(); }

 private:
  TempFile file_;
  int fd_;
  std::unique_ptr<Unit> unit_;
};

}  // namespace brix::records::testing
