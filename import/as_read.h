// The two files an import writes, as brix_eli reads them, without the
// files: each point's latitude and longitude and each year's values, the
// same single-precision numbers to the bit, made by formatting the lines
// the files would hold and reading them as brix_eli's readers do.
#pragma once

#include <cstdint>
#include <vector>

#include "import/importer.h"

namespace brix::importer {

struct AsRead {
  std::vector<float> lat, lon;  // of the points written, in their order
  std::vector<float> values;    // the value of point p in year y at [y * lat.size() + p]
  std::int32_t first_year = 0, n_years = 0;
  bool dateline = false;  // brix_eli's dateline answer
};

AsRead as_read(const Imported& d);

// A point's latitude and longitude as brix_eli reads them from its line of
// the coordinate file.
void read_coordinates(const Point& p, float& lat, float& lon);

}  // namespace brix::importer
