// Plain "%10.3f" fields with AVX2, where the processor has it, a chunk of a
// record at a time in two passes. The first checks the form of every field,
// kept or not, sixteen fields (160 columns, five 32-byte loads) at a time:
// each byte gets a class from two nibble lookups, which is tested against
// the classes its column allows, and the 160 columns hold the same pattern
// of columns every time. The second converts the kept fields alone, eight at
// a time from a list of where they start: two fields to a vector, their
// digits lined up by a byte shuffle, the eight values formed, divided and
// stored together, with no packing. Most fields of a record are not kept, so
// most of the work is the first pass, a few instructions a byte. Only this
// file's reader is compiled for AVX2, and it is used only where the
// processor reports it.
#include <algorithm>
#include <bit>
#include <cstring>

#include "input/year_plain.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define BRIX_AVX2 1
#endif

namespace brix::input {

// The tables below place the point in column 6 and three decimals after it,
// and a group of fields fills whole 32-byte loads.
constexpr int kGroupFields = 16;
constexpr int kGroupBytes = kGroupFields * kValueWidth;
static_assert(kValueWidth == 10 && kValueDecimals == 3 && kGroupBytes % 32 == 0,
              "sixteen value fields of 10 columns with 3 decimals in five 32-byte loads");

#ifdef BRIX_AVX2
namespace {

constexpr int kLoads = kGroupBytes / 32;
// Bytes a group needs readable: its columns, the byte after them (the next
// byte of each column is loaded too), and 6 more for the 16-byte loads of
// the conversion, which start at each field.
constexpr std::size_t kGroupReadable = kGroupBytes + 6;
// Fields whose starts are listed at once for the conversion.
constexpr int kChunkFields = 512;

// A byte's class, the AND of the entries of its low and of its high nibble:
// one bit of these, or 0 for a byte of any other kind.
constexpr std::uint8_t kDigit = 1, kBlank = 2, kSign = 4, kPoint = 8;

struct Tables {
  // The classes that column 32 j + b of a group allows; and '0' at the
  // columns 0-4 of a field (another integer column follows), -128 elsewhere,
  // for a signed test of the next byte against it.
  alignas(32) std::uint8_t allowed[kLoads][32];
  alignas(32) std::int8_t below[kLoads][32];
  // The nibble lookups, the same in both 16-byte halves.
  alignas(32) std::uint8_t low_nibble[32];
  alignas(32) std::uint8_t high_nibble[32];
  // The digits of columns 1-5 and 7-9 of the field at the start of each
  // half, most significant first, into bytes 0-7 of the half (digits[0]) or
  // bytes 8-15 (digits[1]); and 0x80 at its columns 0-5, where a minus may
  // stand.
  alignas(32) std::uint8_t digits[2][32];
  alignas(32) std::uint8_t integer[32];
  // For each set of kept fields among eight (bit i for field i), where the
  // kept ones start, in order, from the first of the eight.
  alignas(8) std::uint8_t starts[256][8];
};
constexpr Tables make_tables() {
  Tables t{};
  for (int j = 0; j < kLoads; ++j)
    for (int b = 0; b < 32; ++b) {
      const int column = (32 * j + b) % kValueWidth;
      t.allowed[j][b] = column == 0   ? kBlank | kSign
                        : column < 6  ? kBlank | kSign | kDigit
                        : column == 6 ? kPoint
                                      : kDigit;
      t.below[j][b] = column < 5 ? '0' : INT8_MIN;
    }
  for (int half = 0; half < 2; ++half) {
    for (int b = 0; b < 16; ++b) {
      std::uint8_t low = 0;
      if (b <= 9) low |= kDigit;
      if (b == 0) low |= kBlank;
      if (b == ('+' & 0xF) || b == ('-' & 0xF)) low |= kSign;
      if (b == ('.' & 0xF)) low |= kPoint;
      t.low_nibble[16 * half + b] = low;
      t.high_nibble[16 * half + b] = b == 2 ? kBlank | kSign | kPoint : b == 3 ? kDigit : 0;
    }
    constexpr int kDigitColumns[8] = {1, 2, 3, 4, 5, 7, 8, 9};
    for (int b = 0; b < 16; ++b) {
      t.digits[0][16 * half + b] = b < 8 ? static_cast<std::uint8_t>(kDigitColumns[b]) : 0x80;
      t.digits[1][16 * half + b] = b < 8 ? 0x80 : static_cast<std::uint8_t>(kDigitColumns[b - 8]);
      t.integer[16 * half + b] = b < 6 ? 0x80 : 0;
    }
  }
  for (int kept = 0; kept < 256; ++kept) {
    int n = 0;
    for (int i = 0; i < 8; ++i)
      if (kept >> i & 1) t.starts[kept][n++] = static_cast<std::uint8_t>(kValueWidth * i);
  }
  return t;
}
constexpr Tables kTables = make_tables();

__attribute__((target("avx2"))) inline __m256i load(const std::uint8_t* table) {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(table));
}

// Whether the group of fields at p is all plain: in each field blanks, at
// most one sign, then digits up to the point in column 6 (none in column 0),
// and three decimals; a digit or a sign followed by neither a blank nor a
// sign.
__attribute__((target("avx2"))) inline bool plain_group(const char* p) {
  const __m256i low = load(kTables.low_nibble), high = load(kTables.high_nibble);
  const __m256i nibble = _mm256_set1_epi8(0x0F), blank = _mm256_set1_epi8(' ');
  // The least, over the group, of each byte's class among those its column
  // allows: 0 where one is not allowed, or breaks the order of a field.
  __m256i fitting = _mm256_set1_epi8(-1);
  for (int j = 0; j < kLoads; ++j) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * j));
    const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * j + 1));
    const __m256i kind = _mm256_and_si256(
        _mm256_shuffle_epi8(low, v),
        _mm256_shuffle_epi8(high, _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble)));
    // Where the classes fit, a byte that is not a blank is a digit or a sign,
    // and a next byte below '0' is a blank or a sign.
    const __m256i lead_after = _mm256_andnot_si256(
        _mm256_cmpeq_epi8(v, blank),
        _mm256_cmpgt_epi8(_mm256_load_si256(reinterpret_cast<const __m256i*>(kTables.below[j])),
                          next));
    fitting = _mm256_min_epu8(
        fitting, _mm256_andnot_si256(lead_after, _mm256_and_si256(kind, load(kTables.allowed[j]))));
  }
  const __m256i unfit = _mm256_cmpeq_epi8(fitting, _mm256_setzero_si256());
  return _mm256_testz_si256(unfit, unfit) != 0;
}

