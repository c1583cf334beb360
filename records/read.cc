#include "records/read.h"

#include <algorithm>
#include <cstring>

#include "records/get.h"
#include "records/report.h"

namespace brix::records {
namespace {

// Next numeric input field of width w starting at pos: w characters, fewer
// when the line ends sooner, none beyond its end; a comma ends it early and
// the next field starts after the comma.
std::string_view next_field(std::string_view line, std::size_t& pos, int w) {
  std::size_t width = static_cast<std::size_t>(w);
  std::string_view field;
  if (pos < line.size()) field = line.substr(pos, std::min(width, line.size() - pos));
  const void* comma = field.empty() ? nullptr : std::memchr(field.data(), ',', field.size());
  if (comma != nullptr) {
    field = field.substr(0, static_cast<std::size_t>(static_cast<const char*>(comma) - field.data()));
    pos += field.size() + 1;
  } else {
    pos += width;
  }
  return field;
}

// The blank-stripped text of the field of width w at pos, in buffer (or in
// big, for fields wider than any of the program's formats).
std::string_view field_text(std::string_view line, std::size_t& pos, int w, char (&buffer)[64],
                            std::string& big) {
  std::string_view field = next_field(line, pos, w);
  char* to = buffer;
  if (field.size() > sizeof buffer) {
    big.resize(field.size());
    to = big.data();
  }
  return strip_blanks(to, field);
}

// The receiving variable `element` of the run t, as type T.
template <typename T>
T& variable(const Target& t, int element) {
  return static_cast<T*>(t.first)[element * t.stride];
}

// A: the characters from pos on into the text field, blank-padded where the
// line ends sooner; the whole line too where the target asks for it.
void read_text(std::string_view line, std::size_t& pos, const Target& t) {
  auto* field = static_cast<char*>(t.first);
  const std::size_t length = static_cast<std::size_t>(t.length);
  const std::size_t from = std::min(pos, line.size());
  const std::size_t n = std::min(length, line.size() - from);
  if (n > 0) std::memcpy(field, line.data() + from, n);
  std::memset(field + n, ' ', length - n);
  if (t.whole != nullptr) t.whole->assign(line);
  pos += length;
}

// X, T and "/": moves pos; "/" takes the next line of the unit. False at the
// end of the unit's input.
bool position(const Descriptor& d, std::string_view& line, std::size_t& pos, Unit* unit,
              const Format& format) {
  switch (d.edit) {
    case Edit::kSkip: pos += static_cast<std::size_t>(d.n); break;
    case Edit::kTab: pos = static_cast<std::size_t>(d.n - 1); break;
    case Edit::kSlash:
      if (unit == nullptr) value_mismatch(format);
      if (!unit->next_line(line)) return false;
      pos = 0;
      break;
    default: break;
  }
  return true;
}

// Carries out the format on the line into the targets. A "/" takes the next
// line of the unit; without a unit it is a fault of the caller.
Outcome convert(std::string_view line, const Format& format, std::span<const Target> targets,
                Unit* unit, Handles handles) {
  std::size_t pos = 0;
  std::size_t target = 0;
  int element = 0;  // within the run of the current target
  for (const Descriptor& d : format.descriptors()) {
    if (!d.is_data()) {
      if (!position(d, line, pos, unit, format)) return settle(*unit, Outcome::kEnd, handles);
      continue;
    }
    for (int r = 0; r < d.repeat; ++r) {
      while (target < targets.size() && targets[target].count <= 0) ++target;
      if (target == targets.size()) return Outcome::kDone;
      const Target& t = targets[target];
      bool read = true;
      if (d.edit == Edit::kA && t.kind == Target::Kind::kText) {
        read_text(line, pos, t);
      } else if (d.edit == Edit::kF && t.kind == Target::Kind::kReal) {
        read = read_real_field(line, pos, d.w, d.d, variable<float>(t, element));
      } else if (d.edit == Edit::kI && t.kind == Target::Kind::kInteger) {
        read = read_integer_field(line, pos, d.w, variable<std::int32_t>(t, element));
      } else {
        value_mismatch(format);
      }
      if (!read) return Outcome::kError;
      if (++element == t.count) {
        element = 0;
        ++target;
      }
    }
  }
  return Outcome::kDone;
}

}  // namespace

bool read_integer_field(std::string_view line, std::size_t& pos, int w, std::int32_t& value) {
  char buffer[64];
  std::string big;
  return get_integer_field(field_text(line, pos, w, buffer, big), value);
}

bool read_real_field(std::string_view line, std::size_t& pos, int w, int d, float& value) {
  char buffer[64];
  std::string big;
  return get_real(field_text(line, pos, w, buffer, big), d, value);
}

Outcome settle(Unit& unit, Outcome outcome, Handles handles) {
  switch (outcome) {
    case Outcome::kDone:
      return outcome;
    case Outcome::kEnd:
      if (handles == Handles::kErrorsAndEnd) return Outcome::kEnd;
      if (handles == Handles::kErrors) return Outcome::kError;
      report(Statement::kRead, unit, kEndOfFileMessage);
    case Outcome::kError:
      if (handles != Handles::kNeither) return Outcome::kError;
      report(Statement::kRead, unit, kIllegalCharacterMessage);
  }
  return outcome;
}

Outcome read(Unit& unit, const Format& format, std::span<const Target> targets,
             Handles handles) {
  std::string_view line;
  if (!unit.next_line(line)) return settle(unit, Outcome::kEnd, handles);
  Outcome outcome = convert(line, format, targets, &unit, handles);
  return outcome == Outcome::kError ? settle(unit, outcome, handles) : outcome;
}

Outcome read_line(std::string_view line, const Format& format, std::span<const Target> targets) {
  return convert(line, format, targets, nullptr, Handles::kErrorsAndEnd);
}

}  // namespace brix::records
