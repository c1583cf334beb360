#include "records/fixed.h"

#include <cstring>

#include "records/put.h"

namespace brix::records {

std::size_t put_fixed(char* out, std::int32_t v, int decimals) {
  char digits[16];
  int n = 0;
  std::int64_t m = v < 0 ? -std::int64_t{v} : v;
  for (int i = 0; i < decimals; ++i) {
    digits[n++] = static_cast<char>('0' + m % 10);
    m /= 10;
  }
  digits[n++] = '.';
  do {
    digits[n++] = static_cast<char>('0' + m % 10);
    m /= 10;
  } while (m != 0);
  if (v < 0) digits[n++] = '-';
  for (int i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
  return static_cast<std::size_t>(n);
}

void put_fixed_field(char* out, int w, int decimals, std::int32_t v) {
  char text[16];
  const int n = static_cast<int>(put_fixed(text, v, decimals));
  if (n > w) {
    std::memset(out, '*', static_cast<std::size_t>(w));
    return;
  }
  std::memset(out, ' ', static_cast<std::size_t>(w - n));
  std::memcpy(out + (w - n), text, static_cast<std::size_t>(n));
}

std::size_t put_fixed_line(char* out, int first_width, std::int32_t first, int width, int decimals,
                           std::span<const std::int32_t> values) {
  char* at = out;
  put_integer(at, first_width, first);
  at += first_width;
  for (std::int32_t v : values) {
    put_fixed_field(at, width, decimals, v);
    at += width;
  }
  *at++ = '\n';
  return static_cast<std::size_t>(at - out);
}

}  // namespace brix::records
