// Six plain "%10.3f" fields at a time with AVX2, where the processor has it:
// two 32-byte loads classify the 60 columns of six fields, with the same
// column tests as the AVX-512 reading; the digits of two fields at a time are
// lined up by a byte shuffle of each 16-byte half, and the six values are
// formed, divided and stored together. Only this file's reader is compiled
// for AVX2, and it is used only where the processor reports it.
#include <cstring>

#include "input/year_plain.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define BRIX_AVX2 1
#endif

namespace brix::input {

// Six fields of 10 columns with 3 decimals in each load, as laid out below.
static_assert(kValueWidth == 10 && kValueDecimals == 3 && 6 * kValueWidth <= 64,
              "six value fields of a year record in one load");

#ifdef BRIX_AVX2
namespace {

// Where the 16 bytes holding field i's digits are loaded, from the group's
// start: the field itself, but for the last, which is loaded 2 bytes early so
// that no load reaches past the 64 bytes the group may read.
constexpr int kLoad[6] = {0, 10, 20, 30, 40, 48};

struct Tables {
  // Byte shuffles of the pairs of fields (0, 1), (2, 3) and (4, 5), one in
  // each 16-byte half: the digits of columns 1-5 and 7-9 into bytes 0-7 of
  // the half, most significant first; bytes 8-15 zero.
  alignas(32) std::uint8_t digits[3][32];
  // For each set of kept fields (bit i for field i), their indices in order.
  std::uint64_t packed[64];
};
constexpr Tables make_tables() {
  Tables t{};
  constexpr int kDigitColumns[8] = {1, 2, 3, 4, 5, 7, 8, 9};
  for (int pair = 0; pair < 3; ++pair)
    for (int half = 0; half < 2; ++half) {
      const int field = 2 * pair + half;
      for (int b = 0; b < 16; ++b)
        t.digits[pair][16 * half + b] =
            b < 8 ? static_cast<std::uint8_t>(10 * field + kDigitColumns[b] - kLoad[field]) : 0x80;
    }
  for (unsigned kept = 0; kept < 64; ++kept) {
    int n = 0;
    for (unsigned i = 0; i < 6; ++i)
      if (kept >> i & 1) t.packed[kept] |= std::uint64_t{i} << (8 * n++);
  }
  return t;
}
constexpr Tables kTables = make_tables();

// The columns of 64 bytes where a byte test holds, from its two halves.
__attribute__((target("avx2"))) inline std::uint64_t columns(__m256i low, __m256i high) {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) |
         std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(high))} << 32;
}

// m of the pair of fields whose 16 bytes start at a and b, by the shuffle s:
// in the low 64 bits of each half.
__attribute__((target("avx2"))) inline __m256i pair_values(const char* a, const char* b,
                                                           __m256i s) {
  const __m256i v = _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)), 1);
  // Blanks and signs, all below '0', become 0; so do the bytes left out.
  const __m256i digits = _mm256_shuffle_epi8(_mm256_subs_epu8(v, _mm256_set1_epi8('0')), s);
  const __m256i pairs = _mm256_maddubs_epi16(digits, _mm256_set1_epi16(0x010A));
  const __m256i fours = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00010064));
  return _mm256_add_epi64(_mm256_mul_epu32(fours, _mm256_set1_epi64x(10000)),
                          _mm256_srli_epi64(fours, 32));
}

