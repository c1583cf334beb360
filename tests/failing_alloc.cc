// Linked into a copy of the program whose allocations fail on demand.
// BRIX_FAIL_ALLOC=N makes the N-th allocation of the process fail (counted
// from 1, on every thread), N+ makes that one and every later one fail.
// BRIX_ALLOC_COUNT=FILE writes the number of allocations asked for to FILE
// when the process ends, so that a test knows how many there are to fail.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> calls{0};
std::atomic<bool> configured{false};
long fail_at = 0;  // 0: none fails
bool fail_after = false;

// Reads the settings at the first allocation, which comes before any thread.
void configure() {
  if (configured.load(std::memory_order_acquire)) return;
  if (const char* text = std::getenv("BRIX_FAIL_ALLOC")) {
    char* end = nullptr;
    fail_at = std::strtol(text, &end, 10);
    fail_after = *end == '+';
  }
  configured.store(true, std::memory_order_release);
}

void* allocate(std::size_t size, std::size_t alignment) {
  configure();
  const long n = calls.fetch_add(1) + 1;
  if (fail_at > 0 && (n == fail_at || (fail_after && n > fail_at))) throw std::bad_alloc();
  if (size == 0) size = 1;
  void* p = alignment > alignof(std::max_align_t)
                ? std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment)
                : std::malloc(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

// Runs at the very end of the process, after the static destructors too.
__attribute__((destructor)) void write_count() {
  if (const char* path = std::getenv("BRIX_ALLOC_COUNT")) {
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%ld\n", calls.load());
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      (void)!::write(fd, text, static_cast<std::size_t>(n));
      ::close(fd);
    }
  }
}

}  // namespace

// The array and nothrow forms of the library call these two, and its
// operators delete free() what they return.
void* operator new(std::size_t size) { return allocate(size, 0); }
void* operator new(std::size_t size, std::align_val_t a) {
  return allocate(size, static_cast<std::size_t>(a));
}
