#include "input/reconstruction.h"

#include <sys/mman.h>

#include <string>

#include "records/request.h"

namespace brix::input {

using records::Format;
using records::Handles;
using records::Outcome;
using records::Target;

namespace {
// A record beyond the capacity is read here, only to learn whether the file
// really holds one more year.
float overflow_row[max_points];

// Asks the system to back sst with huge pages where it can; a hint only.
void prefer_huge_pages(float* sst, std::size_t count) {
#ifdef MADV_HUGEPAGE
  ::madvise(sst, count * sizeof(float), MADV_HUGEPAGE);
#else
  (void)sst;
  (void)count;
#endif
}

}  // namespace

void read_reconstruction(records::Unit& file, records::Unit& console, RunData& data) {
  static const Format kHeader("(a)");
  static const Format kYear("(i5,12000f10.3)");
  static const Format kEcho("(/1x,'Recon data read in: ',3i6)");

  prefer_huge_pages(data.sst, sizeof data.sst / sizeof data.sst[0]);
  records::TextField<80> recon_header;
  records::read(file, kHeader, {Target::text(recon_header)}, Handles::kNeither);

  std::int32_t year = 0;
  int r = 1;
  for (;;) {
    float* slot = r <= max_years ? &data.sst_at(r, 1) : overflow_row;
    std::ptrdiff_t stride = r <= max_years ? max_years : 1;
    Outcome outcome = records::read(
        file, kYear, {Target::integer(year), Target::reals(slot, data.n_points, stride)},
        Handles::kErrorsAndEnd);
    if (outcome == Outcome::kEnd) break;
    if (outcome == Outcome::kError) continue;  // the next line takes this slot
    if (r > max_years) {
      records::report(records::Statement::kRead, file,
                      "Too many year records (more than " + std::to_string(max_years) + ")");
    }
    if (r == 1) data.first_year = year;
    ++r;
  }
  data.n_years = r - 1;
  data.last_year = data.first_year + r - 2;
  records::write(console, kEcho, {data.first_year, data.last_year, data.n_years});
  file.close();
}

}  // namespace brix::input
