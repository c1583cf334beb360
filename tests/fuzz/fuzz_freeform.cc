// Fuzzes free-form reads. The first byte chooses 1 + (byte >> 6) variables,
// variable i a real when bit i is set, else an integer; the rest is the text,
// read request after request to its end. Each request must end in done, error
// or end, take at least one line and write nothing beside its variables; a
// first line of one plain number (15 characters at most) reads as strtod.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "records/freeform.h"
#include "tests/fuzz/fuzz_file.h"

using brix::records::Outcome;

static void expect(bool ok, const char* what, std::size_t request) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_freeform: request %zu: not %s\n", request, what);
  std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t n = 1 + (data[0] >> 6);
  const bool real = data[0] & 1;  // the first variable's kind
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t lines =
      std::count(text.begin(), text.end(), '\n') + (!text.empty() && text.back() != '\n');
  const std::string line = text.substr(0, text.find('\n'));
  const std::size_t b = line.find_first_not_of(" \t\r"), e = line.find_last_not_of(" \t\r");
  const std::string number = b == std::string::npos ? "" : line.substr(b, e - b + 1);
  char* end = nullptr;
  const double expected = std::strtod(number.c_str(), &end);  // exact for 15 digits
  const bool plain =
      !number.empty() && number.size() <= 15 && end == number.c_str() + number.size() &&
      number.find_first_not_of(real ? "+-.0123456789" : "+-0123456789") == std::string::npos;
  const bool in_range = real || (expected >= INT32_MIN && expected <= INT32_MAX);

  union {
    float real;
    std::int32_t integer;
    std::uint32_t bits;
  } slots[8];  // slots[2] to slots[1 + n] receive, the others are guards
  std::vector<brix::records::Target> targets;
  for (std::size_t i = 0; i < n; ++i)
    targets.push_back(data[0] >> i & 1 ? brix::records::Target::real(slots[2 + i].real)
                                       : brix::records::Target::integer(slots[2 + i].integer));
  static brix::fuzz::FuzzFile file("freeform");
  brix::records::Unit& unit = file.open(text);
  for (std::size_t request = 0;; ++request) {
    for (auto& slot : slots) slot.bits = 0x7FA5A5A5u;  // a NaN that no text reads as
    const Outcome o =
        brix::records::read_free(unit, targets, brix::records::Handles::kErrorsAndEnd);
    expect(o == Outcome::kDone || o == Outcome::kError || o == Outcome::kEnd, "done, error or end",
           request);
    expect(o == Outcome::kEnd || request < lines, "a line for each request", request);
    for (std::size_t i = 0; i < 8; ++i)
      expect((i >= 2 && i < 2 + n) || slots[i].bits == 0x7FA5A5A5u,
             "written to the variables alone", request);
    // Both roundings of the decimal value are correct ones, so the reading is exact.
    const double got = real ? double(slots[2].real) : double(slots[2].integer);
    expect(request > 0 || !plain ||
               ((!in_range || got == (real ? double(float(expected)) : expected)) &&
                (n > 1 || o == (in_range ? Outcome::kDone : Outcome::kError))),
           "a plain number read as strtod reads it", request);
    if (o == Outcome::kEnd) break;
  }
  file.close();
  return 0;
}
