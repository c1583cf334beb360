// The means: each point's yearly mean in thousandths of a degree, read a
// year's steps at a time from the region's bounding rows and columns. At
// each step a point's value is the mean of its cells that hold one; a year's
// value is the mean of its steps; a point missing at any step used is
// missing at every one, and is left out.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "import/region.h"
#include "import/series.h"
#include "import/years.h"

namespace brix::importer {

struct Means {
  static constexpr std::int32_t kMissing = std::numeric_limits<std::int32_t>::min();
  static constexpr std::int32_t kTooWide = std::numeric_limits<std::int32_t>::max();
  std::size_t points = 0;
  // The mean of point p in year y (from the first) at [y * points + p], in
  // thousandths; kMissing, or kTooWide for a mean beyond the value field.
  std::vector<std::int32_t> milli;
  std::vector<char> kept;  // each point: 1 when it has a value at every step used
  int n_kept = 0;
  std::vector<std::string> warnings;  // values taken as missing
  double reading = 0, averaging = 0;  // processor seconds of the calling thread
};

// The yearly means of the selection's points over the years' steps. `ref`
// is the field whose grid the others share. Throws Failure for a twin step
// whose values differ from its own, for kelvin under a Celsius label, for a
// mean too wide for its field, and when no point is kept.
Means yearly_means(Series& series, const Years& years, const Selection& s, const Field& ref);

}  // namespace brix::importer
