// The reconstruction data file: a header line, then one line per year with
// the year and one value per grid point.
#pragma once

#include <cstddef>

#include "input/run_data.h"
#include "input/year_record.h"
#include "records/unit.h"

namespace brix::input {

// How the year records are read. A regular file is read in blocks of
// block_bytes on `threads` threads; with threads 0, and for any input that is
// not a regular file (a pipe, a FIFO, a terminal), line after line through
// the unit. Both give the same records, with every field kernel.
struct ReadMode {
  int threads = 0;
  std::size_t block_bytes = std::size_t{1} << 20;
  FieldKernel kernel = widest_field_kernel();  // BRIX_FIELDS

  // Reading on records::worker_threads() threads, with the widest kernel.
  static ReadMode from_environment();
};

// Reads the header line and every year record of the file open on `file`,
// keeping the values of the band read_coordinates found in band_sst, sets
// first_year, last_year and n_years, echoes them on `console` and closes the
// file. Unreadable year lines are skipped, in the band or not, and their slot
// is reused. More than max_years records end the run with the run-time error
// report.
void read_reconstruction(records::Unit& file, records::Unit& console, RunData& data,
                         const ReadMode& mode);

}  // namespace brix::input
