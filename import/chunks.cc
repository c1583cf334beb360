#include "import/chunks.h"

#include <hdf5.h>
#include <libdeflate.h>
#include <time.h>

#include <algorithm>
#include <bit>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <span>
#include <thread>

namespace brix::importer {
namespace {

constexpr int kShuffle = H5Z_FILTER_SHUFFLE, kDeflate = H5Z_FILTER_DEFLATE,
              kFletcher32 = H5Z_FILTER_FLETCHER32;

// The checksum of HDF5's fletcher32 filter: sums of the data as big-endian
// 16-bit words (an odd last byte as the high half of one), folded to 16 bits
// often enough that 32 bits never overflow.
std::uint32_t fletcher32(const std::uint8_t* data, std::size_t size) {
  std::uint32_t sum1 = 0, sum2 = 0;
  std::size_t words = size / 2;
  while (words > 0) {
    std::size_t run = std::min<std::size_t>(words, 360);
    words -= run;
    for (; run > 0; --run, data += 2) {
      sum1 += static_cast<std::uint32_t>(data[0]) << 8 | data[1];
      sum2 += sum1;
    }
    sum1 = (sum1 & 0xffff) + (sum1 >> 16);
    sum2 = (sum2 & 0xffff) + (sum2 >> 16);
  }
  if (size % 2 != 0) {
    sum1 += static_cast<std::uint32_t>(*data) << 8;
    sum2 += sum1;
    sum1 = (sum1 & 0xffff) + (sum1 >> 16);
    sum2 = (sum2 & 0xffff) + (sum2 >> 16);
  }
  sum1 = (sum1 & 0xffff) + (sum1 >> 16);
  sum2 = (sum2 & 0xffff) + (sum2 >> 16);
  return sum2 << 16 | sum1;
}

enum class Kind { kSigned, kUnsigned, kReal };

}  // namespace

double thread_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct ChunkReader::Layout {
  // A chunk as stored, kept from one read to the next with its room.
  struct Stored {
    std::vector<hsize_t> offset;
    std::vector<std::uint8_t> bytes;
    std::uint32_t skipped = 0;  // filters left out for this chunk
  };
  // What a decoding thread keeps from one read to the next.
  struct Worker {
    libdeflate_decompressor* inflater = libdeflate_alloc_decompressor();
    std::vector<std::uint8_t> scratch, plain;
    Worker() = default;
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    ~Worker() { libdeflate_free_decompressor(inflater); }
  };
  std::vector<Stored> stored;
  std::vector<std::unique_ptr<Worker>> workers;

  hid_t file = -1, dataset = -1;
  std::vector<hsize_t> dims, chunk;
  std::vector<int> filters;  // in the order applied when writing
  std::size_t size = 0;      // bytes of an element
  Kind kind = Kind::kReal;
  bool big_endian = false;
  std::size_t chunk_elements = 1;

  ~Layout() {
    if (dataset >= 0) H5Dclose(dataset);
    if (file >= 0) H5Fclose(file);
  }

  // The element at index li of a decoded chunk, as a double.
  double element(const std::uint8_t* data, bool shuffled, std::size_t li) const {
    std::uint8_t b[8];
    for (std::size_t k = 0; k < size; ++k)
      b[k] = shuffled ? data[k * chunk_elements + li] : data[li * size + k];
    if (big_endian) std::reverse(b, b + size);
    auto as = [&](auto v) {
      std::memcpy(&v, b, sizeof v);
      return static_cast<double>(v);
    };
    switch (kind) {
      case Kind::kReal:
        return size == 4 ? as(float{}) : as(double{});
      case Kind::kSigned:
        return size == 1   ? as(std::int8_t{})
               : size == 2 ? as(std::int16_t{})
               : size == 4 ? as(std::int32_t{})
                           : as(std::int64_t{});
      case Kind::kUnsigned:
        return size == 1   ? as(std::uint8_t{})
               : size == 2 ? as(std::uint16_t{})
               : size == 4 ? as(std::uint32_t{})
                           : as(std::uint64_t{});
    }
    return 0;
  }
};

std::unique_ptr<ChunkReader> ChunkReader::open(const std::string& path, const std::string& name,
                                               int threads) {
  H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);  // failures are answered here, not printed
  auto layout = std::make_unique<Layout>();
  Layout& l = *layout;
  l.file = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
  if (l.file < 0) return nullptr;
  l.dataset = H5Dopen2(l.file, name.c_str(), H5P_DEFAULT);
  if (l.dataset < 0) return nullptr;

