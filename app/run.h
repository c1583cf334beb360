// The run from the welcome text to the stop.
#pragma once

#include "input/reconstruction.h"

namespace brix::app {

// Runs the whole analysis on the console, reading the year records and
// working out the yearly statistics as `mode` says (its threads serve both);
// ends the process through the stop or the run-time error report and never
// returns.
[[noreturn]] void run(const input::ReadMode& mode);

}  // namespace brix::app
