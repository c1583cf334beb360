// Linked into the copy of the program that fuzz_run starts: the coverage
// instrumentation announces the program's 8-bit edge counters here before
// main, and at exit they go to the descriptor named by BRIX_FUZZ_COUNTERS_FD,
// where the fuzzer takes them as features of its own.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

static std::uint8_t *first = nullptr, *last = nullptr;

extern "C" void __sanitizer_cov_8bit_counters_init(std::uint8_t* start, std::uint8_t* stop) {
  if (first == nullptr)
    std::atexit([] {
      if (const char* fd = std::getenv("BRIX_FUZZ_COUNTERS_FD"))
        (void)!::pwrite(std::atoi(fd), first, std::size_t(last - first), 0);
    });
  first = start;
  last = stop;
}

// The leak check at exit would take half of each run, for a heap of no interest.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }
