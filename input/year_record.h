// The year records of the reconstruction file: their layout, the ways their
// fields can be read, and the reading of one record into a row of the band.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "records/format.h"
#include "records/read.h"
#include "records/year_layout.h"

namespace brix::input {

// The layout of a year record (records/year_layout.h), under the names its
// readers and brix_import take it by.
using records::kValueDecimals;
using records::kValueWidth;
using records::kYearWidth;
using records::year_line_length;

// The format of a year record, "(i5,12000f10.3)": what every way of reading
// one must give the same outcome, year and bits as.
const records::Format& year_format();

// The kernels that read the values of year records, chosen by BRIX_FIELDS
// (under the names below). Every kernel gives the same outcome and the same
// bits as the general one for every field: a fast kernel takes only the
// fields in plain form it can decide, and leaves any other to the general
// reading.
//   general  every field the general way (strip blanks, then convert)
//   scalar   plain "f10.3" fields with 64-bit integer arithmetic
//   sse      plain "f10.3" fields one at a time with SSE4.2
//   avx2     fields checked sixteen at a time with AVX2, kept values converted
//            eight at a time, the rest as sse
//   avx512   kept values six fields at a time with AVX-512 (VBMI), the rest as sse
enum class FieldKernel { kGeneral, kScalar, kSse, kAvx2, kAvx512 };
inline constexpr FieldKernel kFieldKernels[] = {FieldKernel::kGeneral, FieldKernel::kScalar,
                                                FieldKernel::kSse, FieldKernel::kAvx2,
                                                FieldKernel::kAvx512};

std::string_view field_kernel_name(FieldKernel kernel);
// The kernel of that name; false for a name no kernel has.
bool field_kernel_named(std::string_view name, FieldKernel& kernel);
// Whether this build and this processor can take the kernel.
bool field_kernel_available(FieldKernel kernel);
// Those kernels, from the general one to the widest.
std::vector<FieldKernel> available_field_kernels();
// The widest kernel available: the one a run takes unless told otherwise.
FieldKernel widest_field_kernel();
// The kernel named by BRIX_FIELDS, or the widest when it is not set: false,
// with the reason in message, for a name no kernel has or a kernel this
// processor lacks.
bool field_kernel_from_environment(FieldKernel& kernel, std::string& message);

// The values of a year record: n_points of them, of which those with keep[k]
// not 0 (n_kept of them) are stored.
struct KeptPoints {
  int n_points = 0;
  const std::uint8_t* keep = nullptr;
  int n_kept = 0;
};

// Reads one year record from a line as the unit gives it (CRs removed, tabs
// expanded) with the kernel: the year, and the kept values one after another
// from row, exactly as records::read_line takes the line with year_format().
// kDone or kError; after an error the row holds the kept values before the
// failing field, and the places of later ones may have been written. Nothing
// is written past the n_kept places of row. Safe to call from several
// threads at once. With `plain`, also tells whether the record was read
// whole (kDone) with every column of the line, each field in plain form: the
// line then holds no LF, CR or tab, and reads the same as the line the unit
// would cut from the same bytes. (kDone alone tells less: a field of "NaN"
// or "Inf" reads whatever follows.)
records::Outcome read_year_record(std::string_view line, const KeptPoints& fields,
                                  FieldKernel kernel, std::int32_t& year, float* row,
                                  bool* plain = nullptr);

}  // namespace brix::input
