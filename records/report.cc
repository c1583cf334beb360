#include "records/report.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "records/lines.h"

namespace brix::records {
namespace {

// The request the run is at: the statement and unit of the last line that a
// read took, a write placed, or the last opening or closing. The report for
// a failure that is not a request's own (no memory) names it.
Statement current_statement = Statement::kWrite;
const Unit* current_unit = nullptr;

// Where the report and the stop write, and how they end the run.
int error_fd = STDERR_FILENO;
void (*end_run)(int status) = nullptr;

[[noreturn]] void end(int status) {
  if (end_run != nullptr) end_run(status);
  std::exit(status);
}

const char* statement_name(Statement s) {
  switch (s) {
    case Statement::kRead: return "READ";
    case Statement::kWrite: return "WRITE";
    case Statement::kOpen: return "OPEN";
    case Statement::kClose: return "CLOSE";
  }
  return "?";
}

}  // namespace

void note_request(Statement statement, const Unit* unit) {
  current_statement = statement;
  current_unit = unit;
}

void forget_request_unit(const Unit* unit) {
  if (current_unit == unit) current_unit = nullptr;
}

void end_runs_with(int fd, void (*end)(int status)) {
  error_fd = end != nullptr ? fd : STDERR_FILENO;
  end_run = end;
}

namespace {

[[noreturn]] void report_on(Statement statement, std::string_view unit, std::string_view message,
                            bool system_error) {
  Unit::file().close_quietly();
  // Built in place, without allocating: the report also ends a run that has
  // no memory left.
  char text[512];
  std::size_t n = 0;
  auto add = [&](std::string_view part) {
    part = part.substr(0, sizeof text - n);
    std::memcpy(text + n, part.data(), part.size());
    n += part.size();
  };
  add(system_error ? "? System Error:\n? " : "? Run-Time Error:\n? ");
  add(message.substr(0, 256));
  add("\n? ");
  add(statement_name(statement));
  add("(UNIT=");
  add(unit.substr(0, 16));
  add(",...\n");
  write_all(error_fd, text, n);
  end(255);
}

}  // namespace

void report(Statement statement, const Unit& unit, std::string_view message,
            bool system_error) {
  report_on(statement, unit.name(), message, system_error);
}

void report_no_memory() {
  // Before any request the run is at its first write, the welcome text; the
  // console is not made here, since making it takes memory.
  report_on(current_statement, current_unit != nullptr ? current_unit->name() : "*",
            kNoMemoryMessage, false);
}

void report_system(Statement statement, const Unit& unit, int error) {
  report(statement, unit, std::strerror(error), true);
}

void stop(std::string_view text) {
  if (text.size() > 1 || (text.size() == 1 && text[0] != ' ')) {
    std::string line(text);
    line += '\n';
    write_all(error_fd, line.data(), line.size());
  }
  Unit::file().close();
  end(0);
}

}  // namespace brix::records
