// Time placement: the time coordinate of a variable, its calendar and units,
// and the calendar month each of its steps belongs to, by its time bounds
// when it has them, else by its time stamp.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "import/calendar.h"
#include "import/source.h"

namespace brix::importer {

// A time step: the calendar month it belongs to (none when its time is
// missing or out of reach), and its time in seconds from day 0 of the
// calendar, which orders steps of files whose units differ.
struct Stamp {
  std::optional<YearMonth> month;
  double instant = 0;
};

struct TimeAxis {
  int dim = -1;  // the time dimension's place among the variable's dimensions
  // One stamp a step. A step belongs to the month that holds the middle of
  // its bounds when the time variable has them (for climatology bounds, the
  // middle of the first year's span), else to the month its time falls in.
  std::vector<Stamp> stamps;
  TimeUnits units;
  std::string calendar_name;
  std::string bounds_name;  // empty: time stamps used
  bool climatology = false;
  std::vector<std::string> warnings;  // bounds that could not be used
};

// The time axis of variable `var` (named `name` in messages) of the source.
// Throws Failure when it has none, or none that can be read.
TimeAxis read_time_axis(Source& source, int var, const std::string& name);

}  // namespace brix::importer
