#include "import/chunks.h"

#include <hdf5.h>
#include <libdeflate.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <type_traits>

#include "records/ordered_window.h"

namespace brix::importer {

// HDF5's fletcher32: sums of the data as big-endian 16-bit words (an odd last
// byte as the high half of one), folded to 16 bits often enough that 32 bits
// never overflow.
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

namespace {

// The filters, each undone in place of `bytes`: nullptr, or what is wrong.

// The checksum in the last 4 bytes, taken in either byte order.
const char* check_fletcher32(ChunkBytes& bytes) {
  if (bytes.size < 4) return "its chunk is too short for its checksum";
  const std::uint8_t* end = bytes.data + bytes.size;
  const std::uint32_t stored = static_cast<std::uint32_t>(end[-1]) << 24 |
                               static_cast<std::uint32_t>(end[-2]) << 16 |
                               static_cast<std::uint32_t>(end[-3]) << 8 | end[-4];
  bytes.size -= 4;
  const std::uint32_t sum = fletcher32(bytes.data, bytes.size);
  return stored == sum || stored == __builtin_bswap32(sum) ? nullptr
                                                           : "its chunk fails its checksum";
}

// A zlib stream inflated into `into`, of at most `most` bytes.
const char* inflate(libdeflate_decompressor* inflater, std::vector<std::uint8_t>& into,
                    std::size_t most, ChunkBytes& bytes) {
  into.resize(most);
  std::size_t inflated = 0;
  if (libdeflate_zlib_decompress(inflater, bytes.data, bytes.size, into.data(), into.size(),
                                 &inflated) != LIBDEFLATE_SUCCESS)
    return "its chunk cannot be inflated";
  bytes.data = into.data();
  bytes.size = inflated;
  return nullptr;
}

// Byte planes of whole elements put back together into `into`, the bytes
// left over after them as they were.
void unshuffle(std::vector<std::uint8_t>& into, std::size_t element_size, ChunkBytes& bytes) {
  const std::size_t n = bytes.size / element_size;
  const std::uint8_t* data = bytes.data;
  into.resize(bytes.size);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t b = 0; b < element_size; ++b) into[i * element_size + b] = data[b * n + i];
  std::copy(data + n * element_size, data + bytes.size, into.data() + n * element_size);
  bytes.data = into.data();
}

// Calls row(li, oi, n) for each run of the block along the last dimension
// that the chunk holds: n elements from index li of the chunk to index oi of
// the block, both in C order.
template <class Row>
void for_each_row(const ChunkPlace& p, Row row) {
  std::array<std::size_t, kMaxRank> lo, hi, pos, chunk_stride, out_stride;
  const std::size_t rank = p.rank, last = rank - 1;
  for (std::size_t d = 0; d < rank; ++d) {
    const std::size_t c0 = p.offset[d];
    lo[d] = std::max(p.start[d], c0) - c0;
    hi[d] = std::min(p.start[d] + p.count[d], c0 + p.chunk[d]) - c0;
    if (hi[d] <= lo[d]) return;  // none of the block
  }
  chunk_stride[last] = out_stride[last] = 1;
  for (std::size_t d = last; d > 0; --d) {
    chunk_stride[d - 1] = chunk_stride[d] * p.chunk[d];
    out_stride[d - 1] = out_stride[d] * p.count[d];
  }
  std::copy(lo.begin(), lo.begin() + static_cast<std::ptrdiff_t>(rank), pos.begin());
  for (bool more = true; more;) {
    std::size_t li = lo[last], oi = p.offset[last] + lo[last] - p.start[last];
    for (std::size_t d = 0; d < last; ++d) {
      li += pos[d] * chunk_stride[d];
      oi += (p.offset[d] + pos[d] - p.start[d]) * out_stride[d];
    }
    row(li, oi, hi[last] - lo[last]);
    more = false;
    for (std::size_t e = last; e-- > 0;) {
      if (++pos[e] < hi[e]) {
        more = true;
        break;
      }
      pos[e] = lo[e];
    }
  }
}

template <std::size_t kSize>
using Bits = std::conditional_t<
    kSize == 1, std::uint8_t,
    std::conditional_t<kSize == 2, std::uint16_t,
                       std::conditional_t<kSize == 4, std::uint32_t, std::uint64_t>>>;

template <class U>
U byte_swap(U v) {
  if constexpr (sizeof(U) == 1) return v;
  if constexpr (sizeof(U) == 2) return __builtin_bswap16(v);
  if constexpr (sizeof(U) == 4) return __builtin_bswap32(v);
  if constexpr (sizeof(U) == 8) return __builtin_bswap64(v);
}

// The scatter of elements stored as T. Shuffled, byte k of element i lies in
// plane k, at k * elements + i.
template <class T>
void scatter(const ChunkPlace& place, const ChunkBytes& chunk, bool big_endian, double* out) {
  using U = Bits<sizeof(T)>;
  const bool swap = big_endian != (std::endian::native == std::endian::big);
  const std::uint8_t* data = chunk.data;
  const std::size_t elements = chunk.size / sizeof(T);
  auto value = [&](std::size_t i) {
    U bits;
    if (chunk.shuffled) {
      std::uint8_t b[sizeof(T)];
      for (std::size_t k = 0; k < sizeof(T); ++k) b[k] = data[k * elements + i];
      std::memcpy(&bits, b, sizeof bits);
    } else {
      std::memcpy(&bits, data + i * sizeof(T), sizeof bits);
    }
    return static_cast<double>(std::bit_cast<T>(swap ? byte_swap(bits) : bits));
  };
  for_each_row(place, [&](std::size_t li, std::size_t oi, std::size_t n) {
    for (std::size_t j = 0; j < n; ++j) out[oi + j] = value(li + j);
  });
}

constexpr int kShuffle = H5Z_FILTER_SHUFFLE, kDeflate = H5Z_FILTER_DEFLATE,
              kFletcher32 = H5Z_FILTER_FLETCHER32;

}  // namespace

