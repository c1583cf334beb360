#include "input/year_record.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "input/capacity.h"
#include "input/year_plain.h"
#include "records/plain.h"

namespace brix::input {

using records::Outcome;

namespace {

// The reader of groups of fields of the kernel, where it has one and the
// processor the instructions; null elsewhere.
PlainFields plain_fields_of(FieldKernel kernel) {
  static const PlainFields avx512 = plain_fields_avx512();
  static const PlainFields avx2 = plain_fields_avx2();
  if (kernel == FieldKernel::kAvx512) return avx512;
  if (kernel == FieldKernel::kAvx2) return avx2;
  return nullptr;
}

// Fields read one at a time after a group reader stops, before it is tried
// again: at least a group's worth.
constexpr int kFieldsAlone = 16;

// Reads plain value fields one at a time with parse, which may read
// `readable` bytes from a field's start, from field k on while k < until:
// stops at the first field it cannot decide, with k and pos there.
template <bool (*parse)(const char*, std::uint64_t&, bool&), std::size_t readable>
void plain_run(std::string_view line, std::size_t& pos, int& k, int until, float*& out,
               const std::uint8_t* keep) {
  for (; k < until && pos + readable <= line.size(); ++k) {
    std::uint64_t m;
    bool negative;
    if (!parse(line.data() + pos, m, negative)) break;
    // A field of that form always reads: one that is not kept needs no value.
    if (keep[k] != 0) {
      if (!plain_value(m, kValueDecimals, negative, *out)) break;
      ++out;
    }
    pos += kValueWidth;
  }
}

}  // namespace

const records::Format& year_format() {
  // "(i5,12000f10.3)", from the layout and the capacity of points.
  static const records::Format format("(i" + std::to_string(kYearWidth) + "," +
                                      std::to_string(max_points) + "f" +
                                      std::to_string(kValueWidth) + "." +
                                      std::to_string(kValueDecimals) + ")");
  return format;
}

Outcome read_year_record(std::string_view line, const KeptPoints& fields, FieldKernel kernel,
                         std::int32_t& year, float* row, bool* plain) {
  if (plain != nullptr) *plain = false;
  std::size_t pos = 0;
  if (!records::read_integer_field(line, pos, kYearWidth, year)) return Outcome::kError;
  // Whether every field so far was read in plain form.
  bool plain_fields = kernel != FieldKernel::kGeneral;
  const int n = fields.n_points;
  const std::uint8_t* keep = fields.keep;
  const PlainFields groups = plain_fields_of(kernel);
  float* out = row;
  float dropped;  // receives the fields that are not kept
  int k = 0;
  while (k < n) {
    // Groups of fields where the kernel can; after them the fields one at
    // a time: all the rest, or kFieldsAlone before groups are tried again.
    int until = n;
    if (groups != nullptr) {
      const std::size_t readable = pos < line.size() ? line.size() - pos : 0;
      const int done = groups(line.data() + pos, readable, n - k, keep + k, out);
      k += done;
      pos += static_cast<std::size_t>(kValueWidth) * static_cast<std::size_t>(done);
      if (k == n) break;
      until = std::min(n, k + kFieldsAlone);
    }
    // Plain fields one at a time: 16 bytes readable for the vector reading,
    // the field itself for the scalar one.
    if (kernel != FieldKernel::kGeneral) {
#ifdef BRIX_PLAIN_SIMD
      if (kernel != FieldKernel::kScalar)
        plain_run<parse_plain_10_3, 16>(line, pos, k, until, out, keep);
      else
#endif
        plain_run<parse_plain_10_3_scalar, kValueWidth>(line, pos, k, until, out, keep);
      if (k == until) continue;
    }
    // Past the line's end every field is empty, and an empty field reads 0:
    // the kept values still to come are zeros (a short line, or fields of
    // points the line does not reach).
    if (kernel != FieldKernel::kGeneral && pos >= line.size()) {
      std::fill(out, row + fields.n_kept, 0.0f);
      plain_fields = false;
      break;
    }
    // Any other field: in another plain form (without its point, say), or
    // through the general reading.
    const bool stored = keep[k] != 0;
    float& value = stored ? *out : dropped;
    if (kernel != FieldKernel::kGeneral && pos + kValueWidth <= line.size() &&
        records::get_real_plain(line.data() + pos, kValueWidth, kValueDecimals, value)) {
      pos += kValueWidth;
    } else {
      plain_fields = false;
      if (!records::read_real_field(line, pos, kValueWidth, kValueDecimals, value))
        return Outcome::kError;
    }
    if (stored) ++out;
    ++k;
  }
  // A year that reads holds only blanks, a sign and digits.
  if (plain != nullptr) *plain = plain_fields && pos == line.size();
  return Outcome::kDone;
}

std::string_view field_kernel_name(FieldKernel p) {
  switch (p) {
    case FieldKernel::kGeneral: return "general";
    case FieldKernel::kScalar: return "scalar";
    case FieldKernel::kSse: return "sse";
    case FieldKernel::kAvx2: return "avx2";
    case FieldKernel::kAvx512: return "avx512";
  }
  return "?";
}

bool field_kernel_named(std::string_view name, FieldKernel& p) {
  for (FieldKernel each : kFieldKernels)
    if (field_kernel_name(each) == name) return p = each, true;
  return false;
}

bool field_kernel_available(FieldKernel p) {
  switch (p) {
    case FieldKernel::kGeneral:
    case FieldKernel::kScalar:
      return true;
    case FieldKernel::kSse:
#ifdef BRIX_PLAIN_SIMD
      return true;
#else
      return false;
#endif
    case FieldKernel::kAvx2:
    case FieldKernel::kAvx512:
      return plain_fields_of(p) != nullptr;
  }
  return false;
}

std::vector<FieldKernel> available_field_kernels() {
  std::vector<FieldKernel> kernels;
  for (FieldKernel k : kFieldKernels)
    if (field_kernel_available(k)) kernels.push_back(k);
  return kernels;
}

FieldKernel widest_field_kernel() {
  for (FieldKernel p : {FieldKernel::kAvx512, FieldKernel::kAvx2, FieldKernel::kSse})
    if (field_kernel_available(p)) return p;
  return FieldKernel::kScalar;
}

bool field_kernel_from_environment(FieldKernel& kernel, std::string& message) {
  kernel = widest_field_kernel();
  const char* name = std::getenv("BRIX_FIELDS");
  if (name == nullptr) return true;
  FieldKernel named;
  if (!field_kernel_named(name, named)) {
    message = "BRIX_FIELDS=" + std::string(name) +
              ": no such way of reading fields (general, scalar, sse, avx2 or avx512)";
    return false;
  }
  if (!field_kernel_available(named)) {
    std::string kernels;  // those this processor has
    for (FieldKernel each : available_field_kernels())
      kernels += (kernels.empty() ? "" : ", ") + std::string(field_kernel_name(each));
    message = "BRIX_FIELDS=" + std::string(name) +
              ": this processor lacks the instructions of that path; it can take " + kernels;
    return false;
  }
  kernel = named;
  return true;
}

}  // namespace brix::input
