// From the values as stored to degrees Celsius: packing (scale_factor,
// add_offset), the values that mean "missing" (fill values, missing_value,
// outside the valid range), and the units that say whether the values are
// kelvin, degrees Celsius or something else.
#pragma once

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "import/source.h"

namespace brix::importer {

// What the values' units make of them.
enum class Scale { kCelsius, kKelvin, kOther };

// The scale of a unit text, in any letter case and with any blanks: "K",
// "Deg C", "degrees_celsius".
Scale scale_of(const std::string& units);

struct Unpacking {
  double scale = 1, offset = 0;  // packed value * scale + offset
  double celsius_offset = 0;     // added to the unpacked value: -273.15 for kelvin
  std::vector<double> missing;   // packed values that mean "missing"
  static constexpr double kInf = std::numeric_limits<double>::infinity();
  double raw_min = -kInf, raw_max = kInf;  // valid range of packed values
  double min = -kInf, max = kInf;          // valid range of unpacked values
  std::string units, file_units;           // as applied (the file's or those given), the file's
  Scale kind = Scale::kOther;

  // The value in degrees Celsius (for a temperature), NaN when it is missing.
  double celsius(double raw) const {
    double v = raw * scale + offset;
    bool lacking = std::isnan(raw) || raw < raw_min || raw > raw_max || v < min || v > max ||
                   std::find(missing.begin(), missing.end(), raw) != missing.end();
    return lacking ? std::nan("") : v + celsius_offset;
  }
};

// The unpacking of variable `var` (named `name` in messages); `units`, when
// not empty, stands for the variable's own. A unit neither kelvin nor
// Celsius gives a warning.
Unpacking read_unpacking(const Header& h, int var, const std::string& name,
                         const std::string& units, std::vector<std::string>& warnings);

}  // namespace brix::importer