FilterChain::FilterChain() : inflater_(libdeflate_alloc_decompressor()) {
  if (inflater_ == nullptr) throw std::bad_alloc();
}

FilterChain::~FilterChain() { libdeflate_free_decompressor(inflater_); }

const char* FilterChain::undo(std::span<const Filter> filters, std::uint32_t skipped,
                              std::size_t element_size, std::size_t expected, ChunkBytes& bytes) {
  bytes.shuffled = false;
  for (std::size_t k = filters.size(); k-- > 0;) {
    if ((skipped >> k) & 1u) continue;
    const char* failure = nullptr;
    switch (filters[k]) {
      case Filter::kFletcher32:
        failure = check_fletcher32(bytes);
        break;
      case Filter::kDeflate:
        failure = inflate(inflater_, inflated_, expected + 4, bytes);  // room for a checksum
        break;
      case Filter::kShuffle:
        if (k == 0)
          bytes.shuffled = true;  // the last to undo: each element is taken from the planes
        else
          unshuffle(unshuffled_, element_size, bytes);
        break;
    }
    if (failure != nullptr) return failure;
  }
  return bytes.size == expected ? nullptr : "its chunk holds the wrong number of bytes";
}

Scatter scatter_for(StoredType::Kind kind, std::size_t size) {
  using Kind = StoredType::Kind;
  switch (size) {
    case 1:
      return kind == Kind::kSigned     ? &scatter<std::int8_t>
             : kind == Kind::kUnsigned ? &scatter<std::uint8_t>
                                       : nullptr;
    case 2:
      return kind == Kind::kSigned     ? &scatter<std::int16_t>
             : kind == Kind::kUnsigned ? &scatter<std::uint16_t>
                                       : nullptr;
    case 4:
      return kind == Kind::kSigned     ? &scatter<std::int32_t>
             : kind == Kind::kUnsigned ? &scatter<std::uint32_t>
                                       : &scatter<float>;
    case 8:
      return kind == Kind::kSigned     ? &scatter<std::int64_t>
             : kind == Kind::kUnsigned ? &scatter<std::uint64_t>
                                       : &scatter<double>;
  }
  return nullptr;
}

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
    FilterChain chain;
    double began = -1;  // processor seconds at its first chunk of a read
  };
  class Decode;
  std::vector<Stored> stored;
  std::vector<std::unique_ptr<Worker>> workers;

  hid_t file = -1, dataset = -1;
  std::vector<std::size_t> chunk;
  std::vector<Filter> filters;  // in the order applied when writing
  StoredType type;
  Scatter scatter = nullptr;
  std::size_t chunk_elements = 1;

  ~Layout() {
    if (dataset >= 0) H5Dclose(dataset);
    if (file >= 0) H5Fclose(file);
  }

  bool open_chunks();
  bool open_type();
  bool find_chunks(const std::vector<std::size_t>& start, const std::vector<std::size_t>& count,
                   std::size_t& n_chunks);
};

