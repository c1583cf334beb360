// brix_eli: warm points of the equatorial band in a gridded SST
// reconstruction, year by year, with smoothed series. Takes no options: the
// whole analysis comes from the console dialogue and the two input files.
#include <csignal>
#include <cstdio>
#include <new>
#include <string>

#include "app/run.h"
#include "input/reconstruction.h"
#include "input/year_record.h"
#include "records/report.h"
#include "records/unit.h"

int main() {
  // BRIX_FIELDS chooses how year records' fields are read (for measuring and
  // testing each way); a way this processor lacks ends the run before the
  // dialogue starts.
  brix::input::ReadMode mode = brix::input::ReadMode::from_environment();
  std::string problem;
  if (!brix::input::field_kernel_from_environment(mode.kernel, problem)) {
    std::fprintf(stderr, "brix_eli: %s\n", problem.c_str());
    return 2;
  }
  // A closed or broken standard output must end the run through the error
  // report, with the output files completed, rather than by a signal.
  std::signal(SIGPIPE, SIG_IGN);
  // Memory that cannot be had, wherever on the calling thread (the workers
  // carry their failures back to it), ends the run with the report.
  try {
    brix::app::run(mode);
  } catch (const std::bad_alloc&) {
    brix::records::report_no_memory();
  }
}
