#include "records/request.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "records/convert.h"
#include "records/plain.h"

namespace brix::records {
namespace {

[[noreturn]] void mismatch(const Format& format) {
  throw std::invalid_argument("value does not suit its descriptor in " +
                              std::string(format.text()));
}

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

// Reads one Iw or Fw.d field at pos into the variable: false on a field that
// breaks its syntax (the variable is then unchanged).
bool read_field(std::string_view line, std::size_t& pos, const Descriptor& d,
                Target::Kind kind, void* variable) {
  std::string_view field = next_field(line, pos, d.w);
  char scratch[64];
  std::string big;  // only for fields wider than any of the program's formats
  char* buffer = scratch;
  if (field.size() > sizeof scratch) {
    big.resize(field.size());
    buffer = big.data();
  }
  std::string_view text = strip_blanks(buffer, field);
  if (kind == Target::Kind::kInteger)
    return get_integer_field(text, *static_cast<std::int32_t*>(variable));
  return get_real(text, d.d, *static_cast<float*>(variable));
}

// Reads plain fields of the year records' layout one at a time with parse,
// which may read `readable` bytes from a field's start, from field k on while
// k < until: stops at the first field it cannot decide, with k and pos there.
template <bool (*parse)(const char*, std::uint64_t&, bool&), std::size_t readable>
void plain_run(std::string_view line, std::size_t& pos, int& k, int until, float*& out,
               std::ptrdiff_t stride, const std::uint8_t* keep) {
  for (; k < until && pos + readable <= line.size(); ++k) {
    std::uint64_t m;
    bool negative;
    if (!parse(line.data() + pos, m, negative)) break;
    // A field of that form always reads: one that is not kept needs no value.
    if (keep == nullptr || keep[k] != 0) {
      if (!plain_value(m, 3, negative, *out)) break;
      out += stride;
    }
    pos += 10;
  }
}

SixFields six_fields_of(FieldPath path) {
  if (path == FieldPath::kAvx512) return six_fields_avx512();
  if (path == FieldPath::kAvx2) return six_fields_avx2();
  return nullptr;
}

FieldPath path = widest_field_path();
SixFields six_fields = six_fields_of(path);

// Reads n Fw.d fields: with keep null into out[0], out[stride], ...; else
// field k into the next place from out when keep[k] is not 0. Off the
// general path, plain fields are converted directly, six at a time where the
// path can, any other through the general field reading; on it, every field
// takes the general way. False on an input error, after storing the values
// before the failing field (with keep, places of later kept values may have
// been written too).
bool read_reals(std::string_view line, std::size_t& pos, const Descriptor& d, int n,
                float* out, std::ptrdiff_t stride, const std::uint8_t* keep) {
  const std::size_t w = static_cast<std::size_t>(d.w);
  const bool fast = path != FieldPath::kGeneral;
  const bool year_layout = fast && d.w == 10 && d.d == 3;
  const SixFields six = year_layout && keep != nullptr ? six_fields : nullptr;
  // The places of the kept values, for the readers of six at a time.
  float* const first = out;
  const std::size_t places =
      six != nullptr ? static_cast<std::size_t>(n - std::count(keep, keep + n, 0)) : 0;
  float dropped;  // receives the fields that are not kept
  int k = 0;
  while (k < n) {
    // Groups of six fields where the path can; after them the fields one at
    // a time: all the rest, or one group's worth before groups are tried
    // again.
    int until = n;
    if (six != nullptr) {
      const int done = six(line.data() + pos, pos < line.size() ? line.size() - pos : 0, n - k,
                           keep + k, out, places - static_cast<std::size_t>(out - first));
      k += done;
      pos += 10 * static_cast<std::size_t>(done);
      if (k == n) break;
      until = std::min(n, k + 6);
    }
    // The layout of the year records: 16 bytes readable for the vector
    // reading, the field itself for the scalar one.
    if (year_layout) {
#ifdef BRIX_PLAIN_SIMD
      if (path != FieldPath::kScalar)
        plain_run<parse_plain_10_3, 16>(line, pos, k, until, out, stride, keep);
      else
#endif
        plain_run<parse_plain_10_3_scalar, 10>(line, pos, k, until, out, stride, keep);
      if (k == until) continue;
    }
    // Any other field, one at a time.
    const bool stored = keep == nullptr || keep[k] != 0;
    float& value = stored ? *out : dropped;
    if (fast && pos + w <= line.size() && get_real_plain(line.data() + pos, d.w, d.d, value)) {
      pos += w;
    } else if (!read_field(line, pos, d, Target::Kind::kReal, &value)) {
      return false;
    }
    if (stored) out += stride;
    ++k;
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
      switch (d.edit) {
        case Edit::kSkip: pos += static_cast<std::size_t>(d.n); break;
        case Edit::kTab: pos = static_cast<std::size_t>(d.n - 1); break;
        case Edit::kSlash:
          if (unit == nullptr) mismatch(format);
          if (!unit->next_line(line)) return settle(*unit, Outcome::kEnd, handles);
          pos = 0;
          break;
        default: break;
      }
      continue;
    }
    for (int r = 0; r < d.repeat; ++r) {
      while (target < targets.size() && targets[target].count <= 0) ++target;
      if (target == targets.size()) return Outcome::kDone;
      const Target& t = targets[target];
      if (d.edit == Edit::kA) {
        if (t.kind != Target::Kind::kText) mismatch(format);
        auto* field = static_cast<char*>(t.first);
        std::size_t length = static_cast<std::size_t>(t.length);
        std::size_t from = std::min(pos, line.size());
        std::size_t n = std::min(length, line.size() - from);
        if (n > 0) std::memcpy(field, line.data() + from, n);
        std::memset(field + n, ' ', length - n);
        if (t.whole != nullptr) t.whole->assign(line);
        pos += length;
      } else if (d.edit == Edit::kF && t.kind == Target::Kind::kReal) {
        // A run of F fields into a run of reals: the hot path of the year
        // records.
        int n = std::min(d.repeat - r, t.count - element);
        float* out = static_cast<float*>(t.first);
        if (t.keep == nullptr) {
          out += element * t.stride;
        } else {
          for (int k = 0; k < element; ++k) out += t.keep[k] != 0;
        }
        const std::uint8_t* keep = t.keep == nullptr ? nullptr : t.keep + element;
        if (!read_reals(line, pos, d, n, out, t.stride, keep)) return Outcome::kError;
        r += n - 1;
        element += n - 1;
      } else {
        if (d.edit != Edit::kI || t.kind != Target::Kind::kInteger) mismatch(format);
        auto* first = static_cast<std::int32_t*>(t.first);
        if (!read_field(line, pos, d, t.kind, first + element * t.stride)) return Outcome::kError;
      }
      if (++element == t.count) {
        element = 0;
        ++target;
      }
    }
  }
  return Outcome::kDone;
}

}  // namespace

