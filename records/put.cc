#include "records/put.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "records/power_of_ten.h"

namespace brix::records {
namespace {

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


}  // namespace brix::records
