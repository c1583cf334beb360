// The files an import writes: the coordinate file (a point a line, latitude
// then longitude), the reconstruction file (a header line, then a year
// record a year), and the summary as JSON when asked for. They are staged
// and put in place together, or not at all.
#pragma once

#include <string>

#include "import/importer.h"
#include "import/means.h"
#include "import/region.h"

namespace brix::importer {

// The reconstruction file's header line (without its LF): where the values
// came from and how they were taken.
std::string header_line(const Options& o, const Report& r);

// A point's line of the coordinate file: "LAT LON\n", each the shortest text
// of its single-precision value.
std::string coordinate_line(const Point& p);

// Year y's record (from 0), with its LF, into `line` (room for
// year_line_length(n_kept) + 1 characters); `row` is room for the values.
// Returns the characters written.
std::size_t year_record(const Report& r, const Means& m, std::size_t y, char* line,
                        std::vector<std::int32_t>& row);

// Writes the files of the points kept; `json`, when options.summary_json is
// set, is the summary to write there. Throws Failure, leaving every file as
// it was.
void write_outputs(const Options& o, const Report& r, const Selection& s, const Means& m,
                   const std::string& json);

}  // namespace brix::importer