// Each chunk of a read undone, checked and its elements of the block
// scattered into out, on whichever worker takes it.
class ChunkReader::Layout::Decode {
 public:
  Decode(Layout& l, const std::vector<std::size_t>& start, const std::vector<std::size_t>& count,
         double* out, ChunkTimes& times)
      : l_(l), start_(start), count_(count), out_(out), times_(times) {}

  void operator()(std::size_t k, int w) {
    Worker& worker = *l_.workers[static_cast<std::size_t>(w)];
    if (worker.began < 0) worker.began = thread_seconds();
    const Stored& s = l_.stored[k];
    ChunkBytes bytes{s.bytes.data(), s.bytes.size()};
    if (const char* failure = worker.chain.undo(l_.filters, s.skipped, l_.type.size,
                                                l_.chunk_elements * l_.type.size, bytes))
      throw ChunkError(failure, s.offset[0]);
    std::array<std::size_t, kMaxRank> offset;
    std::copy(s.offset.begin(), s.offset.end(), offset.begin());
    const ChunkPlace place{start_.size(), l_.chunk.data(), offset.data(), start_.data(),
                           count_.data()};
    l_.scatter(place, bytes, l_.type.big_endian, out_);
  }

  // The processor time of a worker's decoding, from its first chunk on.
  void leave(int w) {
    Worker& worker = *l_.workers[static_cast<std::size_t>(w)];
    if (worker.began < 0) return;
    const double seconds = thread_seconds() - worker.began;
    worker.began = -1;
    std::lock_guard lock(mutex_);
    times_.decoding += seconds;
  }

 private:
  Layout& l_;
  const std::vector<std::size_t>& start_;
  const std::vector<std::size_t>& count_;
  double* out_;
  ChunkTimes& times_;
  std::mutex mutex_;
};

// The chunk extents and the filters: each of shuffle, deflate and
// fletcher32 at most once, in any order.
bool ChunkReader::Layout::open_chunks() {
  const int rank = static_cast<int>(chunk.size());
  hid_t plist = H5Dget_create_plist(dataset);
  std::vector<hsize_t> extent(chunk.size());
  bool fits = plist >= 0 && H5Pget_layout(plist) == H5D_CHUNKED &&
              H5Pget_chunk(plist, rank, extent.data()) == rank;
  const int n = fits ? H5Pget_nfilters(plist) : 0;
  for (int k = 0; fits && k < n; ++k) {
    unsigned flags = 0, config = 0, values[8];
    std::size_t n_values = 8;
    char filter_name[64];
    const int id =
        static_cast<int>(H5Pget_filter2(plist, static_cast<unsigned>(k), &flags, &n_values, values,
                                        sizeof filter_name, filter_name, &config));
    const Filter f = id == kShuffle   ? Filter::kShuffle
                     : id == kDeflate ? Filter::kDeflate
                                      : Filter::kFletcher32;
    fits = (id == kShuffle || id == kDeflate || id == kFletcher32) &&
           std::find(filters.begin(), filters.end(), f) == filters.end();
    filters.push_back(f);
  }
  if (plist >= 0) H5Pclose(plist);
  std::copy(extent.begin(), extent.end(), chunk.begin());
  for (std::size_t c : chunk) chunk_elements *= c;
  return fits;
}

