#include "import/time_axis.h"

#include <cmath>

#include "import/axes.h"

namespace brix::importer {
namespace {

// The time dimension among the variable's dimensions and its coordinate
// variable: the first with a coordinate of time; else the first, with a
// coordinate, that is unlimited or named like a time, so that a time
// variable whose units are not "UNIT since DATE" (such as "Month" or a bare
// "days") is not taken for another axis: the message names it.
std::pair<int, int> find_time_dimension(const Header& h, int var) {
  const std::vector<int>& dims = h.dims(var);
  for (std::size_t k = 0; k < dims.size(); ++k) {
    int cv = coordinate_of(h, dims[k]);
    if (cv >= 0 && axis_of(h, cv) == Axis::kTime) return {static_cast<int>(k), cv};
  }
  for (std::size_t k = 0; k < dims.size(); ++k) {
    std::string dname = lower(h.dim_name(dims[k]));
    int cv = coordinate_of(h, dims[k]);
    if (cv >= 0 && (dims[k] == h.unlimited || dname.find("time") != std::string::npos ||
                    dname == "t"))
      return {static_cast<int>(k), cv};
  }
  return {-1, -1};
}

// The bounds (or climatology bounds) of the time variable, when it names
// readable ones: each step's month is then the one that holds the middle of
// its interval. Stamps at the end of the averaging interval (January's mean
// at February 1) would otherwise put every month one late.
void place_by_bounds(Source& source, int tv, TimeAxis& t) {
  const Header& h = source.header();
  std::string name = h.text(tv, "bounds");
  const bool climatology = name.empty();
  if (climatology) name = h.text(tv, "climatology");
  if (name.empty()) return;
  t.climatology = climatology;
  auto unusable = [&](const std::string& why) {
    t.warnings.push_back("the time bounds " + name + " of " + source.path() + " " + why +
                         "; each step is placed by its time stamp");
    t.climatology = false;
  };
  int bv = h.variable(name);
  if (bv < 0) return unusable("do not exist");
  const std::vector<int>& dims = h.dims(bv);
  if (dims.size() != 2 || h.dimensions[static_cast<std::size_t>(dims[1])].length != 2 ||
      h.dims(tv)[0] != dims[0])
    return unusable("are not a pair of times for each step");
  std::vector<double> b;
  try {
    source.read(bv, b);
  } catch (const ReadError&) {
    return unusable("cannot be read");
  }
  TimeUnits units = t.units;
  if (std::string own = h.text(bv, "units"); !own.empty()) {
    std::string why;
    std::optional<TimeUnits> parsed = parse_time_units(own, units.calendar, &why);
    if (!parsed) return unusable("have units that are not \"UNIT since DATE\"");
    units = *parsed;
  }
  std::vector<double> fill = h.numbers(bv, "_FillValue");
  t.bounds_name = name;
  for (std::size_t k = 0; k < t.stamps.size(); ++k) {
    double lo = b[2 * k], hi = b[2 * k + 1];
    if ((!fill.empty() && (lo == fill[0] || hi == fill[0])) || !std::isfinite(lo) ||
        !std::isfinite(hi))
      continue;  // this step keeps the month of its stamp
    t.stamps[k].month =
        t.climatology ? first_span_month(units, lo, hi) : middle_month(units, lo, hi);
  }
}

}  // namespace

TimeAxis read_time_axis(Source& source, int var, const std::string& name) {
  const Header& h = source.header();
  TimeAxis t;
  auto [dim, tv] = find_time_dimension(h, var);
  if (dim < 0)
    throw Failure(name +
                  " has no time coordinate (a dimension with a variable of units "
                  "\"UNIT since DATE\", axis T or standard_name time)");
  t.dim = dim;
  const std::string units = h.text(tv, "units");
  std::vector<double> time;
  try {
    source.read(tv, time);
  } catch (const ReadError& e) {
    throw Failure("cannot read the time coordinate of " + source.path() + ": " + e.what());
  }
  t.calendar_name = h.text(tv, "calendar");
  if (t.calendar_name.empty()) t.calendar_name = "standard";
  std::optional<Calendar> calendar = parse_calendar(t.calendar_name);
  if (!calendar)
    throw Failure("calendar \"" + t.calendar_name + "\" of " + name +
                  "'s time is not one of standard, gregorian, proleptic_gregorian, julian, noleap, "
                  "365_day, all_leap, 366_day, 360_day");
  std::string why;
  std::optional<TimeUnits> parsed = parse_time_units(units, *calendar, &why);
  if (!parsed) {
    why = why.substr(why.find("\": ") + 3);
    bool form = why.find("expected") != std::string::npos;  // not "UNIT since DATE" at all
    throw Failure("the time variable " + h.name(tv) + " of " + name + " has units \"" + units +
                  "\"" + (form ? "" : " (" + why + ")") +
                  "; brix_import needs \"UNIT since DATE\", UNIT being days, hours, minutes or "
                  "seconds (such as \"days since 1850-01-01\")");
  }
  t.units = *parsed;
  std::vector<double> fill = h.numbers(tv, "_FillValue");
  t.stamps.resize(time.size());
  for (std::size_t k = 0; k < time.size(); ++k) {
    if (!fill.empty() && time[k] == fill[0]) time[k] = std::nan("");
    t.stamps[k].instant = seconds_of(t.units, time[k]);
    t.stamps[k].month = month_of(t.units, time[k]);
  }
  place_by_bounds(source, tv, t);
  return t;
}

}  // namespace brix::importer
