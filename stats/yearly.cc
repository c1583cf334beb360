#include "stats/yearly.h"

#include <cmath>

#include "numeric/mnsd.h"
#include "records/request.h"

namespace brix::stats {
namespace {

// Every band point of a year may be warm, so each year's two collections
// hold as many values as there can be grid points.
float warm_lon[input::max_points];
float warm_sst[input::max_points];
// The longitudes of the band's points, side by side like their values.
float band_lon[input::max_points];

}  // namespace

void yearly_statistics(records::Unit& table, const input::RunData& data, float convection_threshold,
                       YearlySeries& series) {
  static const records::Format kHeading(
      "(' Year  NPeak  MN_Lon  SD_Lon  SE_Lon  MN_Tmp  SD_Tmp  SE_Tmp')");
  static const records::Format kRow("(i5,f7.3,3f8.2,3f8.3)");

  records::write(table, kHeading);
  const std::int32_t n_band = data.n_band;
  for (int k = 0; k < n_band; ++k) band_lon[k] = data.grid_lon[data.band_points[k] - 1];
  for (int y = 1; y <= data.n_years; ++y) {
    const float* row = data.band_row(y);
    std::int32_t n_warm = 0;
    for (int k = 0; k < n_band; ++k) {
      const float v = row[k];
      // Written in every case and kept only when warm: no branch on the
      // value, which is as unpredictable as the weather. There is always
      // room, since n_warm <= k < n_band <= max_points here.
      warm_lon[n_warm] = band_lon[k];
      warm_sst[n_warm] = v;
      n_warm += v > convection_threshold ? 1 : 0;  // false for a NaN on either side
    }
    float fw = static_cast<float>(n_warm);
    float fb = static_cast<float>(n_band);
    float lon_mean, lon_sd, tmp_mean, tmp_sd;
    numeric::mnsd(warm_lon, n_warm, lon_mean, lon_sd);
    float root = std::sqrt(fw);
    float lon_se = lon_sd / root;
    numeric::mnsd(warm_sst, n_warm, tmp_mean, tmp_sd);
    float npeak = fw / fb;
    float tmp_se = tmp_sd / root;
    std::int32_t year = data.first_year + y - 1;
    records::write(table, kRow, {year, npeak, lon_mean, lon_sd, lon_se, tmp_mean, tmp_sd, tmp_se});
    series.npeak_series[y - 1] = npeak;
    series.lon_mean_series[y - 1] = lon_mean;
    series.lon_sd_series[y - 1] = lon_sd;
    series.tmp_mean_series[y - 1] = tmp_mean;
    series.tmp_sd_series[y - 1] = tmp_sd;
  }
}

}  // namespace brix::stats
