// Read requests: a unit's lines taken through a format into variables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "records/format.h"
#include "records/text_field.h"
#include "records/unit.h"

namespace brix::records {

// One receiving variable, or a run of them, of a read request.
struct Target {
  enum class Kind { kInteger, kReal, kText };
  Kind kind;
  void* first;
  int count = 1;                // variables in the run
  std::ptrdiff_t stride = 1;    // elements between two variables of the run
  int length = 0;               // text fields: the declared length
  std::string* whole = nullptr;  // text fields: receives the whole line too

  static Target integer(std::int32_t& v) { return {Kind::kInteger, &v}; }
  static Target real(float& v) { return {Kind::kReal, &v}; }
  static Target reals(float* first, int count, std::ptrdiff_t stride) {
    return {Kind::kReal, first, count, stride};
  }
  template <std::size_t N>
  static Target text(TextField<N>& field, std::string* whole = nullptr) {
    return {Kind::kText, field.chars, 1, 1, static_cast<int>(N), whole};
  }
};

enum class Outcome { kDone, kError, kEnd };

// Which outcomes besides done the caller takes back; any other raises the
// run-time error report.
enum class Handles { kNeither, kErrors, kErrorsAndEnd };

// Reads one line of the unit through the format into the targets.
Outcome read(Unit& unit, const Format& format, std::span<const Target> targets,
             Handles handles);
inline Outcome read(Unit& unit, const Format& format,
                    std::initializer_list<Target> targets, Handles handles) {
  return read(unit, format, std::span<const Target>(targets.begin(), targets.size()),
              handles);
}

// Converts a line already in hand through the format into the targets, as
// read() converts the line it takes from a unit: kDone or kError. The format
// must not hold "/". Safe to call from several threads at once.
Outcome read_line(std::string_view line, const Format& format, std::span<const Target> targets);
inline Outcome read_line(std::string_view line, const Format& format,
                         std::initializer_list<Target> targets) {
  return read_line(line, format, std::span<const Target>(targets.begin(), targets.size()));
}

// One numeric input field of width w at pos, read as a request reads it: w
// characters (fewer where the line ends sooner; a comma ends the field early
// and the next starts after it), blanks dropped, then converted, an F field
// with d implied decimals. pos moves to the next field's start. False on a
// field that breaks its syntax, the value then unchanged.
bool read_integer_field(std::string_view line, std::size_t& pos, int w, std::int32_t& value);
bool read_real_field(std::string_view line, std::size_t& pos, int w, int d, float& value);

// Settles an outcome against what the caller handles: returns the outcome the
// caller sees, or raises the report for one it does not take.
Outcome settle(Unit& unit, Outcome outcome, Handles handles);

inline constexpr std::string_view kEndOfFileMessage = "Attempt to read past end of file";
inline constexpr std::string_view kIllegalCharacterMessage = "Illegal character in numeric input";

}  // namespace brix::records
