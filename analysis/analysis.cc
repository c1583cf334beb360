#include "analysis/analysis.h"

#include <string>

#include "records/band.h"
#include "stats/yearly.h"

namespace brix::analysis {

std::vector<YearRow> yearly(std::span<const float> band_lon, std::span<const float> values,
                            std::int32_t n_years, std::int32_t first_year,
                            const Settings& settings) {
  if (n_years < 0 || values.size() != static_cast<std::size_t>(n_years) * band_lon.size())
    throw BadInput(std::to_string(values.size()) + " values are not " + std::to_string(n_years) +
                   " years of " + std::to_string(band_lon.size()) + " band points");
  return stats::yearly_rows(band_lon, values.data(), n_years, first_year,
                            settings.convection_threshold, settings.threads);
}

void smooth(Result& result, std::int32_t spline_period) {
  stats::Smoothed s = stats::smoothed_rows(result.yearly, spline_period);
  result.smoothed = std::move(s.rows);
  result.spline_factor = s.spline_factor;
  result.spline_outcomes = s.outcomes;
}

Result analyse_band(std::span<const float> band_lon, std::span<const float> values,
                    std::int32_t n_years, std::int32_t first_year, const Settings& settings) {
  Result r;
  r.yearly = yearly(band_lon, values, n_years, first_year, settings);
  smooth(r, settings.spline_period);
  return r;
}

Result analyse(std::span<const float> lat, std::span<const float> lon,
               std::span<const float> values, std::int32_t first_year, bool dateline,
               const Settings& settings) {
  if (lat.size() != lon.size())
    throw BadInput(std::to_string(lat.size()) + " latitudes but " + std::to_string(lon.size()) +
                   " longitudes");
  if (lat.empty()) throw BadInput("no grid point");
  if (values.size() % lat.size() != 0)
    throw BadInput(std::to_string(values.size()) + " values are not whole years of " +
                   std::to_string(lat.size()) + " grid points");
  std::vector<std::size_t> band;
  std::vector<float> band_lon;
  for (std::size_t p = 0; p < lat.size(); ++p) {
    if (!records::in_band(lat[p])) continue;
    band.push_back(p);
    band_lon.push_back(dateline && lon[p] < 0.0f ? lon[p] + 360.0f : lon[p]);
  }
  if (band.empty()) throw BadInput("no grid point lies in the band, 5S to 5N");
  const std::size_t n_years = values.size() / lat.size();
  std::vector<float> block(n_years * band.size());
  for (std::size_t y = 0; y < n_years; ++y)
    for (std::size_t k = 0; k < band.size(); ++k)
      block[y * band.size() + k] = values[y * lat.size() + band[k]];
  Result r;
  r.yearly = stats::yearly_rows(band_lon, block.data(), static_cast<std::int32_t>(n_years),
                                first_year, settings.convection_threshold, settings.threads);
  smooth(r, settings.spline_period);
  return r;
}

}  // namespace brix::analysis
