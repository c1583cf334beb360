#include "stats/yearly.h"

#include <cmath>

#include "numeric/mnsd.h"
#include "records/request.h"

namespace brix::stats {
namespace {

// Every band point of a year may be warm, so the two collections hold as
// many values as there can be grid points.
float warm_lon[input::max_points];
float warm_sst[input::max_points];
// The grid points of the band, in grid order: the same in every year, since
// membership depends on the latitude alone.
int band_points[input::max_points];

}  // namespace

void yearly_statistics(records::Unit& table, const input::RunData& data,
                       float convection_threshold, YearlySeries& series) {
  static const records::Format kHeading(
      "(' Year  NPeak  MN_Lon  SD_Lon  SE_Lon  MN_Tmp  SD_Tmp  SE_Tmp')");
  static const records::Format kRow("(i5,f7.3,3f8.2,3f8.3)");
  const float south = -5.0f;
  const float north = 5.0f;

  records::write(table, kHeading);
  std::int32_t n_band = 0;
  for (int p = 1; p <= data.n_points; ++p) {
    float lat = data.grid_lat[p - 1];
    if (lat >= south && lat <= north) band_points[n_band++] = p;  // a NaN latitude is outside
  }
  for (int y = 1; y <= data.n_years; ++y) {
    std::int32_t n_warm = 0;
    for (int k = 0; k < n_band; ++k) {
      int p = band_points[k];
      float v = data.sst_at(y, p);
      if (v > convection_threshold) {
        warm_lon[n_warm] = data.grid_lon[p - 1];
        warm_sst[n_warm] = v;
        ++n_warm;
      }
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
    records::write(table, kRow,
                   {year, npeak, lon_mean, lon_sd, lon_se, tmp_mean, tmp_sd, tmp_se});
    series.npeak_series[y - 1] = npeak;
    series.lon_mean_series[y - 1] = lon_mean;
    series.lon_sd_series[y - 1] = lon_sd;
    series.tmp_mean_series[y - 1] = tmp_mean;
    series.tmp_sd_series[y - 1] = tmp_sd;
  }
}

}  // namespace brix::stats
