// What brix_eli's two input files hold, read by brix_eli's own readers as
// a run reads them: for programs that record a run (the workflow's
// brix_run), which must not read them another way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "input/reconstruction.h"

namespace brix::input {

struct InputFacts {
  std::int32_t points = 0, band_points = 0;
  std::int32_t first_year = 0, last_year = 0, years = 0;
};

// The facts of the coordinate file (pairs in `order`: 1 lat lon, 2 lon lat)
// and the reconstruction file, or nullopt when one cannot be opened. The
// readers' own failures (more points or years than brix_eli takes, a file
// that cannot be read) end the process with the run-time error report, as
// they end a run.
std::optional<InputFacts> describe_inputs(const std::string& xy, const std::string& recon,
                                          int order, const ReadMode& mode);

}  // namespace brix::input