__attribute__((target("avx2"))) int read_six_avx2(const char* p, std::size_t readable, int n,
                                                  const std::uint8_t* keep, float*& out,
                                                  std::size_t room) {
  const __m256i shuffle0 = _mm256_load_si256(reinterpret_cast<const __m256i*>(kTables.digits[0]));
  const __m256i shuffle1 = _mm256_load_si256(reinterpret_cast<const __m256i*>(kTables.digits[1]));
  const __m256i shuffle2 = _mm256_load_si256(reinterpret_cast<const __m256i*>(kTables.digits[2]));
  float* to = out;  // a local copy: through the reference every store would wait for the last
  int k = 0;
  for (; k + 6 <= n && readable >= 64; k += 6, p += 60, readable -= 60) {
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    const __m256i zero = _mm256_set1_epi8('0'), nine = _mm256_set1_epi8(9);
    const __m256i dl = _mm256_sub_epi8(low, zero), dh = _mm256_sub_epi8(high, zero);
    const std::uint64_t digit = columns(_mm256_cmpeq_epi8(_mm256_min_epu8(dl, nine), dl),
                                        _mm256_cmpeq_epi8(_mm256_min_epu8(dh, nine), dh));
    const __m256i blank = _mm256_set1_epi8(' '), minus = _mm256_set1_epi8('-');
    const __m256i plus = _mm256_set1_epi8('+'), point = _mm256_set1_epi8('.');
    const std::uint64_t minus_columns =
        columns(_mm256_cmpeq_epi8(low, minus), _mm256_cmpeq_epi8(high, minus));
    if (!six_columns::all_plain(
            digit, columns(_mm256_cmpeq_epi8(low, blank), _mm256_cmpeq_epi8(high, blank)),
            minus_columns, columns(_mm256_cmpeq_epi8(low, plus), _mm256_cmpeq_epi8(high, plus)),
            columns(_mm256_cmpeq_epi8(low, point), _mm256_cmpeq_epi8(high, point))))
      break;
    // A field of that form always reads: the fields that are not kept need
    // nothing more.
    const __m128i flag_bytes = six_columns::keep_flags(keep, k, n);
    const unsigned kept =
        ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(flag_bytes, _mm_setzero_si128()))) &
        0x3Fu;
    if (kept == 0) continue;

    // m of fields (0, 1), (2, 3), (4, 5) in dwords 0 and 4 of each; moved
    // to dwords 0 and 4, 1 and 5, 2 and 6 of one vector, then put in order.
    const __m256i m01 = pair_values(p + kLoad[0], p + kLoad[1], shuffle0);
    const __m256i m23 = pair_values(p + kLoad[2], p + kLoad[3], shuffle1);
    const __m256i m45 = pair_values(p + kLoad[4], p + kLoad[5], shuffle2);
    const __m256i m = _mm256_permutevar8x32_epi32(
        _mm256_or_si256(_mm256_or_si256(m01, _mm256_slli_epi64(m23, 32)),
                        _mm256_bslli_epi128(m45, 8)),
        _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    // Below 2^24, m and 1000 are exact singles, and the single quotient is
    // the value the one-field reading gives.
    const __m256i large = _mm256_cmpgt_epi32(m, _mm256_set1_epi32((1 << 24) - 1));
    if ((static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(large))) & kept) != 0)
      break;
    __m256 value = _mm256_div_ps(_mm256_cvtepi32_ps(m), _mm256_set1_ps(1000.0f));
    // A minus among a field's integer columns makes bit 6 of the field (its
    // point column) carry; each such bit is shifted to bit 31 of its lane.
    const std::uint64_t negative =
        ((minus_columns & six_columns::kInteger) + six_columns::kInteger) & six_columns::kPoint;
    const auto low_half = static_cast<int>(negative), high_half = static_cast<int>(negative >> 32);
    const __m256i sign = _mm256_and_si256(
        _mm256_sllv_epi32(_mm256_setr_epi32(low_half, low_half, low_half, high_half, high_half,
                                            high_half, 0, 0),
                          _mm256_setr_epi32(25, 15, 5, 27, 17, 7, 0, 0)),
        _mm256_set1_epi32(INT32_MIN));
    value = _mm256_xor_ps(value, _mm256_castsi256_ps(sign));

    // The kept values, packed in order: all eight lanes stored where the
    // places of eight values remain, else the kept ones alone, in parts.
    const int count = __builtin_popcount(kept);
    const __m256i order = _mm256_cvtepu8_epi32(
        _mm_cvtsi64_si128(static_cast<long long>(kTables.packed[kept])));
    const __m256 packed = _mm256_permutevar8x32_ps(value, order);
    if (room >= 8) {
      _mm256_storeu_ps(to, packed);
      to += count;
      room -= static_cast<std::size_t>(count);
      continue;
    }
    room -= static_cast<std::size_t>(count);
    __m128 part = _mm256_castps256_ps128(packed);
    if (count >= 4) {
      _mm_storeu_ps(to, part);
      part = _mm256_extractf128_ps(packed, 1);
      to += 4;
    }
    if (count & 2) {
      _mm_storel_pi(reinterpret_cast<__m64*>(to), part);
      part = _mm_movehl_ps(part, part);
      to += 2;
    }
    if (count & 1) _mm_store_ss(to++, part);
  }
  out = to;
  return k;
}

}  // namespace

SixFields six_fields_avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? read_six_avx2 : nullptr;
}

#else

SixFields six_fields_avx2() { return nullptr; }

#endif

}  // namespace brix::input
