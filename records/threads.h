// How many threads a program works on.
#pragma once

namespace brix::records {

// As many as the machine runs at once, up to 16 (each reading thread holds
// about 2 MB of buffers, and a file of at most 300 MB needs no more), or
// BRIX_THREADS when it holds a number from 1 to 256.
int worker_threads();

}  // namespace brix::records
