// Fuzzes the whole run: the real program, started in a folder of its own
// with fuzzed console answers and fuzzed input files.
//
// Input: a flag byte, then four parts separated by the byte 0x1E: console
// answers A, console answers B, the coordinate file, the reconstruction
// file. The files are written as xy.txt and recon.txt, and the console
// input is "xy.txt\n" A "recon.txt\n" B, so that the names open the fuzzed
// files; with the flag byte '!' it is A B alone, names and all.
//
// Checked: the program ends within 10 seconds, with status 0 and " End
// Brix_ELI" on standard error, or with status 255 and exactly three lines
// starting "? " on standard error; every line of each table written is
// complete and as wide as its rows; after a normal end each table holds its
// heading and one row per year read.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace {

constexpr int kTimeoutMs = 10000;
constexpr char kSeparator = '\x1e';
constexpr std::size_t kYearlyWidth = 60;
constexpr std::size_t kSmoothedWidth = 106;

// The program's edge counters, handed over when it exits (export_counters.cc);
// libFuzzer takes this section as features beside the target's own.
constexpr std::size_t kCounters = std::size_t{1} << 16;
__attribute__((used, section("__libfuzzer_extra_counters")))
std::uint8_t program_counters[kCounters];

std::string folder;
int counters_fd = -1;
std::string counters_env;

[[noreturn]] void fail(const std::string& what, const std::string& out = "",
                       const std::string& err = "") {
  std::fprintf(stderr,
               "fuzz_run: %s\n--- standard output (last 2000 bytes):\n%s\n"
               "--- standard error:\n%s\n",
               what.c_str(), out.substr(out.size() > 2000 ? out.size() - 2000 : 0).c_str(),
               err.c_str());
  std::abort();
}

std::string path(const char* name) { return folder + "/" + name; }

void put(const char* name, std::string_view content) {
  std::ofstream f(path(name), std::ios::binary | std::ios::trunc);
  f.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!f) fail(std::string("cannot write ") + name);
}

bool get(const char* name, std::string& content) {
  std::ifstream f(path(name), std::ios::binary);
  if (!f) return false;
  std::stringstream s;
  s << f.rdbuf();
  content = s.str();
  return true;
}

void remove_folder() { std::filesystem::remove_all(folder); }

// Waits for the child up to the time limit; false when it had to be killed.
bool wait_for(pid_t pid, int& status) {
  int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  bool ended = true;
  if (pidfd >= 0) {
    pollfd p{pidfd, POLLIN, 0};
    int n;
    while ((n = ::poll(&p, 1, kTimeoutMs)) < 0 && errno == EINTR) {
    }
    ended = n > 0;
    ::close(pidfd);
  } else {
    int waited = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (waited++ >= kTimeoutMs) {
        ended = false;
        break;
      }
      ::usleep(1000);
    }
    if (ended) return true;
  }
  if (!ended) ::kill(pid, SIGKILL);
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return ended;
}

