// Fuzzes the F and I output fields with arbitrary bit patterns.
//
// Input: four bytes are the value (a 32-bit real and, the same bits, a 32-bit
// integer); two more bytes give a further Fw.d (w >= d + 2, w <= 40) and Iw.
// Each value is written with every descriptor of the program's formats and
// with the further ones, and each field is checked against an oracle of its
// own:
//   - exactly w characters are written, nothing around them;
//   - asterisks exactly when the value does not fit, "fits" being derived
//     from the exact decimal expansion of the value (printf), rounded half up
//     at d places; a value within a hair of a rounding tie, where the double
//     arithmetic of the conversion may go either way, is not judged;
//   - where it fits: blanks, a sign exactly when the sign bit is set and a
//     nonzero digit shows, digits, a point and d decimals, read back with
//     strtod within one unit of the last digit (plus the relative error of
//     the double arithmetic); NaN and infinities as "NaN" and "INF", signed
//     by the sign bit.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "records/convert.h"

namespace {

using brix::records::put_integer;
using brix::records::put_real;

constexpr char kUnwritten = '\x01';  // no field holds it
constexpr int kGuard = 16;

[[noreturn]] void fail(const char* what, float value, int w, int d, const char* field) {
  std::fprintf(stderr, "fuzz_output: %s: value %a (bits %08x) F%d.%d field \"%s\"\n", what,
               static_cast<double>(value), std::bit_cast<std::uint32_t>(value), w, d, field);
  std::abort();
}

// Runs put into a buffer with guards and returns the field; checks that
// exactly w characters were written.
template <typename Put>
std::string field_of(int w, Put put, float value, int d) {
  char buffer[kGuard + 64 + kGuard];
  std::memset(buffer, kUnwritten, sizeof buffer);
  put(buffer + kGuard);
  for (int i = 0; i < kGuard; ++i)
    if (buffer[i] != kUnwritten || buffer[kGuard + w + i] != kUnwritten)
      fail("written outside the field", value, w, d, "");
  std::string field(buffer + kGuard, static_cast<std::size_t>(w));
  if (field.find(kUnwritten) != std::string::npos)
    fail("a column of the field left unwritten", value, w, d, field.c_str());
  return field;
}

bool all_asterisks(const std::string& f) { return f.find_first_not_of('*') == std::string::npos; }

// Whether |value| rounded half up at d decimals fits Fw.d, from its exact
// decimal expansion. Returns -1 when the value lies so close to a rounding
// tie that either answer may come out.
int fits(float value, int w, int d) {
  if (value == 0.0f) return 1;
  char text[64];
  // 41 significant digits, exact (the digits of a binary value end; glibc
  // prints them exactly): D.DDDD...e±XX
  std::snprintf(text, sizeof text, "%.40e", std::fabs(static_cast<double>(value)));
  std::string digits;
  digits += text[0];
  digits.append(text + 2, 40);
  int e = std::atoi(std::strchr(text, 'e') + 1) + 1;  // value = 0.D1D2... x 10^e
  const int s = std::signbit(value) ? 1 : 0;
  const int r = d + e;  // digits kept
  if (r < 0) return 1;  // rounds to zero
  if (r < static_cast<int>(digits.size())) {
    // A tie, or a hair either side of one.
    const std::string after = digits.substr(static_cast<std::size_t>(r) + 1, 12);
    if ((digits[static_cast<std::size_t>(r)] == '5' &&
         after.find_first_not_of('0') == std::string::npos) ||
        (digits[static_cast<std::size_t>(r)] == '4' &&
         after.find_first_not_of('9') == std::string::npos))
      return -1;
    bool up = digits[static_cast<std::size_t>(r)] >= '5';
    if (r == 0) {
      if (!up) return 1;  // rounds to zero
      e += 1;             // rounds to one unit of the last place
    } else if (up && digits.find_first_not_of('9') >= static_cast<std::size_t>(r)) {
      e += 1;  // the carry runs past the first digit
    }
  }
  if (e > 0) return s + e + 1 + d <= w ? 1 : 0;
  return s + 1 + d <= w ? 1 : 0;
}

void check_real(float value, int w, int d) {
  std::string f = field_of(
      w, [&](char* out) { put_real(out, w, d, value); }, value, d);
  const char* c = f.c_str();
  if (std::isnan(value) || std::isinf(value)) {
    std::string text =
        std::string(std::signbit(value) ? "-" : "") + (std::isnan(value) ? "NaN" : "INF");
    std::string expected = text.size() > static_cast<std::size_t>(w)
                               ? std::string(static_cast<std::size_t>(w), '*')
                               : std::string(static_cast<std::size_t>(w) - text.size(), ' ') + text;
    if (f != expected) fail("NaN or infinity", value, w, d, c);
    return;
  }
  int fit = fits(value, w, d);
  if (all_asterisks(f)) {
    if (fit == 1) fail("asterisks for a value that fits", value, w, d, c);
    return;
  }
  if (fit == 0) fail("no asterisks for a value that does not fit", value, w, d, c);

  // Shape: blanks, an optional "-", digits, ".", d digits.
  std::size_t i = f.find_first_not_of(' ');
  bool minus = f[i] == '-';
  if (minus) ++i;
  std::size_t point = f.find('.', i);
  if (point == std::string::npos || f.size() - point - 1 != static_cast<std::size_t>(d))
    fail("not d decimals after a point", value, w, d, c);
  std::string int_part = f.substr(i, point - i);
  std::string all_digits = int_part + f.substr(point + 1);
  if (all_digits.find_first_not_of("0123456789") != std::string::npos)
    fail("a character that is not a digit", value, w, d, c);
  if (int_part.size() > 1 && int_part[0] == '0') fail("a leading zero", value, w, d, c);
  // "0." before the decimals whenever there is room for the zero.
  if (int_part.empty() && f[0] == ' ')
    fail("no zero before the point despite room", value, w, d, c);
  bool nonzero = all_digits.find_first_not_of('0') != std::string::npos;
  if (minus != (std::signbit(value) && nonzero)) fail("wrong sign", value, w, d, c);

  double printed = std::strtod(c, nullptr);
  double exact = static_cast<double>(value);
  double unit = std::pow(10.0, -d);
  double tolerance = unit * (1 + 1e-9) + std::fabs(exact) * 1e-15;
  if (!(std::fabs(printed - exact) <= tolerance))
    fail("value off by a unit or more", value, w, d, c);
}

void check_integer(std::int32_t value, int w) {
  std::string f = field_of(
      w, [&](char* out) { put_integer(out, w, value); }, 0.0f, 0);
  std::string text = std::to_string(value);
  std::string expected = text.size() > static_cast<std::size_t>(w)
                             ? std::string(static_cast<std::size_t>(w), '*')
                             : std::string(static_cast<std::size_t>(w) - text.size(), ' ') + text;
  if (f != expected) {
    std::fprintf(stderr, "fuzz_output: I%d of %d: \"%s\", expected \"%s\"\n", w, value, f.c_str(),
                 expected.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::uint32_t bits;
  std::memcpy(&bits, data, 4);
  const float real = std::bit_cast<float>(bits);
  const std::int32_t integer = std::bit_cast<std::int32_t>(bits);

  // The program's descriptors.
  static const int kF[][2] = {{5, 0}, {7, 3}, {8, 2}, {8, 3}, {10, 3}};
  for (const auto& fd : kF) check_real(real, fd[0], fd[1]);
  check_integer(integer, 5);
  check_integer(integer, 6);

  // A further Fw.d with 2 <= w <= 40 and w >= d + 2, and Iw with 1 <= w <= 40.
  if (size >= 6) {
    int w = 2 + data[4] % 39;
    int d = data[5] % (w - 1);
    check_real(real, w, d);
    check_integer(integer, 1 + data[4] % 40);
  }
  return 0;
}
