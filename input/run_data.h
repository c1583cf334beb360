// The program-wide input data: the dialogue's answers, the grid points and
// the reconstruction matrix, with their fixed capacities.
#pragma once

#include <cstddef>
#include <cstdint>

#include "records/request.h"

namespace brix::input {

inline constexpr int max_points = 12000;  // grid points, and values per year record
inline constexpr int max_years = 2500;    // year records
inline constexpr std::size_t kHugePage = std::size_t{2} << 20;

struct RunData {
  records::TextField<80> file_name;
  std::int32_t coord_order = 0;
  std::int32_t n_points = 0;
  float grid_lat[max_points];
  float grid_lon[max_points];
  records::TextField<1> dateline_answer;
  // The values of one grid point for all year slots lie together: element
  // (y, p), both counted from 1, is at (p - 1) * max_years + (y - 1).
  // Aligned to a huge page, so that the matrix can be mapped with huge pages
  // (the reconstruction reader asks for them): a year record writes one value in each of
  // n_points columns 10,000 bytes apart, which with small pages would miss the
  // address translation cache at nearly every value.
  alignas(kHugePage) float sst[std::size_t{max_points} * max_years];
  std::int32_t first_year = 0;
  std::int32_t last_year = 0;
  std::int32_t n_years = 0;

  float& sst_at(int y, int p) {
    return sst[static_cast<std::size_t>(p - 1) * max_years + static_cast<std::size_t>(y - 1)];
  }
  // The values of grid point p for year slots 1, 2, ...
  const float* sst_column(int p) const {
    return sst + static_cast<std::size_t>(p - 1) * max_years;
  }
};

}  // namespace brix::input
