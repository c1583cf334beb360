// Fast reading of the real fields of a year record ("%10.3f", "    28.512"):
// one field at a time with 64-bit integer arithmetic or SSE4.2, and the
// readers of groups of fields with AVX2 and AVX-512. Each gives the value
// the general conversion (records::get_real) gives, and leaves any field of
// another shape to it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#ifdef __SSE4_1__
#include <immintrin.h>
#endif

#include "records/plain.h"
#include "records/year_layout.h"

namespace brix::input {

using records::kValueDecimals;
using records::kValueWidth;

// The masks, multipliers and shifts below encode the layout of a value
// field: 10 columns, the point in column 7, 3 decimals.
static_assert(kValueWidth == 10 && kValueDecimals == 3,
              "the fast readers of year records take 10-column fields with 3 decimals");

using records::plain_value;

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

// The same reading with 64-bit integer arithmetic, for any processor: reads
// the 10 bytes of the field only. Gives m and the sign; the field has 3
// decimals.
inline bool parse_plain_10_3_scalar(const char* p, std::uint64_t& m, bool& negative) {
  const unsigned d7 = static_cast<unsigned char>(p[7]) - unsigned{'0'};
  const unsigned d8 = static_cast<unsigned char>(p[8]) - unsigned{'0'};
  const unsigned d9 = static_cast<unsigned char>(p[9]) - unsigned{'0'};
  if (p[6] != '.' || d7 > 9 || d8 > 9 || d9 > 9) return false;
  std::uint64_t a;  // columns 1 to 8, column 1 in the low byte
  std::memcpy(&a, p, 8);
  if constexpr (std::endian::native == std::endian::big) a = __builtin_bswap64(a);
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHigh = 0x80 * kOnes, kLow = 0x7F * kOnes;
  constexpr std::uint64_t kInteger = 0x808080808080u;  // the high bits of columns 1 to 6
  // The high bit of each byte that is a digit: (byte ^ '0') below 10, taken
  // apart for bytes below 0x80 (no carry crosses a byte).
  const std::uint64_t t = a ^ ('0' * kOnes);
  const std::uint64_t digit = ~((((t & kLow) + 0x76 * kOnes) | t)) & kInteger;
  // The integer digits run up to the point without a gap, from column
  // first + 1 on; the columns before them are blanks, or blanks and a sign
  // right before the digits.
  const unsigned first = digit != 0 ? static_cast<unsigned>(std::countr_zero(digit)) / 8 : 6u;
  const std::uint64_t before = (std::uint64_t{1} << (8 * first)) - 1;
  if (digit != (kInteger & ~before)) return false;
  const std::uint64_t z = a ^ (' ' * kOnes);
  const std::uint64_t blank = ~(((z & kLow) + kLow) | z) & kHigh & before;
  negative = false;
  if (blank != (kHigh & before)) {
    const char sign = first > 0 ? p[first - 1] : 'x';
    if ((sign != '-' && sign != '+') || blank != (kHigh & (before >> 8))) return false;
    negative = sign == '-';
  }
  // The integer digits as eight digit values, most significant in the low
  // byte, two leading zeros first (the shift drops columns 7 and 8); then
  // joined in pairs, fours and eight.
  std::uint64_t v = (a & (0x0F * kOnes) & ~before) << 16;
  v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFu;
  v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFu;
  v = (v * 10000 + (v >> 32)) & 0xFFFFFFFFu;
  m = v * 1000 + d7 * 100 + d8 * 10 + d9;
  return true;
}

// Reads plain fields of the year records' layout at p in groups (of six or
// sixteen fields), of which `readable` bytes may be read, at most n fields:
// field k's value is stored at out, which then moves on, when keep[k] is not
// 0. Returns the number of fields read: it stops before a group that holds a
// field in another form or that would need more bytes than remain, and at the
// latest before a kept value of 2^24 thousandths or more; the caller reads on
// from there one field at a time. The values are those get_real gives.
// Nothing is written past the values stored.
using PlainFields = int (*)(const char* p, std::size_t readable, int n, const std::uint8_t* keep,
                            float*& out);
// The readers of groups of fields, where the processor has the vectors each
// needs (AVX-512 F, BW, VL and VBMI: six fields a load; AVX2: sixteen fields
// in two passes); null elsewhere.
PlainFields plain_fields_avx512();
PlainFields plain_fields_avx2();

}  // namespace brix::input
