// The years: which years the steps of the chosen months make complete, and
// the steps of each. A season across the year end is labelled by the year
// of its last month, and its months up to December are taken from the year
// before. brix_eli needs years that follow each other, so a year that lacks
// a month is left out only at either end of the range.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "import/seasons.h"
#include "import/series.h"

namespace brix::importer {

struct Years {
  int first = 0, last = 0;
  // The steps of each year from first to last in the chosen months, in time
  // order, as places in the series' steps.
  std::vector<std::vector<std::size_t>> steps;
  std::vector<int> incomplete;  // years of the range left out for a missing month
  std::vector<std::vector<YearMonth>> lacking;  // of each of them, the months without a step
  bool fewer_than_asked = false;  // the years written are fewer than --years asked for
  std::vector<std::string> warnings;
};

// The complete years of the season among the series' steps, within `asked`
// (every one when it is not given). Throws Failure when there is none, when
// a year inside the range lacks a month, or when they do not fit brix_eli.
Years select_years(const Series& s, const Season& season,
                   const std::optional<std::array<int, 2>>& asked);

}  // namespace brix::importer
