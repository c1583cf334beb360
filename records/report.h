// The run-time error report and the stop: the two ways a run ends.
#pragma once

#include <string_view>

#include "records/unit.h"

namespace brix::records {

// The run-time error report: every open file completed and closed, three
// lines on standard error ("? " and a header, the message, the statement and
// unit), exit status 255. system_error selects the header "System Error:".
[[noreturn]] void report(Statement statement, const Unit& unit,
                         std::string_view message, bool system_error = false);

// The message of the report for a run that cannot have the memory it needs.
inline constexpr std::string_view kNoMemoryMessage = "Buffer allocation failed";

// The run-time error report for a failed allocation: the statement is that of
// the request in progress (the last line read or written, the last opening or
// closing).
[[noreturn]] void report_no_memory();

// The run-time error report for an error number of the operating system.
[[noreturn]] void report_system(Statement statement, const Unit& unit, int error);

// For runs of the whole program in one process (a fuzzer): the report and
// the stop write their text to error_fd and then call end(status) instead of
// ending the process; end must not return (it throws). end nullptr restores
// the exit, with standard error.
void end_runs_with(int error_fd, void (*end)(int status));

// The stop: the stop text on standard error with an LF (nothing for an empty
// text or a single blank), every open file completed and closed, status 0.
[[noreturn]] void stop(std::string_view text);

}  // namespace brix::records