std::string_view field_path_name(FieldPath p) {
  switch (p) {
    case FieldPath::kGeneral: return "general";
    case FieldPath::kScalar: return "scalar";
    case FieldPath::kSse: return "sse";
    case FieldPath::kAvx2: return "avx2";
    case FieldPath::kAvx512: return "avx512";
  }
  return "?";
}

bool field_path_named(std::string_view name, FieldPath& p) {
  for (FieldPath each : kFieldPaths)
    if (field_path_name(each) == name) return p = each, true;
  return false;
}

bool field_path_available(FieldPath p) {
  switch (p) {
    case FieldPath::kGeneral:
    case FieldPath::kScalar:
      return true;
    case FieldPath::kSse:
#ifdef BRIX_PLAIN_SIMD
      return true;
#else
      return false;
#endif
    case FieldPath::kAvx2:
    case FieldPath::kAvx512:
      return six_fields_of(p) != nullptr;
  }
  return false;
}

std::vector<FieldPath> available_field_paths() {
  std::vector<FieldPath> paths;
  for (FieldPath p : kFieldPaths)
    if (field_path_available(p)) paths.push_back(p);
  return paths;
}

FieldPath widest_field_path() {
  for (FieldPath p : {FieldPath::kAvx512, FieldPath::kAvx2, FieldPath::kSse})
    if (field_path_available(p)) return p;
  return FieldPath::kScalar;
}

bool use_field_path(FieldPath p) {
  if (!field_path_available(p)) return false;
  path = p;
  six_fields = six_fields_of(p);
  return true;
}

FieldPath field_path() { return path; }

bool use_field_path_from_environment(std::string& message) {
  const char* name = std::getenv("BRIX_FIELDS");
  if (name == nullptr) return true;
  FieldPath p;
  std::string paths;  // those this processor has
  for (FieldPath each : available_field_paths())
    paths += (paths.empty() ? "" : ", ") + std::string(field_path_name(each));
  if (!field_path_named(name, p)) {
    message = "BRIX_FIELDS=" + std::string(name) +
              ": no such way of reading fields (general, scalar, sse, avx2 or avx512)";
    return false;
  }
  if (!use_field_path(p)) {
    message = "BRIX_FIELDS=" + std::string(name) +
              ": this processor lacks the instructions of that path; it can take " + paths;
    return false;
  }
  return true;
}

void write(Unit& unit, const Format& format, std::initializer_list<Value> values) {
  write(unit, format, std::span<const Value>(values.begin(), values.size()));
}

void write(Unit& unit, const Format& format, std::span<const Value> values) {
  int column = unit.length() + 1;  // a line left open by "$" goes on at the cursor
  bool dollar = false;
  std::size_t next = 0;
  for (const Descriptor& d : format.descriptors()) {
    if (d.is_data()) {
      for (int r = 0; r < d.repeat; ++r) {
        if (next == values.size()) goto finished;
        const Value& v = values[next++];
        switch (d.edit) {
          case Edit::kA:
            if (v.kind() != Value::Kind::kText) mismatch(format);
            unit.put(column, v.text());
            column += static_cast<int>(v.text().size());
            break;
          case Edit::kI:
            if (v.kind() != Value::Kind::kInteger) mismatch(format);
            put_integer(unit.place(column, d.w), d.w, v.integer());
            column += d.w;
            break;
          default:
            if (v.kind() != Value::Kind::kReal) mismatch(format);
            put_real(unit.place(column, d.w), d.w, d.d, v.real());
            column += d.w;
            break;
        }
      }
      continue;
    }
    switch (d.edit) {
      case Edit::kSlash:
        unit.end_line();
        column = 1;
        break;
      case Edit::kSkip:
        column += d.n;
        break;
      case Edit::kTab:
        column = d.n;
        break;
      case Edit::kText:
        unit.put(column, d.text);
        column += static_cast<int>(d.text.size());
        break;
      case Edit::kDollar:
        dollar = true;
        break;
      default:
        break;
    }
  }
finished:
  if (next != values.size()) mismatch(format);
  if (dollar) unit.hand_over();
  else unit.end_line();
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
