// A netCDF-4 variable read straight from its HDF5 chunks. Model output is
// stored compressed, one chunk a time step or a tile of one, and inflating
// it is nearly all of an import's work: here each chunk that holds part of a
// request is read as stored, in turn, and inflated (libdeflate), unshuffled
// and converted on several threads. Only the requested elements of a chunk
// are unshuffled and converted. The values are the bits netCDF-C gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace brix::importer {

// A chunk that cannot be decoded: its first index along the first
// dimension (the time step, for a variable over time first).
struct ChunkError : std::runtime_error {
  ChunkError(const std::string& what, std::size_t first) : std::runtime_error(what), first(first) {}
  std::size_t first;
};

// Processor time of the calling thread, in seconds.
double thread_seconds();

// Processor time of the decoding, summed over its threads, and of reading
// the chunks as stored, in seconds.
struct ChunkTimes {
  double reading = 0, decoding = 0;
};

class ChunkReader {
 public:
  // The reader of variable `name` of the HDF5 file, or nullptr when it is
  // not stored in chunks whose filters are only shuffle, deflate and
  // fletcher32, of integers or IEEE reals, or cannot be opened so.
  static std::unique_ptr<ChunkReader> open(const std::string& path, const std::string& name,
                                           int threads);
  ~ChunkReader();
  ChunkReader(const ChunkReader&) = delete;
  ChunkReader& operator=(const ChunkReader&) = delete;

  // The block from `start` of `count` elements along each dimension as
  // doubles, in C order, into out. False, with nothing read, when a chunk of
  // the block is not stored (its fill value stands for it): the caller then
  // reads the block another way. Throws ChunkError.
  bool read(const std::vector<std::size_t>& start, const std::vector<std::size_t>& count,
            std::vector<double>& out);

  const ChunkTimes& times() const { return times_; }

 private:
  ChunkReader() = default;
  struct Layout;
  std::unique_ptr<Layout> layout_;
  int threads_ = 1;
  ChunkTimes times_;
};

}  // namespace brix::importer