// The fields at a and b, one to each half.
__attribute__((target("avx2"))) inline __m256i load_pair(const char* a, const char* b) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)), 1);
}

// m of four plain fields, the sign in bit 31, from the pairs of them loaded
// (load_pair) in first and second: the fields of first in the low 32 bits of
// the low 64 of each half, those of second in the high 64.
__attribute__((target("avx2"))) inline __m256i four_values(__m256i first, __m256i second) {
  // Blanks and signs, all below '0', become 0; so do the bytes left out.
  const __m256i zero = _mm256_set1_epi8('0');
  const __m256i digits =
      _mm256_or_si256(_mm256_shuffle_epi8(_mm256_subs_epu8(first, zero), load(kTables.digits[0])),
                      _mm256_shuffle_epi8(_mm256_subs_epu8(second, zero), load(kTables.digits[1])));
  const __m256i pairs = _mm256_maddubs_epi16(digits, _mm256_set1_epi16(0x010A));
  const __m256i fours = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00010064));
  const __m256i m = _mm256_add_epi64(_mm256_mul_epu32(fours, _mm256_set1_epi64x(10000)),
                                     _mm256_srli_epi64(fours, 32));
  // 0x80 in the 64 bits of a field with its (one) minus, moved to bit 31.
  const __m256i minus = _mm256_set1_epi8('-'), integer = load(kTables.integer);
  const __m256i signs = _mm256_sad_epu8(
      _mm256_or_si256(
          _mm256_and_si256(_mm256_cmpeq_epi8(first, minus), integer),
          _mm256_bslli_epi128(_mm256_and_si256(_mm256_cmpeq_epi8(second, minus), integer), 8)),
      _mm256_setzero_si256());
  return _mm256_or_si256(m, _mm256_slli_epi64(signs, 24));
}

// Lists where the kept ones of eights of fields start, from the flags kept
// (bit i for field i), at `at` + count: the first of the fields starts at
// `start`, which moves on past them. Writes up to 8 places past those.
__attribute__((target("avx2"))) inline void list_eights(std::uint32_t kept, int eights,
                                                        __m256i& start, std::uint32_t* at,
                                                        int& count) {
  for (int e = 0; e < eights; ++e, kept >>= 8) {
    const __m256i starts = _mm256_cvtepu8_epi32(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kTables.starts[kept & 0xFF])));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(at + count), _mm256_add_epi32(starts, start));
    count += std::popcount(kept & 0xFF);
    start = _mm256_add_epi32(start, _mm256_set1_epi32(8 * kValueWidth));
  }
}

