// Fast reading of real fields in plain form ("    28.512"), the shape of
// nearly every field of a data file. The value is the one the general
// conversion (get_real) gives; any other shape is left to it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brix::records {

// A field of exactly w characters in plain form: leading blanks, an optional
// sign, at most 18 digits with at most one point, nothing else. Gives its
// digits as the integer m, the number of decimals (d when the field has no
// point) and the sign; its value is m / 10^fraction. False for any other form.
inline bool parse_plain(const char* p, int w, int d, std::uint64_t& m, int& fraction,
                        bool& negative) {
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
  return true;
}

// The value m / 10^fraction with its sign, for m below 2^24 and at most 10
// decimals: then m and 10^fraction are exact singles, and their single
// quotient has the bits of the general conversion's double quotient rounded
// to single (a double quotient of two singles never rounds onto a midpoint
// between singles). False, value unchanged, outside that range.
inline bool plain_value(std::uint64_t m, int fraction, bool negative, float& value) {
  static constexpr float kPowers[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                      1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
  if (m >= (std::uint64_t{1} << 24) || fraction > 10) return false;
  float v = static_cast<float>(m) / kPowers[fraction];
  value = negative ? -v : v;
  return true;
}

// Fw.d input of a field in plain form, with the value get_real gives for it;
// false for any other field.
inline bool get_real_plain(const char* p, int w, int implied_decimals, float& value) {
  std::uint64_t m;
  int fraction;
  bool negative;
  return parse_plain(p, w, implied_decimals, m, fraction, negative) &&
         plain_value(m, fraction, negative, value);
}

}  // namespace brix::records
