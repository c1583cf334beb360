#include "records/get.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "records/power_of_ten.h"

namespace brix::records {
namespace {

// The integer of at most 19 digits made a double: exact up to 2^53; beyond,
// the low bits are cut off (not rounded) before the conversion.
double to_double_truncated(std::uint64_t m) {
  if (m >> 53) {
    int shift = (64 - std::countl_zero(m)) - 53;
    m = (m >> shift) << shift;
  }
  return static_cast<double>(m);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// An optional sign and at least one decimal digit. The magnitude is held at
// 2^32 at most, so that it never overflows and every value beyond the 32-bit
// range stays beyond it.
bool parse_integer(std::string_view text, std::int64_t& value) {
  std::size_t i = 0;
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    ++i;
  }
  if (i == text.size()) return false;
  std::int64_t v = 0;
  for (; i < text.size(); ++i) {
    if (!is_digit(text[i])) return false;
    v = std::min<std::int64_t>(v * 10 + (text[i] - '0'), std::int64_t{1} << 32);
  }
  value = negative ? -v : v;
  return true;
}

// ---------------------------------------------------------------- real scan

// The text of a real taken apart, before any arithmetic: its value is
// mantissa * 10^exponent with the sign, unless it is a special value.
struct ScannedReal {
  enum Special { kNone, kInfinity, kNaN };
  bool negative = false;
  Special special = kNone;
  std::uint64_t mantissa = 0;  // at most kMaxSignificant digits
  int significant = 0;         // digits in mantissa
  std::int64_t exponent = 0;   // decimal exponent
};

constexpr int kMaxSignificant = 19;  // every integer of 19 digits fits 64 bits
// Exponents are held within this limit while they are counted, so that the
// counts never overflow; every value beyond it is 0 or infinite anyway.
constexpr std::int64_t kExponentLimit = 1000000;

bool is_exponent_letter(char c) {
  return c == 'E' || c == 'e' || c == 'D' || c == 'd' || c == 'Q' || c == 'q';
}

// Moves past an optional sign at t[i]; true when it is a minus.
bool scan_sign(std::string_view t, std::size_t& i) {
  if (i == t.size() || (t[i] != '+' && t[i] != '-')) return false;
  return t[i++] == '-';
}

// "I..." is infinity and "N..." NaN, whatever follows the letter.
ScannedReal::Special scan_special(std::string_view t, std::size_t i) {
  if (i == t.size()) return ScannedReal::kNone;
  if (t[i] == 'I' || t[i] == 'i') return ScannedReal::kInfinity;
  if (t[i] == 'N' || t[i] == 'n') return ScannedReal::kNaN;
  return ScannedReal::kNone;
}

// One digit of the mantissa, before or after the point. Leading zeros only
// lower the exponent after the point; digits beyond kMaxSignificant only
// raise it before the point.
void take_digit(ScannedReal& s, int digit, bool after_point) {
  if (s.mantissa == 0 && digit == 0) {
    if (after_point) --s.exponent;
  } else if (s.significant < kMaxSignificant) {
    s.mantissa = s.mantissa * 10 + static_cast<std::uint64_t>(digit);
    ++s.significant;
    if (after_point) --s.exponent;
  } else if (!after_point) {
    ++s.exponent;
  }
  s.exponent = std::clamp(s.exponent, -kExponentLimit, kExponentLimit);
}

// The digits and the point of the mantissa from t[i], up to the first other
// character; `point` tells whether there was one. False without any digit
// or with a second point.
bool scan_mantissa(std::string_view t, std::size_t& i, ScannedReal& s, bool& point) {
  bool any_digit = false;
  point = false;
  for (; i < t.size(); ++i) {
    if (is_digit(t[i])) {
      any_digit = true;
      take_digit(s, t[i] - '0', point);
    } else if (t[i] == '.') {
      if (point) return false;
      point = true;
    } else {
      break;
    }
  }
  return any_digit;
}

// The written exponent, from t[i] to the end of the text: 0 when there is
// none; else an exponent letter and an optional sign, or a sign alone, then
// at least one digit and nothing else. Its magnitude is held at
// kExponentLimit.
bool scan_exponent(std::string_view t, std::size_t i, std::int64_t& written) {
  written = 0;
  if (i == t.size()) return true;
  if (is_exponent_letter(t[i])) ++i;
  else if (t[i] != '+' && t[i] != '-') return false;
  const bool negative = scan_sign(t, i);
  if (i == t.size()) return false;
  for (; i < t.size(); ++i) {
    if (!is_digit(t[i])) return false;
    written = std::min(written * 10 + (t[i] - '0'), kExponentLimit);
  }
  if (negative) written = -written;
  return true;
}

// Takes a real's text apart: the sign, then a special value, or the
// mantissa and the exponent, the implied decimals counting only without a
// point. An empty text is zero. False when the text breaks the syntax.
bool scan_real(std::string_view t, int implied_decimals, ScannedReal& s) {
  s = ScannedReal{};
  if (t.empty()) return true;
  std::size_t i = 0;
  s.negative = scan_sign(t, i);
  s.special = scan_special(t, i);
  if (s.special != ScannedReal::kNone) return true;
  bool point = false;
  std::int64_t written = 0;
  if (!scan_mantissa(t, i, s, point) || !scan_exponent(t, i, written)) return false;
  if (!point) s.exponent -= implied_decimals;
  s.exponent += written;
  return true;
}

// ---------------------------------------------------------------- conversion

// v * 10^exponent in double precision. 10^308 and beyond are infinite, so a
// division by more than 10^307 is done in two steps.
double scale_by_power_of_ten(double v, std::int64_t exponent) {
  if (exponent > 0) return v * power_of_ten(exponent);
  if (exponent >= -307) return v / power_of_ten(-exponent);
  return v / power_of_ten(-307 - exponent) / power_of_ten(307);
}

// The 32-bit real of a scanned text: the mantissa made a double (truncated
// beyond 53 bits), scaled in double precision, then rounded once to single.
// NaN is the quiet NaN, with the sign bit for "-NaN".
float to_float(const ScannedReal& s) {
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  switch (s.special) {
    case ScannedReal::kInfinity:
      return s.negative ? -kInfinity : kInfinity;
    case ScannedReal::kNaN:
      return std::bit_cast<float>(s.negative ? 0xFFC00000u : 0x7FC00000u);
    case ScannedReal::kNone:
      break;
  }
  if (s.mantissa == 0) return s.negative ? -0.0f : 0.0f;
  const double v = scale_by_power_of_ten(to_double_truncated(s.mantissa), s.exponent);
  return static_cast<float>(s.negative ? -v : v);
}

}  // namespace

bool get_integer_field(std::string_view field, std::int32_t& value) {
  std::int64_t v = 0;
  if (!field.empty() && !parse_integer(field, v)) return false;
  value = static_cast<std::int32_t>(std::clamp<std::int64_t>(
      v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
  return true;
}

bool get_integer_value(std::string_view text, std::int32_t& value) {
  std::int64_t v = 0;
  if (!parse_integer(text, v) || v < std::numeric_limits<std::int32_t>::min() ||
      v > std::numeric_limits<std::int32_t>::max())
    return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

bool get_real(std::string_view text, int implied_decimals, float& value) {
  ScannedReal scanned;
  if (!scan_real(text, implied_decimals, scanned)) return false;
  value = to_float(scanned);
  return true;
}

std::string_view strip_blanks(char* scratch, std::string_view field) {
  std::size_t n = 0;
  for (char c : field)
    if (c != ' ') scratch[n++] = c;
  return {scratch, n};
}

}  // namespace brix::records
