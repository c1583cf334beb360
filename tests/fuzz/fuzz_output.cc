// Fuzzes F and I output. Bytes 0-3 are the value (a 32-bit real and, the same
// bits, an integer); bytes 4-5 choose one more Fw.d (w <= 40) and Iw. Each
// field is exactly w characters. F: asterisks exactly when the value rounded
// at d places does not fit; else blanks, a sign when the sign bit is set and a
// digit is nonzero, digits ("0." when there is room), d decimals, within a
// unit of the last digit. I, NaN and INF: the text right-justified.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "records/put.h"

namespace {

[[noreturn]] void fail(const char* what, std::uint32_t bits, int w, int d, const std::string& f) {
  std::fprintf(stderr, "fuzz_output: %s: bits %08x, %d.%d: \"%s\"\n", what, bits, w, d, f.c_str());
  std::abort();
}

// The field written between guards; it must be exactly w characters.
std::string field(std::uint32_t bits, int w, int d, bool real) {
  std::string all(64, '\1');
  if (real) brix::records::put_real(all.data() + 16, w, d, std::bit_cast<float>(bits));
  if (!real) brix::records::put_integer(all.data() + 16, w, std::bit_cast<std::int32_t>(bits));
  if (all.find_first_not_of('\1') != 16 || all.find('\1', 16) != 16 + std::size_t(w))
    fail("not exactly w characters written", bits, w, d, all);
  return all.substr(16, std::size_t(w));
}

std::string justified(const std::string& text, int w) {
  const std::size_t n = std::size_t(w);
  return text.size() > n ? std::string(n, '*') : std::string(n - text.size(), ' ') + text;
}

void check_real(std::uint32_t bits, int w, int d) {
  const float value = std::bit_cast<float>(bits);
  const std::string f = field(bits, w, d, true);
  const std::string special = std::isnan(value) ? "NaN" : "INF";
  if (!std::isfinite(value) && f != justified((std::signbit(value) ? "-" : "") + special, w))
    fail("NaN or INF", bits, w, d, f);
  if (!std::isfinite(value)) return;
  // Whether the magnitude times scale, rounded by printf, fits: its digits
  // without a lone leading zero, the point and the sign.
  auto fits = [&](double scale) {
    char t[128];
    const int n = std::snprintf(t, sizeof t, "%.*f", d, std::fabs(value) * scale);
    const bool sign = std::signbit(value) && std::strpbrk(t, "123456789") != nullptr;
    return sign + n - (t[0] == '0') + (d == 0) <= w;
  };
  const bool stars = f == std::string(std::size_t(w), '*'), fit = fits(1 - 1e-12);
  if (fit == fits(1 + 1e-12) && stars == fit)  // unless within a hair of a rounding tie
    fail(stars ? "asterisks for a value that fits" : "no asterisks", bits, w, d, f);
  if (stars) return;
  const std::size_t b = std::min(f.find_first_not_of(' '), f.size() - 1), point = f.find('.');
  const bool minus = f[b] == '-';
  const std::string whole = f.substr(b + minus, point - b - minus);
  const std::string digits = whole + f.substr(point + 1);
  if (point == std::string::npos || f.size() - point - 1 != std::size_t(d) ||
      digits.find_first_not_of("0123456789") != std::string::npos ||
      (whole.size() > 1 && whole[0] == '0') || (whole.empty() && b > 0) ||
      minus != (std::signbit(value) && digits.find_first_not_of('0') != std::string::npos))
    fail("not blanks, sign, digits (\"0.\" when there is room), d decimals", bits, w, d, f);
  if (!(std::fabs(std::strtod(f.c_str(), nullptr) - value) <=
        std::pow(10.0, -d) * (1 + 1e-9) + std::fabs(value) * 1e-15))
    fail("value off by a unit of the last digit or more", bits, w, d, f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  std::uint32_t bits;
  std::memcpy(&bits, data, 4);
  const int fw = 2 + data[4] % 39;
  for (auto [w, d] : {std::pair{5, 0}, {7, 3}, {8, 2}, {8, 3}, {10, 3}, {fw, data[5] % (fw - 1)}})
    check_real(bits, w, d);
  for (int w : {5, 6, 1 + data[4] % 40})
    if (field(bits, w, 0, false) != justified(std::to_string(std::bit_cast<std::int32_t>(bits)), w))
      fail("I field", bits, w, 0, field(bits, w, 0, false));
  return 0;
}
