// The program-wide input data: the grid points, the equatorial band and its
// values from the reconstruction, with their fixed capacities.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "input/capacity.h"

namespace brix::input {

struct RunData {
  std::int32_t n_points = 0;
  float grid_lat[max_points];
  float grid_lon[max_points];
  // The grid points of the band in grid order, numbered from 1. The band
  // depends on the latitudes alone, so it is known before the reconstruction
  // is read, and only its values are kept.
  std::int32_t n_band = 0;
  std::int32_t band_points[max_points];
  std::uint8_t band_keep[max_points];  // 1 for each grid point of the band, 0 for the others
  // The band's values, one row of n_band values per year record, the rows one
  // after another: the yearly scan reads memory in order. Room for max_years
  // rows is allocated once the band is known (allocate_rows), before the
  // reconstruction is read; it is left uninitialised, so pages beyond the
  // rows a file fills are never touched.
  std::unique_ptr<float[]> band_sst;
  std::size_t rows_room = 0;  // values band_sst has room for
  std::int32_t first_year = 0;
  std::int32_t last_year = 0;
  std::int32_t n_years = 0;

  // Allocates band_sst for max_years rows of n_band values, unless it has
  // room for them already (a run allocates it once; runs one after another
  // in one process keep the largest). Throws std::bad_alloc when the memory
  // cannot be had.
  void allocate_rows() {
    // One value at least, so that a band without points still has an address.
    const std::size_t values =
        std::max<std::size_t>(std::size_t{max_years} * static_cast<std::size_t>(n_band), 1);
    if (band_sst != nullptr && rows_room >= values) return;
    band_sst.reset();
    rows_room = 0;
    band_sst.reset(new float[values]);
    rows_room = values;
  }

  // The band's values of year record y (from 1).
  float* band_row(int y) {
    return band_sst.get() + static_cast<std::size_t>(y - 1) * static_cast<std::size_t>(n_band);
  }
  const float* band_row(int y) const {
    return band_sst.get() + static_cast<std::size_t>(y - 1) * static_cast<std::size_t>(n_band);
  }

  // The longitudes of the band's points, and the values of the years read,
  // as the analysis takes them.
  std::vector<float> band_longitudes() const {
    std::vector<float> lon(static_cast<std::size_t>(n_band));
    for (std::size_t k = 0; k < lon.size(); ++k) lon[k] = grid_lon[band_points[k] - 1];
    return lon;
  }
  std::span<const float> band_values() const {
    return {band_sst.get(), static_cast<std::size_t>(n_years) * static_cast<std::size_t>(n_band)};
  }
};

}  // namespace brix::input