// Lists where the kept fields among [from, to) start, from p, at `at`: to -
// from is a multiple of 16. Returns their number; writes up to 8 places past
// them.
__attribute__((target("avx2"))) inline int list_kept(const std::uint8_t* keep, int from, int to,
                                                     std::uint32_t* at) {
  int count = 0;
  __m256i start = _mm256_set1_epi32(kValueWidth * from);
  int k = from;
  for (; k + 32 <= to; k += 32) {  // the flags of 32 fields at a time, then of 16
    const __m256i flags = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(keep + k));
    list_eights(~static_cast<std::uint32_t>(
                    _mm256_movemask_epi8(_mm256_cmpeq_epi8(flags, _mm256_setzero_si256()))),
                4, start, at, count);
  }
  if (k < to) {
    const __m128i flags = _mm_loadu_si128(reinterpret_cast<const __m128i*>(keep + k));
    list_eights(
        ~static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(flags, _mm_setzero_si128()))),
        2, start, at, count);
  }
  return count;
}

// Reads the plain groups of sixteen fields at p, a chunk of them at a time
// checked and then its kept fields converted. Returns the fields read: a
// multiple of sixteen, or the field of a kept value of 2^24 thousandths or
// more, before which it stops.
__attribute__((target("avx2"))) int read_fields_avx2(const char* p, std::size_t readable, int n,
                                                     const std::uint8_t* keep, float*& out) {
  const int most = readable < kGroupReadable
                       ? 0
                       : kGroupFields * static_cast<int>(std::min<std::size_t>(
                                            static_cast<std::size_t>(n / kGroupFields),
                                            (readable - kGroupReadable) / kGroupBytes + 1));
  float* to = out;  // a local copy: through the reference every store would wait for the last
  // Where the kept fields of a chunk start, from p; and room for the places
  // written past them, and to repeat the last up to a whole eight.
  alignas(32) std::uint32_t at[kChunkFields + 8];
  const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  int done = 0;
  while (done < most) {
    const int chunk_end = std::min(most, done + kChunkFields);
    int end = done;
    while (end < chunk_end && plain_group(p + kValueWidth * end)) end += kGroupFields;
    const int count = list_kept(keep, done, end, at);
    for (int i = 0; i < count; i += 8) {
      const int lanes = std::min(8, count - i);
      for (int l = lanes; l < 8; ++l) at[i + l] = at[i];  // loaded, never stored
      const std::uint32_t* a = at + i;
      // m of fields 0, 2 | 1, 3 in dwords 0, 2 | 4, 6 of one vector, and of
      // 4, 6 | 5, 7 in another; moved into one, then put in order.
      const __m256i m0123 =
          four_values(load_pair(p + a[0], p + a[1]), load_pair(p + a[2], p + a[3]));
      const __m256i m4567 =
          four_values(load_pair(p + a[4], p + a[5]), load_pair(p + a[6], p + a[7]));
      const __m256i signed_m =
          _mm256_permutevar8x32_epi32(_mm256_or_si256(m0123, _mm256_slli_epi64(m4567, 32)),
                                      _mm256_setr_epi32(0, 4, 2, 6, 1, 5, 3, 7));
      const __m256i sign = _mm256_and_si256(signed_m, _mm256_set1_epi32(INT32_MIN));
      const __m256i m = _mm256_andnot_si256(sign, signed_m);
      const __m256i stored = _mm256_cmpgt_epi32(_mm256_set1_epi32(lanes), lane);
      // Below 2^24, m and 1000 are exact singles, and the single quotient is
      // the value the one-field reading gives.
      // (A lane past the stored ones repeats the first, and with it its test.)
      const auto large = static_cast<unsigned>(_mm256_movemask_ps(
          _mm256_castsi256_ps(_mm256_cmpgt_epi32(m, _mm256_set1_epi32((1 << 24) - 1)))));
      __m256 value = _mm256_div_ps(_mm256_cvtepi32_ps(m), _mm256_set1_ps(1000.0f));
      value = _mm256_xor_ps(value, _mm256_castsi256_ps(sign));
      if (large != 0) {  // the values before it, and the fields before its own
        const int before = std::countr_zero(large);
        _mm256_maskstore_ps(to, _mm256_cmpgt_epi32(_mm256_set1_epi32(before), lane), value);
        out = to + before;
        return static_cast<int>(a[before]) / kValueWidth;
      }
      if (lanes == 8)
        _mm256_storeu_ps(to, value);
      else
        _mm256_maskstore_ps(to, stored, value);
      to += lanes;
    }
    done = end;
    if (end < chunk_end) break;
  }
  out = to;
  return done;
}

}  // namespace

PlainFields plain_fields_avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? read_fields_avx2 : nullptr;
}

#else

PlainFields plain_fields_avx2() { return nullptr; }

#endif

}  // namespace brix::input
