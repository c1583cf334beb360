#include "records/threads.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

namespace brix::records {

int worker_threads() {
  if (const char* text = std::getenv("BRIX_THREADS")) {
    char* end = nullptr;
    long n = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && n >= 1 && n <= 256) return static_cast<int>(n);
  }
  return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 16u));
}

}  // namespace brix::records
