#include "stats/smoothed.h"

#include "numeric/mnsd.h"

namespace brix::stats {

Smoothed smoothed_rows(std::span<const YearRow> yearly, std::int32_t spline_period) {
  const auto n = static_cast<std::int32_t>(yearly.size());
  // Each series apart, as the mean and the spline take it; one element at
  // least, where a refusal marker goes.
  const std::size_t room = std::max<std::size_t>(yearly.size(), 1);
  float YearRow::*const series[kSmoothedSeries] = {
      &YearRow::npeak, &YearRow::lon_mean, &YearRow::lon_sd, &YearRow::tmp_mean, &YearRow::tmp_sd};
  std::vector<float> raw[kSmoothedSeries], smooth[kSmoothedSeries];
  for (int s = 0; s < kSmoothedSeries; ++s) {
    raw[s].resize(room);
    smooth[s].assign(room, 0.0f);
    for (std::size_t y = 0; y < yearly.size(); ++y) raw[s][y] = yearly[y].*series[s];
  }

  float npeak_overall = 0.0f, lon_mean_overall = 0.0f, tmp_mean_overall = 0.0f;
  float sd = 0.0f;  // the deviations are not used
  numeric::mnsd(raw[0].data(), n, npeak_overall, sd);
  numeric::mnsd(raw[1].data(), n, lon_mean_overall, sd);
  numeric::mnsd(raw[3].data(), n, tmp_mean_overall, sd);

  Smoothed out;
  for (int s = 0; s < kSmoothedSeries; ++s)
    out.outcomes[static_cast<std::size_t>(s)] =
        numeric::spline(n, raw[s].data(), smooth[s].data(), out.spline_factor, spline_period);

  out.rows.resize(yearly.size());
  for (std::size_t y = 0; y < yearly.size(); ++y) {
    const YearRow& r = yearly[y];
    out.rows[y] = {r.year,       r.npeak,          smooth[0][y], npeak_overall, r.lon_mean,
                   smooth[1][y], lon_mean_overall, r.lon_sd,     smooth[2][y],  r.tmp_mean,
                   smooth[3][y], tmp_mean_overall, r.tmp_sd,     smooth[4][y]};
  }
  return out;
}

}  // namespace brix::stats
