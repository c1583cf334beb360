// Test and benchmark helpers: temporary files, units over them, case tables.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "records/read.h"
#include "records/write.h"
#ifdef BRIX_SOURCE_DIR
#include <gtest/gtest.h>
#endif

namespace brix::records::testing {

// The temporary files a process made and has not removed yet, removed when
// it exits: a death test's child ends by exit() before the destructors of
// its files run. Each file belongs to the process that made it, so a forked
// child leaves its parent's files alone.
class TempFiles {
 public:
  static void add(const std::string& path) {
    // The list is made before the handler is registered, so that it is
    // destroyed after the handler has run.
    list();
    static const bool registered = (std::atexit(remove_left), true);
    (void)registered;
    std::lock_guard lock(mutex());
    list().push_back({::getpid(), path});
  }
  static void remove(const std::string& path) {
    ::unlink(path.c_str());
    std::lock_guard lock(mutex());
    std::erase_if(list(), [&](const Made& m) { return m.path == path; });
  }

 private:
  struct Made {
    pid_t pid;
    std::string path;
  };
  static std::vector<Made>& list() {
    static std::vector<Made> made;
    return made;
  }
  static std::mutex& mutex() {
    static std::mutex m;
    return m;
  }
  static void remove_left() {
    for (const Made& m : list())
      if (m.pid == ::getpid()) ::unlink(m.path.c_str());
  }
};

// A temporary file, removed with the object, or at the exit of the process
// that made it.
class TempFile {
 public:
  explicit TempFile(const std::string& content = "") {
    // In TMPDIR when it is set, as every temporary file of the tests.
    std::string name = std::filesystem::temp_directory_path() / "brix_test_XXXXXX";
    int fd = ::mkstemp(name.data());
    path_ = name;
    if (fd >= 0) TempFiles::add(path_);
    if (fd < 0 || ::write(fd, content.data(), content.size()) != ssize_t(content.size()))
      std::abort();
    ::close(fd);
  }
  ~TempFile() { TempFiles::remove(path_); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }
  std::string read() const { return (std::ostringstream() << std::ifstream(path_).rdbuf()).str(); }

 private:
  std::string path_;
};

// Unit 10 reading the text from a temporary file.
struct InputUnit : TempFile {
  explicit InputUnit(const std::string& text) : TempFile(text) { unit_.open_old(path()); }
  Unit& unit() { return unit_; }
  Unit unit_{"10", -1, -1, false};
};

// A console-like unit whose output lines land in a temporary file.
struct OutputUnit : TempFile {
  OutputUnit() : fd_(::open(path().c_str(), O_WRONLY)), unit_("*", -1, fd_, true) {}
  ~OutputUnit() { ::close(fd_); }  // not the unit's to close
  Unit& unit() { return unit_; }
  int fd_;
  Unit unit_;
};

// Runs the shell command: its exit status, and in *out what it wrote on
// standard output.
inline int output_of(const std::string& command, std::string* out) {
  std::FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  out->clear();
  for (std::size_t n; pipe != nullptr && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    out->append(buffer, n);
  return pipe == nullptr ? -1 : WEXITSTATUS(pclose(pipe));
}

#ifdef BRIX_SOURCE_DIR
// The cases of records/testdata/<file> (or of <file> in the source tree when
// it names a folder) under the tag: its lines that start with the tag, split
// into fields at blanks, without the tag. A field in double quotes may hold
// blanks and the escapes \n \r \t \0 \\ \".
inline auto cases(const std::string& file, const std::string& tag) {
  std::ifstream in(BRIX_SOURCE_DIR + std::string(file.find('/') == std::string::npos
                                                     ? "/records/testdata/"
                                                     : "/") +
                   file);
  std::vector<std::vector<std::string>> out;
  for (std::string line; std::getline(in, line);) {
    for (std::size_t i = 0; (i = line.find('\\', i)) != std::string::npos; ++i) {
      std::size_t k = std::string("nrt0").find(line[i + 1]);  // std::quoted undoes \\ and \"
      if (k != std::string::npos) line.replace(i, 2, 1, "\n\r\t"[k]);  // [3] is the NUL
      else ++i;
    }
    std::istringstream split(line);
    std::vector<std::string> c;
    for (std::string field; split >> std::quoted(field);) c.push_back(field);
    if (!c.empty() && c[0] == tag) out.emplace_back(c.begin() + 1, c.end());
  }
  if (out.empty()) ADD_FAILURE() << "no " << tag << " cases in " << file;
  return out;
}

// A real of a case table, as strtof reads it: -0 and -nan have the sign bit set.
inline float real(const std::string& s) { return std::strtof(s.c_str(), nullptr); }
inline std::uint32_t bits(float v) { return std::bit_cast<std::uint32_t>(v); }
inline const std::string kOutcomes[] = {"done", "error", "end"};  // in the order of Outcome
#endif

}  // namespace brix::records::testing
