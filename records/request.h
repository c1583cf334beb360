// Read and write requests driven by a format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "records/format.h"
#include "records/unit.h"

namespace brix::records {

// A fixed-length, blank-padded text field.
template <std::size_t N>
struct TextField {
  char chars[N];
  TextField() { blank(); }
  void blank() {
    for (char& c : chars) c = ' ';
  }
  std::string_view view() const { return {chars, N}; }
};

// One value of a write request.
class Value {
 public:
  enum class Kind { kInteger, kReal, kText };
  Value(std::int32_t i) : kind_(Kind::kInteger), integer_(i) {}
  Value(float r) : kind_(Kind::kReal), real_(r) {}
  Value(std::string_view t) : kind_(Kind::kText), text_(t) {}
  template <std::size_t N>
  Value(const TextField<N>& t) : kind_(Kind::kText), text_(t.view()) {}
  Value(double) = delete;  // every real written is a 32-bit real

  Kind kind() const { return kind_; }
  std::int32_t integer() const { return integer_; }
  float real() const { return real_; }
  std::string_view text() const { return text_; }

 private:
  Kind kind_;
  std::int32_t integer_ = 0;
  float real_ = 0.0f;
  std::string_view text_;
};

// Writes the values through the format on the unit: one or more lines.
void write(Unit& unit, const Format& format, std::initializer_list<Value> values = {});
void write(Unit& unit, const Format& format, std::span<const Value> values);

// One receiving variable, or a run of them, of a read request.
struct Target {
  enum class Kind { kInteger, kReal, kText };
  Kind kind;
  void* first;
  int count = 1;                // variables in the run
  std::ptrdiff_t stride = 1;    // elements between two variables of the run
  int length = 0;               // text fields: the declared length
  std::string* whole = nullptr;  // text fields: receives the whole line too
  // Formatted reals only: when set, field k of the run is stored only when
  // keep[k] is not 0, the stored values packed one after another from first.
  // The other fields are still read, and an error in them is an error; after
  // an error, the places of the kept values after those stored may have been
  // written.
  const std::uint8_t* keep = nullptr;

  static Target integer(std::int32_t& v) { return {Kind::kInteger, &v}; }
  static Target real(float& v) { return {Kind::kReal, &v}; }
  static Target reals(float* first, int count, std::ptrdiff_t stride) {
    return {Kind::kReal, first, count, stride};
  }
  static Target kept_reals(float* first, int count, const std::uint8_t* keep) {
    return {Kind::kReal, first, count, 1, 0, nullptr, keep};
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

// The ways the real fields of year records are read. Every path gives the
// same outcome and the same bits as the general one for every field: a fast
// path takes only the fields in plain form it can decide, and leaves any
// other to the general reading.
//   general  every field the general way (strip blanks, then convert)
//   scalar   plain "f10.3" fields with 64-bit integer arithmetic
//   sse      plain "f10.3" fields one at a time with SSE4.2
//   avx2     kept reals six fields at a time with AVX2, the rest as sse
//   avx512   kept reals six fields at a time with AVX-512 (VBMI), the rest as sse
enum class FieldPath { kGeneral, kScalar, kSse, kAvx2, kAvx512 };
inline constexpr FieldPath kFieldPaths[] = {FieldPath::kGeneral, FieldPath::kScalar,
                                            FieldPath::kSse, FieldPath::kAvx2,
                                            FieldPath::kAvx512};

std::string_view field_path_name(FieldPath path);
// The path of that name; false for a name no path has.
bool field_path_named(std::string_view name, FieldPath& path);
// Whether this build and this processor can take the path.
bool field_path_available(FieldPath path);
// Those paths, from the general one to the widest.
std::vector<FieldPath> available_field_paths();
// The widest path available: the one a run takes unless told otherwise.
FieldPath widest_field_path();
// The path the readers take from now on; false, path unchanged, when it is
// not available. Not to be called while another thread reads.
bool use_field_path(FieldPath path);
FieldPath field_path();
// Takes the path named by BRIX_FIELDS when it is set: false, with the reason
// in message, for a name no path has or a path this processor lacks.
bool use_field_path_from_environment(std::string& message);

// Settles an outcome against what the caller handles: returns the outcome the
// caller sees, or raises the report for one it does not take.
Outcome settle(Unit& unit, Outcome outcome, Handles handles);

inline constexpr std::string_view kEndOfFileMessage = "Attempt to read past end of file";
inline constexpr std::string_view kIllegalCharacterMessage = "Illegal character in numeric input";

}  // namespace brix::records