  hid_t space = H5Dget_space(l.dataset);
  int rank = space < 0 ? -1 : H5Sget_simple_extent_ndims(space);
  if (rank > 0) {
    l.dims.resize(static_cast<std::size_t>(rank));
    H5Sget_simple_extent_dims(space, l.dims.data(), nullptr);
  }
  if (space >= 0) H5Sclose(space);
  if (rank <= 0) return nullptr;

  hid_t plist = H5Dget_create_plist(l.dataset);
  bool fits = plist >= 0 && H5Pget_layout(plist) == H5D_CHUNKED;
  if (fits) {
    l.chunk.resize(l.dims.size());
    fits = H5Pget_chunk(plist, rank, l.chunk.data()) == rank;
    int n = H5Pget_nfilters(plist);
    for (int k = 0; fits && k < n; ++k) {
      unsigned flags = 0, config = 0, values[8];
      std::size_t n_values = 8;
      char filter_name[64];
      H5Z_filter_t id = H5Pget_filter2(plist, static_cast<unsigned>(k), &flags, &n_values, values,
                                       sizeof filter_name, filter_name, &config);
      l.filters.push_back(static_cast<int>(id));
    }
  }
  if (plist >= 0) H5Pclose(plist);
  // Each of shuffle, deflate and fletcher32 at most once, in any order.
  for (std::size_t k = 0; k < l.filters.size(); ++k) {
    int f = l.filters[k];
    if (f != kShuffle && f != kDeflate && f != kFletcher32) fits = false;
    for (std::size_t j = 0; j < k; ++j) fits &= l.filters[j] != f;
  }
  if (!fits) return nullptr;
  for (hsize_t c : l.chunk) l.chunk_elements *= c;

  hid_t type = H5Dget_type(l.dataset);
  H5T_class_t type_class = type < 0 ? H5T_NO_CLASS : H5Tget_class(type);
  l.size = type < 0 ? 0 : H5Tget_size(type);
  l.big_endian = type >= 0 && H5Tget_order(type) == H5T_ORDER_BE;
  if (type_class == H5T_INTEGER) {
    l.kind = H5Tget_sign(type) == H5T_SGN_NONE ? Kind::kUnsigned : Kind::kSigned;
    fits = l.size == 1 || l.size == 2 || l.size == 4 || l.size == 8;
  } else if (type_class == H5T_FLOAT) {
    l.kind = Kind::kReal;
    fits =
        (l.size == 4 &&
         (H5Tequal(type, H5T_IEEE_F32LE) > 0 || H5Tequal(type, H5T_IEEE_F32BE) > 0)) ||
        (l.size == 8 && (H5Tequal(type, H5T_IEEE_F64LE) > 0 || H5Tequal(type, H5T_IEEE_F64BE) > 0));
  } else {
    fits = false;
  }
  if (type >= 0) H5Tclose(type);
  if (!fits) return nullptr;

  std::unique_ptr<ChunkReader> reader(new ChunkReader);
  reader->layout_ = std::move(layout);
  reader->threads_ = std::max(threads, 1);
  return reader;
}

ChunkReader::~ChunkReader() = default;

