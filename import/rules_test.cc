// The importer's rules on arrays in memory: years, region, units, fill
// values, values that cannot be data and the means, each case a dataset of
// monthly steps on a small rectilinear grid whose value at cell c in month t
// (t = 0 is 2000-01) is 20 + 0.1 t + 0.01 c unless the case says otherwise.
// A year's mean at cell c is then 20.55 + 1.2 (year - 2000) + 0.01 c.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "import/importer.h"
#include "import/memory_source.h"

namespace brix::importer {
namespace {

struct Dataset {
  std::vector<double> lat{-5, 0, 5.5}, lon{100, 200};
  int steps = 48;
  const char* var = "sst";  // text, not strings: GCC 12 misjudges their assignment at -O3
  const char* units = "degC";
  const char* time_units = "days since 2000-01-01";
  Type type = Type::kFloat;
  std::vector<Attribute> attributes;  // more of the variable's
  std::function<double(int t, int c)> value = [](int t, int c) { return 20 + 0.1 * t + 0.01 * c; };
  std::function<double(int t)> time = [](int t) { return 30.4375 * t + 14; };
  std::vector<Attribute> time_attributes;
};

Attribute text(const std::string& name, const std::string& v) { return {name, Type::kChar, v, {}}; }
Attribute numbers(const std::string& name, std::vector<double> v, Type t = Type::kFloat) {
  return {name, t, "", std::move(v)};
}

std::unique_ptr<Source> source_of(const Dataset& d) {
  Header h;
  const std::size_t nt = static_cast<std::size_t>(d.steps), ny = d.lat.size(), nx = d.lon.size();
  h.dimensions = {{"time", nt}, {"lat", ny}, {"lon", nx}};
  h.unlimited = 0;
  h.variables = {
      {"time", Type::kDouble, {0}, {text("units", d.time_units)}},
      {"lat", Type::kDouble, {1}, {text("units", "degrees_north")}},
      {"lon", Type::kDouble, {2}, {text("units", "degrees_east")}},
      {d.var, d.type, {0, 1, 2}, d.attributes},
  };
  for (const Attribute& a : d.time_attributes) h.variables[0].attributes.push_back(a);
  if (*d.units != 0) h.variables[3].attributes.push_back(text("units", d.units));
  auto s = std::make_unique<MemorySource>("memory", h);
  std::vector<double> time, values;
  for (int t = 0; t < d.steps; ++t) time.push_back(d.time(t));
  for (int t = 0; t < d.steps; ++t)
    for (int c = 0; c < static_cast<int>(ny * nx); ++c) values.push_back(d.value(t, c));
  s->set_values(0, time);
  s->set_values(1, d.lat);
  s->set_values(2, d.lon);
  s->set_values(3, values);
  return s;
}

// What the import made, as "left out: YEAR ...; points: LAT/LON ...; YEAR:
// MILLI ... (each year); dateline y|n; warnings: ...", or "failure: MESSAGE".
std::string imported(const Dataset& d, const std::string& args) {
  std::vector<std::string> words{"brix_import"};
  std::istringstream in(args + " memory");
  for (std::string w; in >> w;) words.push_back(w);
  std::vector<const char*> argv;
  for (const std::string& w : words) argv.push_back(w.c_str());
  try {
    Options o = parse_command_line(static_cast<int>(argv.size()), argv.data()).options;
    Imported r = import_dataset(o, [&](const std::string&) { return source_of(d); });
    std::ostringstream out;
    out << "left out:";
    for (int y : r.report.incomplete) out << ' ' << y;
    out << "; points:";
    for (std::size_t p = 0; p < r.means.points; ++p)
      if (r.means.kept[p]) out << ' ' << r.selection.points[p].lat << '/' << r.selection.points[p].lon;
    for (int y = r.report.first_year; y <= r.report.last_year; ++y) {
      out << "; " << y << ':';
      for (std::size_t p = 0; p < r.means.points; ++p)
        if (r.means.kept[p]) out << ' ' << r.means.milli[(y - r.report.first_year) * r.means.points + p];
    }
    out << "; dateline " << (r.report.dateline ? 'y' : 'n') << "; warnings:";
    for (const std::string& w : r.report.warnings) out << ' ' << w << '.';
    return out.str();
  } catch (const std::exception& e) {
    return std::string("failure: ") + e.what();
  }
}

struct Case {
  const char* what;
  std::function<void(Dataset&)> change;
  const char* args;
  const char* expected;  // a piece of what imported() gives, or its end before a "$"
};

TEST(Rules, EachCaseGivesItsPointsMeansAndWarnings) {
  auto no_change = [](Dataset&) {};
  auto value_at = [](int ct, int cc, double v) {
    return [=](Dataset& d) {
      d.value = [=](int t, int c) { return t == ct && c == cc ? v : 20 + 0.1 * t + 0.01 * c; };
    };
  };
  // Sea ice's -1000 at cells 1 and 2 in months 3 to 5, and 50 to 56 at cell
  // 4 in months 7 to 13.
  auto flagged = [](Dataset& d) {
    d.var = "tos";
    d.lat = {-5, 0, 5};
    d.value = [](int t, int c) {
      if (t >= 3 && t <= 5 && (c == 1 || c == 2)) return -1000.0;
      return t >= 7 && t <= 13 && c == 4 ? 43.0 + t : 20 + 0.1 * t + 0.01 * c;
    };
  };
  auto years_of_one_step = [](Dataset& d) {  // a step a year, from year 1 to 2501
    d.steps = 2501;
    d.time_units = "days since 0001-01-15";
    d.time_attributes = {text("calendar", "noleap")};
    d.time = [](int t) { return 365.0 * t; };
    d.value = [](int, int) { return 20.0; };
  };
  const Case cases[] = {
      {"the band by default, both limits included", no_change, "",
       "points: -5/100 -5/200 0/100 0/200; 2000: 20550 20560 20570 20580; 2001: 21750"},
      {"a wider region", no_change, "--lat -90:90 --lon 150:250", "points: -5/200 0/200 5.5/200;"},
      {"a year inside the range lacks a month", [](Dataset& d) {
         d.steps = 36;
         d.time = [](int t) { return 30.4375 * (t == 14 ? 13 : t) + 14 + (t == 14 ? 5 : 0); };
       }, "", "failure: year 2001 lacks a time step in month 3, one of its months 1-12"},
      {"years without all their months at either end are left out",
       [](Dataset& d) { d.time = [](int t) { return 30.4375 * (t + 2) + 14; }; d.steps = 34; },
       "", "points: -5/100 -5/200 0/100 0/200; 2001: 21550 21560 21570 21580; 2002: 22750"},
      {"four years give no warning", no_change, "", "2003: 24150 24160 24170 24180; dateline n; warnings:$"},
      {"three years warn", [](Dataset& d) { d.steps = 36; }, "",
       "warnings: only 3 years written: brix_eli's spline needs 4 years or more"},
      {"kelvin", [](Dataset& d) { d.units = "K"; d.value = [](int, int) { return 300.0; }; }, "",
       "2000: 26850 26850 26850 26850;"},
      {"kelvin under a Celsius label", [](Dataset& d) { d.value = [](int, int) { return 300.0; }; },
       "", "failure: sst is labelled \"degC\", but 100 % of its values in the region lie between "
           "170 and 350"},
      {"units given stand for the file's",
       [](Dataset& d) { d.value = [](int, int) { return 300.0; }; }, "--units K", "2000: 26850"},
      {"a fill value at one step leaves its cell out", [](Dataset& d) {
         d.attributes = {numbers("_FillValue", {-99})};
         d.value = [](int t, int c) { return t == 3 && c == 1 ? -99 : 20 + 0.1 * t + 0.01 * c; };
       }, "", "points: -5/100 0/100 0/200;"},
      {"the limits of valid_range are data, beyond them not", [](Dataset& d) {
         d.attributes = {numbers("valid_range", {0, 30})};
         d.value = [](int t, int c) { return c == 0 ? 30.0 : c == 1 ? 30.001 : c == 2 && t == 5 ? 0.0 : 25; };
       }, "", "points: -5/100 0/100 0/200; 2000: 30000 22917 25000;"},
      {"packed values unpacked by their scale and offset", [](Dataset& d) {
         d.type = Type::kShort;
         d.attributes = {numbers("scale_factor", {0.01}, Type::kFloat), numbers("add_offset", {20})};
         d.value = [](int, int c) { return 100.0 * c; };
       }, "", "2000: 20000 21000 22000 23000;"},
      {"an SST of 45 and of -5 is data",
       [](Dataset& d) { d.value = [](int, int c) { return c == 0 ? 45.0 : -5.0; }; }, "",
       "2000: 45000 -5000 -5000 -5000;"},
      {"an SST beyond 45 is not", value_at(3, 0, 45.001), "",
       "points: -5/200 0/100 0/200; 2000: 20560 20570 20580; 2001: 21760 21770 21780; 2002: 22960 "
       "22970 22980; 2003: 24160 24170 24180; dateline n; warnings: 1 value outside -5 to 45 "
       "degrees Celsius, which no sea-surface temperature reaches, taken as missing (1 cell, 1 time "
       "step): 45.001 in 1 cell at 1 time step.$"},
      {"another temperature may be 50, not below absolute zero", [](Dataset& d) {
         d.var = "ta";
         d.value = [](int t, int c) { return c == 1 ? 50.0 : t == 2 && c == 2 ? -300 : 20; };
       }, "--var ta", "points: -5/100 -5/200 0/200; 2000: 20000 50000 20000; 2001: 20000 50000 "
                      "20000; 2002: 20000 50000 20000; 2003: 20000 50000 20000; dateline n; "
                      "warnings: 1 value below absolute zero (flags, such as sea ice's, not declared "
                      "missing) taken as missing (1 cell, 1 time step): -300 in 1 cell at 1 time "
                      "step.$"},
      {"flags and impossible values of an SST, each said with the first five values", flagged,
       "--var tos", "points: -5/100 0/200 5/200; 2000: 20550 20580 20600; 2001: 21750 21780 "
       "21800; 2002: 22950 22980 23000; 2003: 24150 24180 24200; dateline n; warnings: 6 values below absolute zero (flags, such "
       "as sea ice's, not declared missing) taken as missing (2 cells, 3 time steps): -1000 in 2 "
       "cells at 3 time steps. 7 values outside -5 to 45 degrees Celsius, which no sea-surface "
       "temperature reaches, taken as missing (1 cell, 7 time steps): 50 in 1 cell at 1 time step, "
       "51 in 1 cell at 1 time step, 52 in 1 cell at 1 time step, 53 in 1 cell at 1 time step, 54 "
       "in 1 cell at 1 time step, and other values.$"},
      {"as another temperature, only the flags", [&](Dataset& d) { flagged(d); d.var = "ta"; },
       "--var ta", "points: -5/100 0/200 5/100 5/200; 2000: 20550 20580 33532 20600;"},
      {"a season across the year end takes December from the year before", no_change,
       "--months 12-2", "left out: 2000 2004; points: -5/100 -5/200 0/100 0/200; 2001: 21200 "
       "21210 21220 21230; 2002: 22400 22410 22420 22430; 2003: 23600"},
      {"a list that wraps round is such a season", no_change, "--months 10,11,12,1", "2001: 21050"},
      {"a season with a month missing between complete ones", [](Dataset& d) {
         d.time = [](int t) { return 30.4375 * (t == 25 ? 24 : t) + 14 + (t == 25 ? 5 : 0); };
       }, "--months 12-2", "failure: year 2002 lacks a time step in 2002-02, one of its months 12-2"},
      {"months wrapping round elsewhere than at December", no_change, "--months 2,1",
       "failure: --months 2,1 names months in an order that makes no year: write the months of "
       "one year in increasing order, or a season across the year end up to December and on from "
       "January; here 1,2 (January to February of one year)"},
      {"months out of order", no_change, "--months 1,12,2",
       "here 1,2,12 (January to February, December of one year) or 12,1,2 (December of the year "
       "before, then January to February)"},
      {"a month twice", no_change, "--months 6-8,7", "failure: --months 6-8,7 names a month twice"},
      {"more points than brix_eli takes, and the advice", [](Dataset& d) {
         d.lat = {-1, 1};
         d.value = [](int, int) { return 20.0; };
         d.lon.clear();
         for (int k = 0; k <= 6000; ++k) d.lon.push_back(k * 5e-2);
       }, "", "failure: 12002 grid points to write, more than the 12000 brix_eli takes: choose a "
              "narrower region with --lat or --lon (now 2 latitudes by 6001 longitudes; 6000 "
              "longitudes, about 300 degrees, fit at these latitudes), or average blocks of cells "
              "with --coarsen 2 (the smallest that fits: 3001 points)"},
      {"more years than brix_eli takes", years_of_one_step, "--months 1",
       "failure: 2501 years to write (1 to 2501), more than the 2500 brix_eli takes"},
      {"as many as it takes", years_of_one_step, "--months 1 --years 2:2501", "; 2501: 20000"},
      {"blocks of 2 by 2", no_change, "--coarsen 2 --lat -90:90",
       "points: -2.5/150 5.5/150; 2000: 20565 20595;"},
      {"longitudes across the dateline", [](Dataset& d) { d.lon = {170, -170}; }, "",
       "dateline y"},
      {"a longitude stored as 0 and 360 is one point",
       [](Dataset& d) { d.lon = {0, 360}; }, "", "points: -5/0 0/0;"},
      {"the year field's limits", [](Dataset& d) { d.time_units = "days since 99999-01-01"; d.steps = 12; },
       "", "99999: 20550"},
      {"beyond them", [](Dataset& d) { d.time_units = "days since -10000-01-01"; d.steps = 12; },
       "", "failure: year -10000 does not fit the 5 columns of brix_eli's year field"},
      {"a fill value in the time axis is no step", [](Dataset& d) {  // else two steps in 2001-05
         d.time_attributes = {numbers("_FillValue", {501}, Type::kDouble)};
         d.time = [](int t) { return t == 23 ? 501 : 30.4375 * t + 14; };
         d.steps = 24;
       }, "", "points: -5/100 -5/200 0/100 0/200; 2000: 20550 20560 20570 20580; dateline n"},
  };
  for (const Case& c : cases) {
    Dataset d;
    c.change(d);
    const std::string whole = imported(d, c.args), expected = c.expected;
    const std::string got = whole.size() > 2000 ? whole.substr(0, 900) + " ... " +
                                                      whole.substr(whole.size() - 900)
                                                : whole;
    if (expected.ends_with('$'))  // the end of what it gives
      EXPECT_TRUE(got.ends_with(expected.substr(0, expected.size() - 1))) << c.what << ":\n" << got;
    else
      EXPECT_NE(got.find(expected), std::string::npos) << c.what << ":\n" << got;
  }
}

}  // namespace
}  // namespace brix::importer
