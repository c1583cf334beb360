// Fuzzes the whole run, in this process, in a folder of its own on a memory
// file system. Input: a flag byte, then console answers A and B, the
// coordinate file, the reconstruction file, separated by 0x1E; the console
// reads "xy.txt\n" A "recon.txt\n" B (A B alone after '!'). A flag byte
// with bits 1 and 2 set runs the program on two threads, any other on one.
// The run must end with status 0, its last line " " and " End Brix_ELI", or
// 255 and a report of three "? " lines, within the time tools/fuzz allows
// (-timeout). Standard input and output are memory files; the report and
// the stop end the run by an exception instead of ending the process.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <string_view>

#include "app/run.h"
#include "records/report.h"
#include "records/unit.h"

namespace {

struct Ended {
  int status;
};

int home_fd = -1, folder_fd = -1, err_fd = -1;
std::string folder;

void fail(const char* what) {
  std::perror(what);
  std::abort();
}

// Replaces the content of the file open on fd and rewinds it.
void refill(int fd, std::string_view text) {
  if (::ftruncate(fd, 0) != 0 ||
      ::pwrite(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()) ||
      ::lseek(fd, 0, SEEK_SET) != 0)
    fail("fuzz_run: refill");
}

void put(const char* name, std::string_view text) {
  const int fd = ::openat(folder_fd, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) fail("fuzz_run: put");
  refill(fd, text);
  ::close(fd);
}

std::string content(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) fail("fuzz_run: fstat");
  std::string text(static_cast<std::size_t>(st.st_size), '\0');
  if (::pread(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
    fail("fuzz_run: pread");
  return text;
}

// Three lines, each beginning with "? ".
bool is_report(std::string_view err) {
  for (int line = 0; line < 3; ++line) {
    const std::size_t lf = err.find('\n');
    if (!err.starts_with("? ") || lf == std::string_view::npos) return false;
    err.remove_prefix(lf + 1);
  }
  return err.empty();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char name[] = "/dev/shm/brix_fuzz_run_XXXXXX", other[] = "/tmp/brix_fuzz_run_XXXXXX";
  const char* made = ::mkdtemp(name);
  if (made == nullptr) made = ::mkdtemp(other);
  if (made == nullptr) fail("fuzz_run: mkdtemp");
  folder = made;
  std::atexit([] { std::filesystem::remove_all(folder); });
  home_fd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  folder_fd = ::open(made, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // The program's standard input and output; its report and stop text.
  const int in = ::memfd_create("stdin", 0), out = ::memfd_create("stdout", 0);
  err_fd = ::memfd_create("stderr", MFD_CLOEXEC);
  if (home_fd < 0 || folder_fd < 0 || in < 0 || out < 0 || err_fd < 0 ||
      ::dup2(in, STDIN_FILENO) < 0 || ::dup2(out, STDOUT_FILENO) < 0)
    fail("fuzz_run: descriptors");
  brix::records::end_runs_with(err_fd, [](int status) { throw Ended{status}; });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1), parts[4];
  for (auto& part : parts) {
    part = rest.substr(0, &part == &parts[3] ? rest.size() : rest.find('\x1e'));
    rest.remove_prefix(std::min(rest.size(), part.size() + 1));
  }
  const bool named = data[0] != '!';
  refill(STDIN_FILENO, (named ? "xy.txt\n" : "") + std::string(parts[0]) +
                           (named ? "recon.txt\n" : "") + std::string(parts[1]));
  refill(STDOUT_FILENO, "");
  refill(err_fd, "");
  put("xy.txt", parts[2]);
  put("recon.txt", parts[3]);
  brix::input::ReadMode mode;
  mode.threads = (data[0] & 6) == 6 ? 2 : 1;

  int code = -1;
  if (::fchdir(folder_fd) != 0) fail("fuzz_run: fchdir");
  brix::records::Unit::console().restart();
  brix::records::Unit::file().restart();
  try {
    try {
      brix::app::run(mode);
    } catch (const std::bad_alloc&) {  // as the program's main does
      brix::records::report_no_memory();
    }
  } catch (const Ended& e) {
    code = e.status;
  }
  if (::fchdir(home_fd) != 0) fail("fuzz_run: fchdir");

  const std::string out = content(STDOUT_FILENO), err = content(err_fd);
  if (code == 0 ? err == " End Brix_ELI\n" && out.ends_with(" \n")
                : code == 255 && is_report(err))
    return 0;
  std::fprintf(stderr, "fuzz_run: status %d\n--- output:\n%s\n--- error:\n%s\n", code,
               out.substr(out.size() - std::min<std::size_t>(out.size(), 2000)).c_str(),
               err.c_str());
  std::abort();
}
