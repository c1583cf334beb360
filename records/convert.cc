#include "records/convert.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace brix::records {
namespace {

// 10^n in double precision by repeated squaring of 10.0, multiplying in the
// squares that the bits of n ask for, lowest bit first.
double power_of_ten(std::int64_t n) {
  double result = 1.0;
  double square = 10.0;
  while (n > 0) {
    if (n & 1) result *= square;
    n >>= 1;
    if (n > 0) square *= square;
  }
  return result;
}

void fill(char* out, int n, char c) {
  if (n > 0) std::memset(out, c, static_cast<std::size_t>(n));
}

// Digits of a positive finite double y (1 <= y < 10 in practice) taken by
// truncation of its exact binary value: the mantissa is an integer scaled by
// a power of two, so every digit comes from exact integer arithmetic.
constexpr int kMaxDigits = 64;
void truncated_digits(double y, int count, unsigned char* digits) {
  int exponent = 0;
  double fraction = std::frexp(y, &exponent);  // y = fraction * 2^exponent
  auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
  int point = 53 - exponent;  // binary places after the point
  if (point < 0 || point > 59) {  // cannot happen for 1 <= y < 10
    std::memset(digits, 0, static_cast<std::size_t>(count));
    return;
  }
  std::uint64_t mask = (std::uint64_t{1} << point) - 1;
  digits[0] = static_cast<unsigned char>(mantissa >> point);
  std::uint64_t rest = mantissa & mask;
  for (int i = 1; i < count; ++i) {
    rest *= 10;
    digits[i] = static_cast<unsigned char>(rest >> point);
    rest &= mask;
  }
}

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

}  // namespace

void put_integer(char* out, int w, std::int32_t value) {
  char digits[12];
  int n = 0;
  std::int64_t v = value;
  std::uint64_t magnitude = static_cast<std::uint64_t>(v < 0 ? -v : v);
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (v < 0) digits[n++] = '-';
  if (n > w) {
    fill(out, w, '*');
    return;
  }
  fill(out, w - n, ' ');
  for (int i = 0; i < n; ++i) out[w - 1 - i] = digits[i];
}

void put_real(char* out, int w, int d, float value) {
  bool sign_bit = std::signbit(value);
  if (std::isnan(value) || std::isinf(value)) {
    const char* text = std::isnan(value) ? "NaN" : "INF";
    int n = 3 + (sign_bit ? 1 : 0);
    if (n > w) {
      fill(out, w, '*');
      return;
    }
    fill(out, w - n, ' ');
    char* p = out + (w - n);
    if (sign_bit) *p++ = '-';
    std::memcpy(p, text, 3);
    return;
  }

  int s = (sign_bit && value != 0.0f) ? 1 : 0;
  unsigned char digits[kMaxDigits];
  int e = 0;
  if (value == 0.0f) {
    std::memset(digits, 0, sizeof digits);
  } else {
    double x = std::fabs(static_cast<double>(value));
    int binary = 0;
    std::frexp(x, &binary);
    int E = binary - 1;                  // 2^E <= x < 2^(E+1)
    int k = (E * 19728) >> 16;           // floor(E * log10(2)), rounding down
    double P = power_of_ten(k < 0 ? -k : k);
    double y = k > 0 ? x / P : (k < 0 ? x * P : x);
    if (y >= 10.0) {
      y = y / 10.0;
      e = k + 2;
    } else {
      e = k + 1;
    }
    truncated_digits(y, kMaxDigits, digits);
  }

  // Round at the digit after the kept ones, by that digit alone.
  int r = d + e;
  if (r >= 0 && r < kMaxDigits && digits[r] >= 5) {
    int i = r - 1;
    while (i >= 0) {
      if (++digits[i] < 10) break;
      digits[i] = 0;
      --i;
    }
    if (i < 0) {  // r was 0, or the carry ran past the first digit
      std::memset(digits, 0, sizeof digits);
      digits[0] = 1;
      ++e;
    }
  }
  auto digit = [&](int i) -> char {  // D(i), counted from 1
    return static_cast<char>('0' + (i >= 1 && i <= kMaxDigits ? digits[i - 1] : 0));
  };

  char* p = out;
  if (e > 0) {
    int need = s + e + 1 + d;
    if (need > w) {
      fill(out, w, '*');
      return;
    }
    fill(p, w - need, ' ');
    p += w - need;
    if (s) *p++ = '-';
    for (int i = 1; i <= e; ++i) *p++ = digit(i);
    *p++ = '.';
    for (int i = e + 1; i <= e + d; ++i) *p++ = digit(i);
  } else if (d + e > 0) {
    int a = w - s - 1 - d;
    if (a < 0) {
      fill(out, w, '*');
      return;
    }
    if (a >= 1) {
      fill(p, a - 1, ' ');
      p += a - 1;
      if (s) *p++ = '-';
      *p++ = '0';
    } else if (s) {
      *p++ = '-';
    }
    *p++ = '.';
    for (int i = 0; i < -e; ++i) *p++ = '0';
    for (int i = 1; i <= d + e; ++i) *p++ = digit(i);
  } else if (d > 0) {  // a nonzero value that rounds to zero at d places
    fill(p, w - d - 2, ' ');
    p += w - d - 2;
    *p++ = '0';
    *p++ = '.';
    fill(p, d, '0');
  } else {  // no decimals and a value below one half
    fill(p, w - 2, ' ');
    p[w - 2] = '0';
    p[w - 1] = '.';
  }
}

namespace {

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
