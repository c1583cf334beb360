// Fuzzes the free-form read of integers, reals and pairs from arbitrary text.
//
// Input: the first byte chooses the receiving variables of every request:
// one integer (the console's order and smoothing answers), one real (the
// threshold), two reals (a coordinate pair) or, by its bits, one to four
// integers and reals; the rest is the text, read request after request
// until the end of the file.
//
// Checked: each request ends in done, error or end, and takes at least one
// line (so the reading ends); nothing is written beside the variables; an
// integer read is written somewhere in the text, and a NaN is the quiet NaN
// the input rules make; and where the first line is a plain decimal number,
// the first variable holds what strtoll or strtod make of it.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "records/freeform.h"
#include "tests/fuzz/fuzz_file.h"

namespace {

using brix::records::Handles;
using brix::records::Outcome;
using brix::records::Target;
using brix::records::Unit;

constexpr std::uint32_t kUntouched = 0x7FA5A5A5u;  // a signalling NaN: no value reads as it
constexpr int kGuard = 4;
constexpr int kMaxTargets = 4;

[[noreturn]] void fail(const char* what, long a = 0, long b = 0) {
  std::fprintf(stderr, "fuzz_freeform: %s (%ld, %ld)\n", what, a, b);
  std::abort();
}

// The lines as the unit delivers them: CRs removed, tabs expanded to stops
// of 8 columns.
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  bool open = false;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
      open = false;
      continue;
    }
    open = true;
    if (c == '\r') continue;
    if (c == '\t')
      line.append(8 - line.size() % 8, ' ');
    else
      line += c;
  }
  if (open) lines.push_back(line);
  return lines;
}

// The line when it is one plain decimal number, blanks around it and
// nothing else: an optional sign, digits and, for reals, one point.
bool plain_number(const std::string& line, bool real, std::string& number) {
  std::size_t b = line.find_first_not_of(' ');
  if (b == std::string::npos) return false;
  std::size_t e = line.find_last_not_of(' ');
  number = line.substr(b, e - b + 1);
  std::size_t i = (number[0] == '+' || number[0] == '-') ? 1 : 0;
  int digits = 0, points = 0;
  for (; i < number.size(); ++i) {
    if (number[i] >= '0' && number[i] <= '9')
      ++digits;
    else if (number[i] == '.' && real)
      ++points;
    else
      return false;
  }
  return digits > 0 && digits <= 15 && points <= 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // Kinds: false for an integer, true for a real.
  std::vector<bool> kinds;
  switch (data[0] & 3) {
    case 0:
      kinds = {false};
      break;
    case 1:
      kinds = {true};
      break;
    case 2:
      kinds = {true, true};
      break;
    default:
      for (int i = 0; i < 1 + (data[0] >> 2 & 3); ++i)
        kinds.push_back((data[0] >> (4 + i) & 1) != 0);
  }
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::vector<std::string> lines = lines_of(text);

  std::uint32_t slots[kGuard + kMaxTargets + kGuard];
  std::vector<Target> targets;
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    void* slot = &slots[kGuard + i];
    targets.push_back(kinds[i] ? Target::real(*static_cast<float*>(slot))
                               : Target::integer(*static_cast<std::int32_t*>(slot)));
  }

  static brix::fuzz::FuzzFile file("freeform");
  {
    Unit& unit = file.open(text);
    std::size_t requests = 0;
    for (;;) {
      for (std::uint32_t& s : slots) s = kUntouched;
      Outcome o = brix::records::read_free(unit, targets, Handles::kErrorsAndEnd);
      if (o != Outcome::kDone && o != Outcome::kError && o != Outcome::kEnd)
        fail("outcome", static_cast<long>(o));
      for (int i = 0; i < kGuard; ++i)
        if (slots[i] != kUntouched || slots[kGuard + kMaxTargets + i] != kUntouched)
          fail("written beside the variables", i);
      for (std::size_t i = kinds.size(); i < kMaxTargets; ++i)
        if (slots[kGuard + i] != kUntouched)
          fail("written beyond the variables", static_cast<long>(i));

      for (std::size_t i = 0; i < kinds.size(); ++i) {
        std::uint32_t bits = slots[kGuard + i];
        if (bits == kUntouched) continue;
        if (kinds[i]) {
          float v = std::bit_cast<float>(bits);
          if (std::isnan(v) && bits != 0x7FC00000u && bits != 0xFFC00000u)
            fail("a NaN of other bits", static_cast<long>(bits));
        } else {
          std::int64_t v = std::bit_cast<std::int32_t>(bits);
          std::string digits = std::to_string(v < 0 ? -v : v);
          bool found = false;
          for (const std::string& l : lines) found = found || l.find(digits) != std::string::npos;
          if (!found) fail("an integer that the text does not hold", static_cast<long>(v));
        }
      }

      // The first request, when its line is a single plain number: the first
      // variable takes it, whatever happens to the later ones.
      std::string number;
      if (requests == 0 && !lines.empty() && plain_number(lines[0], kinds[0], number)) {
        if (kinds[0]) {
          double expected = std::strtod(number.c_str(), nullptr);
          float v = std::bit_cast<float>(slots[kGuard]);
          double ulp = std::fabs(std::nextafter(static_cast<float>(expected), INFINITY) -
                                 static_cast<double>(static_cast<float>(expected)));
          if (!(std::fabs(static_cast<double>(v) - expected) <= ulp))
            fail("a plain real read wrongly", static_cast<long>(v), static_cast<long>(expected));
          if (kinds.size() == 1 && o != Outcome::kDone) fail("a plain real not read");
        } else {
          long long expected = std::strtoll(number.c_str(), nullptr, 10);
          bool in_range = expected >= std::numeric_limits<std::int32_t>::min() &&
                          expected <= std::numeric_limits<std::int32_t>::max();
          if (in_range && std::bit_cast<std::int32_t>(slots[kGuard]) != expected)
            fail("a plain integer read wrongly", static_cast<long>(expected));
          if (kinds.size() == 1 && o != (in_range ? Outcome::kDone : Outcome::kError))
            fail("a plain integer with the wrong outcome", static_cast<long>(o));
        }
      }

      if (o == Outcome::kEnd) break;
      ++requests;
      if (requests > lines.size()) fail("more requests than lines", static_cast<long>(requests));
    }
    file.close();
  }
  return 0;
}