bool ChunkReader::read(const std::vector<std::size_t>& start, const std::vector<std::size_t>& count,
                       std::vector<double>& out) {
  Layout& l = *layout_;
  const std::size_t rank = l.dims.size();
  std::size_t total = 1;
  for (std::size_t c : count) total *= c;
  out.resize(total);
  if (total == 0) return true;

  // The chunks that hold part of the block; every one must be stored.
  using Stored = Layout::Stored;
  std::vector<Stored>& kept = l.stored;
  std::size_t n_chunks = 0;
  std::vector<hsize_t> first(rank), last(rank), at(rank);
  for (std::size_t d = 0; d < rank; ++d) {
    first[d] = start[d] / l.chunk[d];
    last[d] = (start[d] + count[d] - 1) / l.chunk[d];
  }
  double began = thread_seconds();
  at = first;
  for (bool more = true; more;) {
    if (n_chunks == kept.size()) kept.emplace_back();
    Stored& s = kept[n_chunks++];
    s.offset.resize(rank);
    for (std::size_t d = 0; d < rank; ++d) s.offset[d] = at[d] * l.chunk[d];
    hsize_t stored = 0;
    if (H5Dget_chunk_storage_size(l.dataset, s.offset.data(), &stored) < 0 || stored == 0)
      return false;
    s.bytes.resize(stored);
    more = false;
    for (std::size_t d = rank; d-- > 0;) {
      if (at[d] < last[d]) {
        ++at[d];
        more = true;
        break;
      }
      at[d] = first[d];
    }
  }
  times_.reading += thread_seconds() - began;

  // Strides of the block out and of a chunk.
  std::vector<std::size_t> out_stride(rank, 1), chunk_stride(rank, 1);
  for (std::size_t d = rank - 1; d > 0; --d) {
    out_stride[d - 1] = out_stride[d] * count[d];
    chunk_stride[d - 1] = chunk_stride[d] * l.chunk[d];
  }

  // Each chunk inflated, checked and its elements of the block converted.
  auto decode = [&](const Stored& s, libdeflate_decompressor* inflater,
                    std::vector<std::uint8_t>& scratch, std::vector<std::uint8_t>& plain) {
    const std::uint8_t* data = s.bytes.data();
    std::size_t size = s.bytes.size();
    bool shuffled = false;  // the elements are still in byte planes
    const std::size_t expected = l.chunk_elements * l.size;
    // Filters undone in the reverse of the order they were applied in.
    for (std::size_t k = l.filters.size(); k-- > 0;) {
      if ((s.skipped >> k) & 1u) continue;
      if (l.filters[k] == kFletcher32) {
        if (size < 4) throw ChunkError("its chunk is too short for its checksum", s.offset[0]);
        std::uint32_t stored = 0;
        for (int b = 3; b >= 0; --b)
          stored = stored << 8 | data[size - 4 + static_cast<std::size_t>(b)];
        size -= 4;
        std::uint32_t sum = fletcher32(data, size);
        if (stored != sum && stored != __builtin_bswap32(sum))
          throw ChunkError("its chunk fails its checksum", s.offset[0]);
      } else if (l.filters[k] == kDeflate) {
        scratch.resize(expected + 4);  // room for a checksum applied before
        std::size_t inflated = 0;
        if (libdeflate_zlib_decompress(inflater, data, size, scratch.data(), scratch.size(),
                                       &inflated) != LIBDEFLATE_SUCCESS)
          throw ChunkError("its chunk cannot be inflated", s.offset[0]);
        data = scratch.data();
        size = inflated;
      } else if (k == 0) {
        shuffled = true;  // the last to undo: each element is taken from the planes
      } else {
        // Planes of whole elements, the bytes left over after them as they were.
        const std::size_t n = size / l.size;
        plain.resize(size);
        for (std::size_t i = 0; i < n; ++i)
          for (std::size_t b = 0; b < l.size; ++b) plain[i * l.size + b] = data[b * n + i];
        std::copy(data + n * l.size, data + size, plain.data() + n * l.size);
        data = plain.data();
      }
    }
    if (size != expected)
      throw ChunkError("its chunk holds the wrong number of bytes", s.offset[0]);
    // The part of the block in this chunk, in chunk coordinates.
    std::vector<std::size_t> lo(rank), hi(rank), pos(rank);
    for (std::size_t d = 0; d < rank; ++d) {
      std::size_t c0 = s.offset[d];
      lo[d] = std::max<std::size_t>(start[d], c0) - c0;
      hi[d] = std::min<std::size_t>(start[d] + count[d], c0 + l.chunk[d]) - c0;
    }
    pos = lo;
    for (bool more = true; more;) {
      std::size_t li = 0, oi = 0;
      for (std::size_t d = 0; d + 1 < rank; ++d) {
        li += pos[d] * chunk_stride[d];
        oi += (s.offset[d] + pos[d] - start[d]) * out_stride[d];
      }
      const std::size_t d = rank - 1;
      for (std::size_t j = lo[d]; j < hi[d]; ++j)
        out[oi + (s.offset[d] + j - start[d])] = l.element(data, shuffled, li + j);
      more = false;
      for (std::size_t e = rank - 1; e-- > 0;) {
        if (++pos[e] < hi[e]) {
          more = true;
          break;
        }
        pos[e] = lo[e];
      }
    }
  };

  // The calling thread reads the chunks as stored, one after another, while
  // the helpers decode those read; then it decodes too.
  std::size_t ready = 0, next = 0;  // chunks read; chunks taken for decoding
  bool stop = false;
  std::exception_ptr failure;
  std::mutex mutex;
  std::condition_variable more_read;
  auto fail = [&](std::exception_ptr e) {
    std::lock_guard lock(mutex);
    if (!failure) failure = e;
    stop = true;
    more_read.notify_all();
  };
  const std::span<Stored> chunks(kept.data(), n_chunks);
  auto work = [&](std::size_t w) {
    double t0 = thread_seconds();
    Layout::Worker& worker = *l.workers[w];
    libdeflate_decompressor* inflater = worker.inflater;
    std::vector<std::uint8_t>& scratch = worker.scratch;
    std::vector<std::uint8_t>& plain = worker.plain;
    try {
      if (inflater == nullptr) throw std::bad_alloc();
      for (;;) {
        std::size_t k;
        {
          std::unique_lock lock(mutex);
          more_read.wait(lock, [&] { return stop || next < ready || next == chunks.size(); });
          if (stop || next == chunks.size()) break;
          k = next++;
        }
        decode(chunks[k], inflater, scratch, plain);
      }
    } catch (...) {
      fail(std::current_exception());
    }
    std::lock_guard lock(mutex);
    times_.decoding += thread_seconds() - t0;
  };
  const std::size_t helpers =
      std::min<std::size_t>(static_cast<std::size_t>(threads_), chunks.size()) - 1;
  std::vector<std::thread> pool;
  struct Join {
    std::vector<std::thread>& pool;
    ~Join() {
      for (std::thread& t : pool) t.join();
    }
  } join{pool};
  while (l.workers.size() < helpers + 1) l.workers.push_back(std::make_unique<Layout::Worker>());
  for (std::size_t k = 0; k < helpers; ++k) {
    try {
      pool.emplace_back(work, k + 1);
    } catch (const std::system_error&) {
      break;  // no more threads: the others do the rest
    }
  }
  began = thread_seconds();
  for (std::size_t k = 0; k < chunks.size(); ++k) {
    Stored& c = chunks[k];
    if (H5Dread_chunk(l.dataset, H5P_DEFAULT, c.offset.data(), &c.skipped, c.bytes.data()) < 0) {
      fail(std::make_exception_ptr(ChunkError("its stored chunk cannot be read", c.offset[0])));
      break;
    }
    std::lock_guard lock(mutex);
    ready = k + 1;
    more_read.notify_one();
  }
  times_.reading += thread_seconds() - began;
  work(0);
  for (std::thread& t : pool) t.join();
  pool.clear();
  if (failure) std::rethrow_exception(failure);
  return true;
}

}  // namespace brix::importer
