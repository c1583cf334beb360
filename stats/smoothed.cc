#include "stats/smoothed.h"

#include "numeric/mnsd.h"
#include "numeric/spline.h"
#include "records/write.h"

namespace brix::stats {

void record_means(const YearlySeries& series, std::int32_t n_years, RecordMeans& means) {
  float sd = 0.0f;  // the deviations are not used
  numeric::mnsd(series.npeak_series, n_years, means.npeak_overall, sd);
  numeric::mnsd(series.lon_mean_series, n_years, means.lon_mean_overall, sd);
  numeric::mnsd(series.tmp_mean_series, n_years, means.tmp_mean_overall, sd);
}

void smoothed_heading(records::Unit& table) {
  static const records::Format kHeading(
      "(' Year  NPeak  NPSpl  NPKMn  LonMN1  LonMN2  LonMN3  LonSD1  LonSD2  ',"
      "'TmpMN1  TmpMN2  TmpMN3  TmpSD1  TmpSD2')");
  records::write(table, kHeading);
}

void smooth_and_tabulate(records::Unit& table, const YearlySeries& series,
                         const RecordMeans& means, std::int32_t n_years,
                         std::int32_t first_year, std::int32_t spline_period,
                         SmoothedSeries& smoothed) {
  static const records::Format kRow("(i5,3f7.3,3f8.2,7f8.3)");
  float& p = smoothed.spline_factor;
  numeric::spline(n_years, series.npeak_series, smoothed.npeak_smooth, p, spline_period);
  numeric::spline(n_years, series.lon_mean_series, smoothed.lon_mean_smooth, p, spline_period);
  numeric::spline(n_years, series.lon_sd_series, smoothed.lon_sd_smooth, p, spline_period);
  numeric::spline(n_years, series.tmp_mean_series, smoothed.tmp_mean_smooth, p, spline_period);
  numeric::spline(n_years, series.tmp_sd_series, smoothed.tmp_sd_smooth, p, spline_period);

  for (int y = 0; y < n_years; ++y) {
    std::int32_t year = first_year + y;
    records::write(table, kRow,
                   {year, series.npeak_series[y], smoothed.npeak_smooth[y], means.npeak_overall,
                    series.lon_mean_series[y], smoothed.lon_mean_smooth[y],
                    means.lon_mean_overall, series.lon_sd_series[y], smoothed.lon_sd_smooth[y],
                    series.tmp_mean_series[y], smoothed.tmp_mean_smooth[y],
                    means.tmp_mean_overall, series.tmp_sd_series[y], smoothed.tmp_sd_smooth[y]});
  }
}

}  // namespace brix::stats
