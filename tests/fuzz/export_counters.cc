// Linked into the copy of the program that the whole-run fuzzer starts. The
// coverage instrumentation announces each module's 8-bit edge counters here
// before main; when the process exits, they are written to the descriptor
// named by BRIX_FUZZ_COUNTERS_FD, where the fuzzer takes them as features of
// its own. A process ended by a signal hands over nothing.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace {

struct Counters {
  std::uint8_t* start;
  std::uint8_t* stop;
};
Counters modules[16];
int n_modules = 0;

void hand_over() {
  const char* fd_text = std::getenv("BRIX_FUZZ_COUNTERS_FD");
  if (fd_text == nullptr) return;
  int fd = std::atoi(fd_text);
  off_t offset = 0;
  for (int i = 0; i < n_modules; ++i) {
    auto size = static_cast<std::size_t>(modules[i].stop - modules[i].start);
    if (::pwrite(fd, modules[i].start, size, offset) != static_cast<ssize_t>(size)) return;
    offset += static_cast<off_t>(size);
  }
}

}  // namespace

extern "C" void __sanitizer_cov_8bit_counters_init(std::uint8_t* start, std::uint8_t* stop) {
  if (start == stop || n_modules == 16) return;
  for (int i = 0; i < n_modules; ++i)
    if (modules[i].start == start) return;
  if (n_modules == 0) std::atexit(hand_over);
  modules[n_modules++] = {start, stop};
}
