// Chunks of each type and byte order, shuffled and summed here, some damaged, then decoded.
#include "import/chunks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

namespace brix::importer {
namespace {

using Bytes = std::vector<std::uint8_t>;
using F = Filter;

// The bytes through shuffle and fletcher32 in order, but those whose bit is in `skipped`.
Bytes encode(Bytes b, const std::vector<F>& filters, std::uint32_t skipped, std::size_t size) {
  for (std::size_t k = 0; k < filters.size(); ++k) {
    const std::size_t n = b.size() / size, sum = fletcher32(b.data(), b.size());
    const Bytes a = b;
    if ((skipped >> k) & 1u) continue;
    if (filters[k] == F::kShuffle)  // planes of whole elements, the rest as it was
      for (std::size_t i = 0; i < n * size; ++i) b[i % size * n + i / size] = a[i];
    if (filters[k] == F::kFletcher32)
      for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(sum >> 8 * i));
  }
  return b;
}

const struct {
  std::vector<F> filters;
  std::uint32_t skipped;
  void (*damage)(Bytes&) = nullptr;
  const char* failure = nullptr;
} kCases[] = {
    {{F::kShuffle, F::kDeflate, F::kFletcher32}, 2},  // not deflated
    {{F::kFletcher32, F::kShuffle}, 0},               // planes with bytes left over
    {{F::kShuffle, F::kFletcher32}, 1, [](Bytes& b) { std::reverse(b.end() - 4, b.end()); }},
    {{F::kFletcher32}, 0, [](Bytes& b) { b.resize(3); }, "its chunk is too short for its checksum"},
    {{F::kDeflate}, 0, [](Bytes& b) { b.assign(3, 0x4b); }, "its chunk cannot be inflated"},
    {{}, 0, [](Bytes& b) { b.push_back(0); }, "its chunk holds the wrong number of bytes"}};

// A 2 x 3 x 4 chunk of T, from its lowest value to its highest, through each case.
template <class T>
void round_trips(StoredType::Kind kind) {
  const std::size_t chunk[] = {2, 3, 4}, zero[] = {0, 0, 0};
  FilterChain chain;
  for (bool big_endian : {false, true}) {
    Bytes plain(24 * sizeof(T));
    std::vector<double> values, out(24);
    for (std::size_t i = 0; i < 24; ++i) {
      const T x = i == 0 ? std::numeric_limits<T>::lowest()
                         : static_cast<T>(std::numeric_limits<T>::max() / 23 * i);
      std::memcpy(plain.data() + i * sizeof x, &x, sizeof x);
      if (big_endian) std::reverse(plain.data() + i * sizeof x, plain.data() + (i + 1) * sizeof x);
      values.push_back(static_cast<double>(x));
    }
    for (const auto& c : kCases) {
      SCOPED_TRACE(testing::Message() << sizeof(T) << "-byte kind " << int(kind) << ", big-endian "
                                      << big_endian << ", case " << &c - kCases);
      Bytes stored = encode(plain, c.filters, c.skipped, sizeof(T));
      if (c.damage != nullptr) c.damage(stored);
      ChunkBytes bytes{stored.data(), stored.size()};
      EXPECT_STREQ(chain.undo(c.filters, c.skipped, sizeof(T), plain.size(), bytes), c.failure);
      if (c.failure != nullptr) continue;
      scatter_for(kind, sizeof(T))({3, chunk, zero, zero, chunk}, bytes, big_endian, out.data());
      EXPECT_EQ(out, values);
    }
  }
}

TEST(ChunksTest, EveryTypeComesBackThroughEachChainOrSaysWhatIsWrong) {
  using K = StoredType::Kind;
  round_trips<std::int8_t>(K::kSigned), round_trips<std::uint8_t>(K::kUnsigned);
  round_trips<std::int16_t>(K::kSigned), round_trips<std::uint16_t>(K::kUnsigned);
  round_trips<std::int32_t>(K::kSigned), round_trips<std::uint32_t>(K::kUnsigned);
  round_trips<std::int64_t>(K::kSigned), round_trips<std::uint64_t>(K::kUnsigned);
  round_trips<float>(K::kReal), round_trips<double>(K::kReal);
}

}  // namespace
}  // namespace brix::importer
