// Values that cannot be data: below absolute zero in a temperature (flags,
// such as sea ice's, not declared missing), and outside -5 to 45 degrees
// Celsius in a sea-surface temperature. They are taken as missing, and a
// warning says which they were.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "import/unpacking.h"

namespace brix::importer {

// The limits of the values that are data, in degrees Celsius, both included.
inline constexpr double kAbsoluteZero = -273.15;
inline constexpr double kSstMin = -5, kSstMax = 45;

// Values of one kind taken as missing, and the warning that says which
// they were: the five least values shown, with their cells and steps.
class Flags {
 public:
  Flags(std::string what, std::size_t cells) : what_(std::move(what)), cell_seen_(cells) {}
  void add(double v, std::size_t cell, std::size_t step);
  // "", or the warning.
  std::string warning() const;

 private:
  static constexpr std::size_t kShown = 5;
  struct Tally {
    std::set<std::size_t> cells;
    std::size_t steps = 0, values = 0, last_step = SIZE_MAX;
  };
  std::string what_;
  std::vector<char> cell_seen_;
  std::size_t values_ = 0, cells_ = 0, steps_ = 0, last_step_ = SIZE_MAX;
  std::map<double, Tally> by_value_;
};

// Checks the values of the region's cells at one step: those that cannot be
// data become NaN. Counts the values, and those in kelvin's range, so that
// a field labelled Celsius whose values are nearly all kelvin-like is found.
class Plausibility {
 public:
  // `temperature`: the values have a temperature's units; `sst`: they are a
  // sea-surface temperature.
  Plausibility(bool temperature, bool sst, std::size_t cells);
  // The values of cell c at step[at[c]], for each of the region's cells.
  void check(double* step, const std::vector<std::size_t>& at, std::size_t step_index);
  std::vector<std::string> warnings() const;
  // The share of values, in percent, in kelvin's range (170 to 350), when it
  // is 90 % or more under a Celsius label; else -1.
  long long kelvin_like_percent(Scale scale) const;

 private:
  bool temperature_, sst_;
  Flags below_zero_, off_range_;
  std::size_t values_ = 0, kelvin_like_ = 0;
};

}  // namespace brix::importer
