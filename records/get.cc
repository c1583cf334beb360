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

bool get_real(std::string_view t, int implied_decimals, float& value) {
  if (t.empty()) {
    value = 0.0f;
    return true;
  }
  std::size_t i = 0;
  bool negative = false;
  if (t[0] == '+' || t[0] == '-') {
    negative = t[0] == '-';
    ++i;
  }
  if (i < t.size()) {
    char c = t[i];
    if (c == 'I' || c == 'i') {
      value = negative ? -std::numeric_limits<float>::infinity()
                       : std::numeric_limits<float>::infinity();
      return true;
    }
    if (c == 'N' || c == 'n') {
      value = std::bit_cast<float>(negative ? 0xFFC00000u : 0x7FC00000u);
      return true;
    }
  }

  // Mantissa: at most 19 significant digits are kept; later digits before
  // the point only raise the exponent, leading zeros after the point only
  // lower it.
  constexpr std::int64_t kExponentLimit = 1000000;
  std::uint64_t m = 0;
  int significant = 0;
  std::int64_t exponent = 0;
  bool point = false;
  bool any_digit = false;
  for (; i < t.size(); ++i) {
    char c = t[i];
    if (is_digit(c)) {
      any_digit = true;
      if (m == 0 && c == '0') {
        if (point) --exponent;
      } else if (significant < 19) {
        m = m * 10 + static_cast<std::uint64_t>(c - '0');
        ++significant;
        if (point) --exponent;
      } else if (!point) {
        ++exponent;
      }
      exponent = std::clamp(exponent, -kExponentLimit, kExponentLimit);
    } else if (c == '.') {
      if (point) return false;
      point = true;
    } else {
      break;
    }
  }
  if (!any_digit) return false;

  std::int64_t written = 0;
  if (i < t.size()) {
    char c = t[i];
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd' || c == 'Q' || c == 'q') {
      ++i;
      if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    } else if (c == '+' || c == '-') {
      ++i;
    } else {
      return false;
    }
    bool exponent_negative = t[i - 1] == '-';
    if (i == t.size()) return false;
    for (; i < t.size(); ++i) {
      if (!is_digit(t[i])) return false;
      written = std::min(written * 10 + (t[i] - '0'), kExponentLimit);
    }
    if (exponent_negative) written = -written;
  }
  if (!point) exponent -= implied_decimals;
  std::int64_t X = written + exponent;

  if (m == 0) {
    value = negative ? -0.0f : 0.0f;
    return true;
  }
  double v = to_double_truncated(m);
  if (X > 0) {
    v *= power_of_ten(X);
  } else if (X < 0) {
    if (X >= -307) {
      v /= power_of_ten(-X);
    } else {
      v /= power_of_ten(-307 - X);
      v /= power_of_ten(307);
    }
  }
  if (negative) v = -v;
  value = static_cast<float>(v);
  return true;
}

std::string_view strip_blanks(char* scratch, std::string_view field) {
  std::size_t n = 0;
  for (char c : field)
    if (c != ' ') scratch[n++] = c;
  return {scratch, n};
}

}  // namespace brix::records
