// What a variable of a dataset is a coordinate of: a latitude, a longitude
// or a time, by its units or standard_name; and the coordinate variable of a
// dimension.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "import/source.h"

namespace brix::importer {

enum class Axis { kOther, kLat, kLon, kTime };

// A latitude is known by its units (degrees_north and its spellings) or its
// standard_name, never by its axis alone: the grid latitudes of a rotated
// pole have axis Y too. Coordinates in radians count when, without a
// standard_name, their name says which they are.
Axis axis_of(const Header& h, int var);

// The coordinate variable of a dimension: the one of its name over it
// alone, else another one-dimensional variable over it that says what it
// is; -1 when there is none.
int coordinate_of(const Header& h, int dim);

// Text in lower case; and without blanks too, so that the unit "Deg C" is "degc".
std::string lower(std::string s);
std::string squeezed(const std::string& s);
bool one_of(const std::string& s, std::initializer_list<std::string_view> names);
bool radians(const std::string& units);

}  // namespace brix::importer
