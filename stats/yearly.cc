#include "stats/yearly.h"

#include <algorithm>
#include <cmath>

#include "numeric/mnsd.h"
#include "records/request.h"

namespace brix::stats {
namespace {

// The years are scanned in blocks: the values of one grid point for
// consecutive years lie together, so a block of years costs one visit to
// each grid point's column instead of one per year.
constexpr int kYearBlock = 16;
constexpr int kAhead = 16;  // grid points between a prefetch and its use

// Every band point of a year may be warm, so each year's two collections
// hold as many values as there can be grid points.
float warm_lon[kYearBlock][input::max_points];
float warm_sst[kYearBlock][input::max_points];
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
  for (int first = 1; first <= data.n_years; first += kYearBlock) {
    const int years = std::min(kYearBlock, data.n_years - first + 1);
    std::int32_t n_warm[kYearBlock] = {};
    for (int k = 0; k < n_band; ++k) {
      const int p = band_points[k];
      const float lon = data.grid_lon[p - 1];
      const float* column = data.sst_column(p) + (first - 1);
      // The columns lie 10,000 bytes apart, too far for the processor to
      // guess: ask for the block of a column some grid points ahead.
      if (k + kAhead < n_band) {
        const float* ahead = data.sst_column(band_points[k + kAhead]) + (first - 1);
        __builtin_prefetch(ahead);
        __builtin_prefetch(ahead + kYearBlock - 1);
      }
      for (int j = 0; j < years; ++j) {
        const float v = column[j];
        // Written in every case and kept only when warm: no branch on the
        // value, which is as unpredictable as the weather. There is always
        // room, since n_warm < n_band <= max_points here.
        warm_lon[j][n_warm[j]] = lon;
        warm_sst[j][n_warm[j]] = v;
        n_warm[j] += v > convection_threshold ? 1 : 0;  // false for a NaN on either side
      }
    }
    for (int j = 0; j < years; ++j) {
      const int y = first + j;
      float fw = static_cast<float>(n_warm[j]);
      float fb = static_cast<float>(n_band);
      float lon_mean, lon_sd, tmp_mean, tmp_sd;
      numeric::mnsd(warm_lon[j], n_warm[j], lon_mean, lon_sd);
      float root = std::sqrt(fw);
      float lon_se = lon_sd / root;
      numeric::mnsd(warm_sst[j], n_warm[j], tmp_mean, tmp_sd);
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
}

}  // namespace brix::stats