// Every line complete and `width` characters wide; returns the line count.
std::size_t table_lines(const std::string& table, std::size_t width, const char* name,
                        const std::string& out, const std::string& err) {
  if (table.size() % (width + 1) != 0) fail(std::string(name) + ": a line not complete", out, err);
  for (std::size_t i = 0; i < table.size(); ++i)
    if ((table[i] == '\n') != (i % (width + 1) == width))
      fail(std::string(name) + ": a line of another width", out, err);
  return table.size() / (width + 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char name[] = "/tmp/brix_fuzz_run_XXXXXX";
  if (::mkdtemp(name) == nullptr) fail("mkdtemp");
  folder = name;
  std::atexit(remove_folder);
  counters_fd = ::memfd_create("program_counters", 0);  // inherited by the program
  if (counters_fd < 0) fail("memfd_create");
  counters_env = "BRIX_FUZZ_COUNTERS_FD=" + std::to_string(counters_fd);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool raw_console = data[0] == '!';
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string_view parts[4];
  for (int i = 0; i < 4; ++i) {
    std::size_t cut = i < 3 ? rest.find(kSeparator) : std::string_view::npos;
    parts[i] = rest.substr(0, cut);
    rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
  }
  std::string console =
      raw_console ? std::string(parts[0]) + std::string(parts[1])
                  : "xy.txt\n" + std::string(parts[0]) + "recon.txt\n" + std::string(parts[1]);
  put(".stdin", console);
  put("xy.txt", parts[2]);
  put("recon.txt", parts[3]);
  ::unlink(path("Brix_ELI_5N-5S.txt").c_str());
  ::unlink(path("Brix_ELI_5N-5S_Spline.txt").c_str());
  if (::ftruncate(counters_fd, 0) != 0 ||
      ::ftruncate(counters_fd, static_cast<off_t>(kCounters)) != 0)
    fail("ftruncate");

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  posix_spawn_file_actions_addopen(&actions, 0, ".stdin", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, ".stdout", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, ".stderr", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  // The program's heap at exit is of no interest, and the leak check would
  // take half of each run.
  static std::string asan_options = [] {
    const char* given = std::getenv("ASAN_OPTIONS");
    return std::string("ASAN_OPTIONS=") + (given != nullptr ? given : "") + ":detect_leaks=0";
  }();
  std::vector<char*> env;
  for (char** e = environ; *e != nullptr; ++e)
    if (std::strncmp(*e, "ASAN_OPTIONS=", 13) != 0) env.push_back(*e);
  env.push_back(asan_options.data());
  env.push_back(counters_env.data());
  env.push_back(nullptr);
  char program_name[] = "brix_eli";
  char* argv[] = {program_name, nullptr};
  pid_t pid;
  int spawned = posix_spawn(&pid, BRIX_ELI_PATH, &actions, nullptr, argv, env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) fail(std::string("posix_spawn: ") + std::strerror(spawned));

  int status = 0;
  bool ended = wait_for(pid, status);
  std::string out, err;
  get(".stdout", out);
  get(".stderr", err);
  if (!ended) fail("the program did not end within 10 seconds", out, err);
  if (::pread(counters_fd, program_counters, kCounters, 0) < 0) fail("pread");

  if (!WIFEXITED(status)) fail("ended by signal " + std::to_string(WTERMSIG(status)), out, err);
  const int code = WEXITSTATUS(status);
  if (code == 255) {
    std::size_t lines = 0;
    for (std::size_t at = 0; at < err.size(); ++lines) {
      std::size_t lf = err.find('\n', at);
      if (lf == std::string::npos || err.compare(at, 2, "? ") != 0)
        fail("a report line that is not \"? \" and a line", out, err);
      at = lf + 1;
    }
    if (lines != 3) fail("a report of " + std::to_string(lines) + " lines", out, err);
  } else if (code == 0) {
    if (err != " End Brix_ELI\n") fail("status 0 without the closing text", out, err);
    if (out.size() < 2 || out.compare(out.size() - 2, 2, " \n") != 0)
      fail("status 0 without the closing line", out, err);
  } else {
    fail("exit status " + std::to_string(code), out, err);
  }

  std::string yearly, smoothed;
  bool has_yearly = get("Brix_ELI_5N-5S.txt", yearly);
  bool has_smoothed = get("Brix_ELI_5N-5S_Spline.txt", smoothed);
  std::size_t yearly_lines =
      has_yearly ? table_lines(yearly, kYearlyWidth, "yearly table", out, err) : 0;
  std::size_t smoothed_lines =
      has_smoothed ? table_lines(smoothed, kSmoothedWidth, "smoothed table", out, err) : 0;
  if (code == 0) {
    const std::string echo = "\n Recon data read in: ";
    std::size_t at = out.rfind(echo);
    if (at == std::string::npos || !has_yearly || !has_smoothed)
      fail("a normal end without the echo or the tables", out, err);
    long n_years = std::strtol(out.substr(at + echo.size() + 12, 6).c_str(), nullptr, 10);
    if (yearly_lines != static_cast<std::size_t>(n_years) + 1 ||
        smoothed_lines != static_cast<std::size_t>(n_years) + 1)
      fail("tables without one row per year: " + std::to_string(n_years) + " years, " +
               std::to_string(yearly_lines) + " and " + std::to_string(smoothed_lines) + " lines",
           out, err);
  }
  return 0;
}
