// The run from the welcome text to the stop.
#pragma once

namespace brix::app {

// Runs the whole analysis on the console; ends the process through the stop
// or the run-time error report and never returns.
[[noreturn]] void run();

}  // namespace brix::app
