// A netCDF-4 variable read straight from its HDF5 chunks. Model output is
// stored compressed, one chunk a time step or a tile of one, and inflating
// it is nearly all of an import's work: here each chunk that holds part of a
// request is read as stored, in turn, and inflated (libdeflate), unshuffled
// and converted on several threads. Only the requested elements of a chunk
// are unshuffled and converted. The values are the bits netCDF-C gives.
// The filter chain and the scatter work on bytes alone, without HDF5.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

struct libdeflate_decompressor;

namespace brix::importer {

// The filters a chunk may have gone through when it was written.
enum class Filter { kShuffle, kDeflate, kFletcher32 };

// The checksum of HDF5's fletcher32 filter.
std::uint32_t fletcher32(const std::uint8_t* data, std::size_t size);

// A chunk's bytes as its filters are undone. Shuffled, the elements are still
// in byte planes of size / element size bytes each.
struct ChunkBytes {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  bool shuffled = false;
};

// What a thread keeps to undo the filters of chunk after chunk: an inflater
// and the buffers of the bytes each filter gives, which grow only for a
// larger chunk than any before.
class FilterChain {
 public:
  FilterChain();  // std::bad_alloc when the inflater cannot be had
  ~FilterChain();
  FilterChain(const FilterChain&) = delete;
  FilterChain& operator=(const FilterChain&) = delete;

  // Undoes the filters, given in the order they were applied, in the reverse
  // order, but for those whose bit is set in `skipped`, leaving bytes in the
  // chain's buffers or in those given. A shuffle as the last to undo is left
  // for the elements to be gathered from the planes. The decoded chunk must
  // hold `expected` bytes of elements of element_size bytes. nullptr, or what
  // is wrong with the chunk.
  const char* undo(std::span<const Filter> filters, std::uint32_t skipped, std::size_t element_size,
                   std::size_t expected, ChunkBytes& bytes);

 private:
  libdeflate_decompressor* inflater_;
  std::vector<std::uint8_t> inflated_, unshuffled_;
};

// The element type of a variable as stored.
struct StoredType {
  enum class Kind { kSigned, kUnsigned, kReal };
  Kind kind = Kind::kReal;
  std::size_t size = 4;  // bytes
  bool big_endian = false;
};

constexpr std::size_t kMaxRank = 32;  // dimensions of a variable, at most

// A decoded chunk and the block asked of it, each along `rank` dimensions:
// the chunk's extent and its first index, the block's first index and count.
struct ChunkPlace {
  std::size_t rank;
  const std::size_t *chunk, *offset, *start, *count;
};

// Copies the elements of the block that the chunk holds, as doubles, into
// out, the block in C order.
using Scatter = void (*)(const ChunkPlace& place, const ChunkBytes& chunk, bool big_endian,
                         double* out);

// The scatter of elements of the type; nullptr for one of another size.
Scatter scatter_for(StoredType::Kind kind, std::size_t size);

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
