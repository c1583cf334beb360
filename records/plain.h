// Fast reading of real fields in plain form, the shape of nearly every field
// of a year record ("    28.512"). The value is the one the general
// conversion (get_real) gives; any other shape is left to it.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#ifdef __SSE4_1__
#include <immintrin.h>
#endif

namespace brix::records {

namespace plain_detail {

// Powers of ten up to 10^22 are exact doubles, as repeated squaring forms them.
inline constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline constexpr std::uint64_t kIntegerPowers[] = {1,      10,      100,      1000,      10000,
                                                   100000, 1000000, 10000000, 100000000};
inline constexpr std::uint64_t kOnes = 0x0101010101010101ULL;

// m / 10^fraction with the field's sign, rounded to single.
inline float scaled(std::uint64_t m, int fraction, bool negative) {
  double v = static_cast<double>(m);
  if (fraction > 0) v /= kExactPowers[fraction];
  if (negative) v = -v;
  return static_cast<float>(v);
}

// A mask of the low n bytes of a 64-bit word, 0 <= n <= 8.
inline std::uint64_t low_bytes(int n) { return n >= 8 ? ~0ULL : (1ULL << (8 * n)) - 1; }

// The value of up to 8 decimal digit values held one per byte, the most
// significant digit in the lowest byte (memory order), bytes before the
// first digit zero.
inline std::uint64_t eight_digits(std::uint64_t d) {
  d = (d * 10) + (d >> 8);
  return (((d & 0x000000FF000000FFULL) * (100 + (1000000ULL << 32))) +
          (((d >> 16) & 0x000000FF000000FFULL) * (1 + (10000ULL << 32)))) >>
         32;
}

// Fields whose point stands d + 1 places from the right and whose integer
// part fits in the first 8 bytes: blanks, an optional sign, digits, read
// without a byte-by-byte search. Width and decimals are template parameters
// for the layouts met in bulk, so that every mask and shift is a constant.
template <int W, int D>
inline bool aligned_fixed(const char* p, std::uint64_t& m, bool& negative) {
  constexpr int L = W - D - 1;  // columns before the point
  static_assert(W >= 8 && D >= 1 && D <= 8 && L >= 1 && L <= 8);
  if (p[L] != '.') return false;
  std::uint64_t fraction = 0;
  for (int i = L + 1; i < W; ++i) {
    unsigned c = static_cast<unsigned char>(p[i]) - '0';
    if (c > 9) return false;
    fraction = fraction * 10 + c;
  }
  std::uint64_t x;
  std::memcpy(&x, p, 8);
  if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
  // Non-zero bytes of `other` mark bytes that are not digits.
  std::uint64_t other = ((x & (0xF0 * kOnes)) ^ (0x30 * kOnes)) |
                        (((x & (0x0F * kOnes)) + 0x06 * kOnes) & (0xF0 * kOnes));
  other &= low_bytes(L);
  int j = other == 0 ? -1 : (63 - std::countl_zero(other)) / 8;  // last non-digit
  std::uint64_t digits = (x & (0x0F * kOnes)) & ~low_bytes(j + 1) & low_bytes(L);
  std::uint64_t integer = eight_digits(digits << (8 * (8 - L)));
  negative = false;
  if (j >= 0) {
    char s = p[j];
    negative = s == '-';
    if (!negative && s != '+' && s != ' ') return false;
    if (((x ^ (0x20 * kOnes)) & low_bytes(j)) != 0) return false;  // blanks before
  }
  m = integer * kIntegerPowers[D] + fraction;
  return true;
}

}  // namespace plain_detail

// A field of exactly w characters in plain form: leading blanks, an optional
// sign, at most 18 digits with at most one point, nothing else. Gives its
// digits as the integer m, the number of decimals (d when the field has no
// point) and the sign; its value is m / 10^fraction. False for any other form.
inline bool parse_plain(const char* p, int w, int d, std::uint64_t& m, int& fraction,
                        bool& negative) {
  using namespace plain_detail;
  if (w == 10 && d == 3 && aligned_fixed<10, 3>(p, m, negative)) {
    fraction = 3;
    return true;
  }
  int i = 0;
  while (i < w && p[i] == ' ') ++i;
  if (i == w) return false;
  negative = p[i] == '-';
  if (negative || p[i] == '+') ++i;
  m = 0;
  int digits = 0;
  fraction = -1;  // digits after the point; -1 while no point was seen
  for (; i < w; ++i) {
    unsigned c = static_cast<unsigned char>(p[i]) - '0';
    if (c < 10) {
      m = m * 10 + c;
      ++digits;
      fraction += fraction >= 0;
    } else if (p[i] == '.' && fraction < 0) {
      fraction = 0;
    } else {
      return false;
    }
  }
  if (digits == 0 || digits > 18) return false;
  if (fraction < 0) fraction = d;
  return fraction <= 22;
}

// Fw.d input of a field in plain form, with the value get_real gives for it:
// the digits made a double, divided by the power of ten, rounded to single.
inline bool get_real_plain(const char* p, int w, int implied_decimals, float& value) {
  std::uint64_t m;
  int fraction;
  bool negative;
  if (!parse_plain(p, w, implied_decimals, m, fraction, negative)) return false;
  value = plain_detail::scaled(m, fraction, negative);
  return true;
}

#ifdef __SSE4_1__
#define BRIX_PLAIN_SIMD 1
// The same reading for the layout of the year records ("%10.3f"), with SSE4.1:
// one 16-byte load classifies every column at once. Needs 16 readable bytes
// at p (the field and 6 bytes after it). Gives m and the sign; the field has
// 3 decimals.
inline bool parse_plain_10_3(const char* p, std::uint64_t& m, bool& negative) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i d = _mm_sub_epi8(v, _mm_set1_epi8('0'));
  const __m128i is_digit = _mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(9)), d);
  const unsigned digit = static_cast<unsigned>(_mm_movemask_epi8(is_digit));
  // Columns 8 to 10 (bits 7 to 9) are the decimals, column 7 the point.
  if ((digit & 0x380u) != 0x380u || p[6] != '.') return false;
  const unsigned integer = digit & 0x3Fu;  // digits among columns 1 to 6
  // The integer digits run up to the point without a gap.
  if (integer != 0 && integer + (integer & -integer) != 0x40u) return false;
  const unsigned first = integer != 0 ? static_cast<unsigned>(std::countr_zero(integer)) : 6u;
  const unsigned before = (1u << first) - 1;  // the columns before the digits
  const unsigned blank =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')))) & before;
  const unsigned minus =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('-')))) & before;
  const unsigned plus =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('+')))) & before;
  const unsigned sign = minus | plus;
  // Blanks, then at most one sign right before the digits.
  if (sign != 0 && sign != (1u << (first - 1))) return false;
  if ((blank | sign) != before) return false;
  negative = minus != 0;

  // The ten columns without the point, as digit values right-aligned in 16
  // bytes (non-digits are zero), then summed in pairs, fours and eights.
  const __m128i digits = _mm_and_si128(d, is_digit);
  const __m128i packed = _mm_shuffle_epi8(
      digits, _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, 0, 1, 2, 3, 4, 5, 7, 8, 9));
  const __m128i pairs = _mm_maddubs_epi16(
      packed, _mm_setr_epi8(10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1));
  const __m128i fours = _mm_madd_epi16(pairs, _mm_setr_epi16(100, 1, 100, 1, 100, 1, 100, 1));
  const __m128i narrow = _mm_packus_epi32(fours, fours);
  const __m128i eights =
      _mm_madd_epi16(narrow, _mm_setr_epi16(10000, 1, 10000, 1, 10000, 1, 10000, 1));
  const auto high = static_cast<std::uint64_t>(_mm_cvtsi128_si32(eights));
  const auto low = static_cast<std::uint64_t>(_mm_extract_epi32(eights, 1));
  m = high * 100000000u + low;
  return true;
}
#endif

}  // namespace brix::records