// Integers of 1, 2, 4 or 8 bytes, or IEEE reals of 4 or 8, in either byte
// order.
bool ChunkReader::Layout::open_type() {
  hid_t t = H5Dget_type(dataset);
  if (t < 0) return false;
  const H5T_class_t type_class = H5Tget_class(t);
  type.size = H5Tget_size(t);
  type.big_endian = H5Tget_order(t) == H5T_ORDER_BE;
  bool fits = false;
  if (type_class == H5T_INTEGER) {
    type.kind =
        H5Tget_sign(t) == H5T_SGN_NONE ? StoredType::Kind::kUnsigned : StoredType::Kind::kSigned;
    fits = true;
  } else if (type_class == H5T_FLOAT) {
    type.kind = StoredType::Kind::kReal;
    fits =
        (type.size == 4 && (H5Tequal(t, H5T_IEEE_F32LE) > 0 || H5Tequal(t, H5T_IEEE_F32BE) > 0)) ||
        (type.size == 8 && (H5Tequal(t, H5T_IEEE_F64LE) > 0 || H5Tequal(t, H5T_IEEE_F64BE) > 0));
  }
  H5Tclose(t);
  scatter = fits ? scatter_for(type.kind, type.size) : nullptr;
  return scatter != nullptr;
}

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
  const int rank = space < 0 ? -1 : H5Sget_simple_extent_ndims(space);
  if (space >= 0) H5Sclose(space);
  if (rank <= 0 || rank > static_cast<int>(kMaxRank)) return nullptr;
  l.chunk.resize(static_cast<std::size_t>(rank));
  if (!l.open_chunks() || !l.open_type()) return nullptr;

  std::unique_ptr<ChunkReader> reader(new ChunkReader);
  reader->layout_ = std::move(layout);
  reader->threads_ = std::max(threads, 1);
  return reader;
}

ChunkReader::~ChunkReader() = default;

// The chunks that hold part of the block into stored[0, n_chunks), with
// room for their bytes. False when one of them is not stored.
bool ChunkReader::Layout::find_chunks(const std::vector<std::size_t>& start,
                                      const std::vector<std::size_t>& count,
                                      std::size_t& n_chunks) {
  const std::size_t rank = chunk.size();
  std::array<hsize_t, kMaxRank> first, last, at;
  for (std::size_t d = 0; d < rank; ++d) {
    first[d] = at[d] = start[d] / chunk[d];
    last[d] = (start[d] + count[d] - 1) / chunk[d];
  }
  n_chunks = 0;
  for (bool more = true; more;) {
    if (n_chunks == stored.size()) stored.emplace_back();
    Stored& s = stored[n_chunks++];
    s.offset.resize(rank);
    for (std::size_t d = 0; d < rank; ++d) s.offset[d] = at[d] * chunk[d];
    hsize_t size = 0;
    if (H5Dget_chunk_storage_size(dataset, s.offset.data(), &size) < 0 || size == 0) return false;
    s.bytes.resize(size);
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
  return true;
}

bool ChunkReader::read(const std::vector<std::size_t>& start, const std::vector<std::size_t>& count,
                       std::vector<double>& out) {
  Layout& l = *layout_;
  std::size_t total = 1;
  for (std::size_t c : count) total *= c;
  out.resize(total);
  if (total == 0) return true;

  double began = thread_seconds();
  std::size_t n_chunks = 0;
  if (!l.find_chunks(start, count, n_chunks)) return false;
  times_.reading += thread_seconds() - began;

  // The calling thread reads the chunks as stored, one after another, while
  // the helpers decode those read; then it decodes too.
  const std::size_t workers = records::OrderedWindow::workers(n_chunks, threads_);
  while (l.workers.size() < workers) l.workers.push_back(std::make_unique<Layout::Worker>());
  Layout::Decode decode(l, start, count, out.data(), times_);
  records::OrderedWindow window(n_chunks, n_chunks, threads_, decode, 0);
  began = thread_seconds();
  for (std::size_t k = 0; k < n_chunks; ++k) {
    Layout::Stored& c = l.stored[k];
    if (H5Dread_chunk(l.dataset, H5P_DEFAULT, c.offset.data(), &c.skipped, c.bytes.data()) < 0) {
      window.fail(
          std::make_exception_ptr(ChunkError("its stored chunk cannot be read", c.offset[0])));
      break;
    }
    window.open(k + 1);
  }
  times_.reading += thread_seconds() - began;
  window.finish();
  return true;
}

}  // namespace brix::importer
