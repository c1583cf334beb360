// brix_eli: warm points of the equatorial band in a gridded SST
// reconstruction, year by year, with smoothed series. Takes no options: the
// whole analysis comes from the console dialogue and the two input files.
#include <csignal>

#include "app/run.h"

int main() {
  // A closed or broken standard output must end the run through the error
  // report, with the output files completed, rather than by a signal.
  std::signal(SIGPIPE, SIG_IGN);
  brix::app::run();
}
