// Six plain "%10.3f" fields at a time with AVX-512, where the processor has
// it: one 64-byte load classifies the 60 columns of six fields, one byte
// permutation lines up their digits, and the six values are formed, divided
// and stored together. The build stays portable: only this function is
// compiled for those instructions, and it is used only where the processor
// reports them.
#include <cstring>

#include "input/year_plain.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define BRIX_WIDE 1
#if !defined(__clang__)
// GCC 12's AVX-512 intrinsics start from _mm512_undefined_epi32(), which it
// then takes for a variable that may be used uninitialised.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#endif

namespace brix::input {

// Six fields of 10 columns with 3 decimals in each load, as laid out below.
static_assert(kValueWidth == 10 && kValueDecimals == 3 && 6 * kValueWidth <= 64,
              "six value fields of a year record in one load");

#ifdef BRIX_WIDE
namespace {

// Groups of six year-record fields, 60 columns, as sets of columns in 64
// bits (column 0 of field i is bit 10 i).
namespace six_columns {
constexpr std::uint64_t six(unsigned columns) {
  std::uint64_t m = 0;
  for (int i = 0; i < 6; ++i) m |= std::uint64_t{columns} << (10 * i);
  return m;
}
inline constexpr std::uint64_t kInteger = six(0x3F);    // columns 0-5: blanks, a sign, digits
inline constexpr std::uint64_t kFirst = six(0x01);      // column 0
inline constexpr std::uint64_t kFollowed = six(0x1F);   // columns 0-4: another integer column follows
inline constexpr std::uint64_t kPoint = six(0x40);      // column 6
inline constexpr std::uint64_t kDecimals = six(0x380);  // columns 7-9
inline constexpr std::uint64_t kColumns = six(0x3FF);   // all ten

// Whether all six fields are plain, from the columns that hold a digit, a
// blank, a minus, a plus and a point. Each field: blanks, at most one sign,
// then digits up to the point in column 6 (no digit in column 0, so at most
// eight digits in all), and three decimals. A digit or a sign is followed by
// neither a blank nor a sign.
constexpr bool all_plain(std::uint64_t digit, std::uint64_t blank, std::uint64_t minus,
                         std::uint64_t plus, std::uint64_t point) {
  const std::uint64_t sign = minus | plus;
  const std::uint64_t lead = blank | sign;
  const std::uint64_t fitting = (point & kPoint) | (digit & kDecimals) |
                                ((lead | digit) & kInteger & ~kFirst) | (lead & kFirst);
  return ((fitting ^ kColumns) | ((digit | sign) & (lead >> 1) & kFollowed)) == 0;
}
// The keep flags of the six fields from field k of n, as the low six bytes
// (the rest are zero or further flags). Eight flags are loaded in one piece
// where they are readable: a copy of six would stall the load.
inline __m128i keep_flags(const std::uint8_t* keep, int k, int n) {
  if (k + 8 <= n) return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(keep + k));
  std::uint64_t flags = 0;
  std::memcpy(&flags, keep + k, 6);
  return _mm_cvtsi64_si128(static_cast<long long>(flags));
}
}  // namespace six_columns


// Byte permutations into eight bytes per field, field i in 64-bit lane i:
// its digits from columns 1-5 and 7-9, most significant first; and its
// integer columns 0-5. Lanes 6 and 7, and the last two bytes of the second,
// take byte 63, which belongs to no field.
struct Gathers {
  alignas(64) std::uint8_t digits[64];
  alignas(64) std::uint8_t integer[64];
};
constexpr Gathers make_gathers() {
  Gathers g{};
  constexpr std::uint8_t kDigitColumns[8] = {1, 2, 3, 4, 5, 7, 8, 9};
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) {
      g.digits[8 * i + j] = i < 6 ? static_cast<std::uint8_t>(10 * i + kDigitColumns[j]) : 63;
      g.integer[8 * i + j] = i < 6 && j < 6 ? static_cast<std::uint8_t>(10 * i + j) : 63;
    }
  return g;
}
constexpr Gathers kGathers = make_gathers();

__attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi"))) int read_six_at_a_time(
    const char* p, std::size_t readable, int n, const std::uint8_t* keep, float*& out) {
  const __m512i digit_gather = _mm512_load_si512(kGathers.digits);
  const __m512i integer_gather = _mm512_load_si512(kGathers.integer);
  float* to = out;  // a local copy: through the reference every store would wait for the last
  int k = 0;
  for (; k + 6 <= n && readable >= 64; k += 6, p += 60, readable -= 60) {
    const __m512i v = _mm512_loadu_si512(p);
    const __m512i d = _mm512_sub_epi8(v, _mm512_set1_epi8('0'));
    const std::uint64_t digit = _mm512_cmplt_epu8_mask(d, _mm512_set1_epi8(10));
    const std::uint64_t blank = _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(' '));
    const std::uint64_t minus = _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('-'));
    const std::uint64_t plus = _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('+'));
    const std::uint64_t point = _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('.'));
    using six_columns::kInteger;
    if (!six_columns::all_plain(digit, blank, minus, plus, point)) break;
    // A field of that form always reads: the fields that are not kept need
    // nothing more.
    const __m128i flag_bytes = six_columns::keep_flags(keep, k, n);
    const auto kept = static_cast<__mmask8>(_mm_test_epi8_mask(flag_bytes, flag_bytes) & 0x3F);
    if (kept == 0) continue;

    // m of each field: digit pairs, fours, then eight digits in 64 bits.
    const __m512i digits = _mm512_permutexvar_epi8(digit_gather, _mm512_maskz_mov_epi8(digit, d));
    const __m512i pairs = _mm512_maddubs_epi16(digits, _mm512_set1_epi16(0x010A));
    const __m512i fours = _mm512_madd_epi16(pairs, _mm512_set1_epi32(0x00010064));
    const __m512i m = _mm512_add_epi64(_mm512_mul_epu32(fours, _mm512_set1_epi64(10000)),
                                       _mm512_srli_epi64(fours, 32));
    // Below 2^24, m and 1000 are exact singles, and the single quotient is
    // the value the one-field reading gives.
    if ((_mm512_cmplt_epu64_mask(m, _mm512_set1_epi64(std::int64_t{1} << 24)) & kept) != kept)
      break;
    __m256 value =
        _mm256_div_ps(_mm256_cvtepi32_ps(_mm512_cvtepi64_epi32(m)), _mm256_set1_ps(1000.0f));
    const __m512i minus_columns = _mm512_permutexvar_epi8(
        integer_gather, _mm512_maskz_mov_epi8(minus & kInteger, _mm512_set1_epi8(1)));
    const __mmask8 negative = _mm512_test_epi64_mask(minus_columns, minus_columns);
    value = _mm256_castsi256_ps(_mm256_mask_xor_epi32(_mm256_castps_si256(value), negative,
                                                      _mm256_castps_si256(value),
                                                      _mm256_set1_epi32(INT32_MIN)));

    // The kept values, packed in register and stored with a mask: nothing is
    // written past them.
    const int count = __builtin_popcount(kept);
    _mm256_mask_storeu_ps(to, static_cast<__mmask8>((1u << count) - 1),
                          _mm256_maskz_compress_ps(kept, value));
    to += count;
  }
  out = to;
  return k;
}

}  // namespace

PlainFields plain_fields_avx512() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi"))
    return read_six_at_a_time;
  return nullptr;
}

#else

PlainFields plain_fields_avx512() { return nullptr; }

#endif

}  // namespace brix::input
