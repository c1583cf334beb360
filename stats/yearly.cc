#include "stats/yearly.h"

#include <algorithm>
#include <cmath>
#include <system_error>
#include <thread>
#include <vector>

#include "numeric/mnsd.h"
#include "records/write.h"

namespace brix::stats {
namespace {

// A year's figures, in the order of its row.
struct YearFigures {
  float npeak, lon_mean, lon_sd, lon_se, tmp_mean, tmp_sd, tmp_se;
};

// One worker's collections: every band point of a year may be warm, so they
// hold as many values as there can be grid points.
struct WarmPoints {
  float lon[input::max_points];
  float sst[input::max_points];
};

// The longitudes of the band's points, side by side like their values.
float band_lon[input::max_points];
YearFigures figures[input::max_years];

// A worker is worth starting for this many band values or more.
constexpr long kValuesPerWorker = 1L << 14;

// The figures of years [first, end) (from 1).
void figure_years(const input::RunData& data, float convection_threshold, int first, int end,
                  WarmPoints& warm) {
  const std::int32_t n_band = data.n_band;
  for (int y = first; y < end; ++y) {
    const float* row = data.band_row(y);
    std::int32_t n_warm = 0;
    for (int k = 0; k < n_band; ++k) {
      const float v = row[k];
      // Written in every case and kept only when warm: no branch on the
      // value, which is as unpredictable as the weather. There is always
      // room, since n_warm <= k < n_band <= max_points here.
      warm.lon[n_warm] = band_lon[k];
      warm.sst[n_warm] = v;
      n_warm += v > convection_threshold ? 1 : 0;  // false for a NaN on either side
    }
    float fw = static_cast<float>(n_warm);
    float fb = static_cast<float>(n_band);
    YearFigures& f = figures[y - 1];
    numeric::mnsd(warm.lon, n_warm, f.lon_mean, f.lon_sd);
    float root = std::sqrt(fw);
    f.lon_se = f.lon_sd / root;
    numeric::mnsd(warm.sst, n_warm, f.tmp_mean, f.tmp_sd);
    f.npeak = fw / fb;
    f.tmp_se = f.tmp_sd / root;
  }
}

}  // namespace

void yearly_statistics(records::Unit& table, const input::RunData& data, float convection_threshold,
                       YearlySeries& series, int threads) {
  static const records::Format kHeading(
      "(' Year  NPeak  MN_Lon  SD_Lon  SE_Lon  MN_Tmp  SD_Tmp  SE_Tmp')");
  static const records::Format kRow("(i5,f7.3,3f8.2,3f8.3)");
  static WarmPoints warm;

  records::write(table, kHeading);
  for (int k = 0; k < data.n_band; ++k) band_lon[k] = data.grid_lon[data.band_points[k] - 1];

  // Every year stands alone: the years are shared out in runs, one per
  // worker, and the figures are the same on any number of them.
  const long values = long{data.n_years} * data.n_band;
  const int workers =
      static_cast<int>(std::clamp<long>(values / kValuesPerWorker, 1, std::max(threads, 1)));
  auto start = [&](int w) { return 1 + static_cast<int>(long{data.n_years} * w / workers); };
  std::vector<WarmPoints> spaces(static_cast<std::size_t>(workers - 1));
  std::vector<std::thread> helpers;
  helpers.reserve(spaces.size());
  // Joined however this function is left: a thread that cannot be allocated
  // for throws std::bad_alloc while others already run.
  struct Join {
    std::vector<std::thread>& helpers;
    ~Join() {
      for (std::thread& helper : helpers) helper.join();
    }
  } join{helpers};
  int started = 1;  // workers going: the calling thread and each helper started
  for (; started < workers; ++started) {
    try {
      helpers.emplace_back(figure_years, std::cref(data), convection_threshold, start(started),
                           start(started + 1), std::ref(spaces[started - 1]));
    } catch (const std::system_error&) {
      break;  // the system starts no more threads: the calling one does the rest
    }
  }
  figure_years(data, convection_threshold, 1, start(1), warm);
  figure_years(data, convection_threshold, start(started), start(workers), warm);
  for (std::thread& helper : helpers) helper.join();
  helpers.clear();

  for (int y = 1; y <= data.n_years; ++y) {
    const YearFigures& f = figures[y - 1];
    std::int32_t year = data.first_year + y - 1;
    records::write(table, kRow,
                   {year, f.npeak, f.lon_mean, f.lon_sd, f.lon_se, f.tmp_mean, f.tmp_sd, f.tmp_se});
    series.npeak_series[y - 1] = f.npeak;
    series.lon_mean_series[y - 1] = f.lon_mean;
    series.lon_sd_series[y - 1] = f.lon_sd;
    series.tmp_mean_series[y - 1] = f.tmp_mean;
    series.tmp_sd_series[y - 1] = f.tmp_sd;
  }
}

}  // namespace brix::stats
