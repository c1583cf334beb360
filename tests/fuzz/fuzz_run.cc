// Fuzzes the whole run in a folder of its own. Input: a flag byte, then console
// answers A and B, the coordinate file, the reconstruction file, separated by
// 0x1E; the console reads "xy.txt\n" A "recon.txt\n" B (A B alone after '!').
// The run must end within 10 s of CPU time with status 0, its last line and
// " End Brix_ELI", or 255 and a report of three "? " lines. The program's edge
// counters, handed over at exit (export_counters.cc), guide the fuzzer.
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <string_view>

constexpr std::size_t kCounters = std::size_t{1} << 16;
__attribute__((used, section("__libfuzzer_extra_counters"))) std::uint8_t counters[kCounters];
static int counters_fd = -1;
static std::string folder, command;

static void put(const char* name, std::string_view text) {
  std::ofstream(folder + name, std::ios::binary).write(text.data(), std::streamsize(text.size()));
}

static std::string get(const char* name) {
  std::ifstream f(folder + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char name[] = "/tmp/brix_fuzz_run_XXXXXX";
  counters_fd = ::memfd_create("counters", 0);  // inherited by the program
  if (::mkdtemp(name) == nullptr || counters_fd < 0) std::abort();
  folder = std::string(name) + "/";
  // Past 10 s of CPU time the program gets SIGXCPU, which ends it.
  command =
      "cd " + folder + " && ulimit -S -t 10 && exec '" BRIX_ELI_PATH "' <.stdin >.stdout 2>.stderr";
  std::atexit([] { std::filesystem::remove_all(folder); });
  return ::setenv("BRIX_FUZZ_COUNTERS_FD", std::to_string(counters_fd).c_str(), 1);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1), parts[4];
  for (auto& part : parts) {
    part = rest.substr(0, &part == &parts[3] ? rest.size() : rest.find('\x1e'));
    rest.remove_prefix(std::min(rest.size(), part.size() + 1));
  }
  const bool named = data[0] != '!';
  put(".stdin", (named ? "xy.txt\n" : "") + std::string(parts[0]) + (named ? "recon.txt\n" : "") +
                    std::string(parts[1]));
  put("xy.txt", parts[2]);
  put("recon.txt", parts[3]);
  if (::ftruncate(counters_fd, 0) != 0 || ::ftruncate(counters_fd, kCounters) != 0) std::abort();
  const int status = std::system(command.c_str());
  if (::pread(counters_fd, counters, kCounters, 0) < 0) std::abort();

  const std::string out = get(".stdout"), err = get(".stderr");
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (code == 0 ? err == " End Brix_ELI\n" && out.ends_with(" \n")
                : code == 255 && std::regex_match(err, std::regex("(\\? .*\n){3}")))
    return 0;
  std::fprintf(
      stderr, "fuzz_run: %s %d (signal %d: past 10 s of CPU)\n--- output:\n%s\n--- error:\n%s\n",
      WIFEXITED(status) ? "exit status" : "signal", WIFEXITED(status) ? code : WTERMSIG(status),
      SIGXCPU, out.substr(out.size() - std::min<std::size_t>(out.size(), 2000)).c_str(),
      err.c_str());
  std::abort();
}
