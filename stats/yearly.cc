#include "stats/yearly.h"

#include <algorithm>
#include <cmath>

#include "numeric/mnsd.h"
#include "records/ordered_window.h"

namespace brix::stats {
namespace {

// One worker's collections: every band point of a year may be warm.
struct WarmPoints {
  explicit WarmPoints(std::size_t n) : lon(n), sst(n) {}
  std::vector<float> lon, sst;
};

// A worker is worth starting for this many band values or more.
constexpr long kValuesPerWorker = 1L << 14;

// The rows of years [first, end) (from 0).
void figure_years(std::span<const float> band_lon, const float* values, float threshold,
                  std::int32_t first, std::int32_t end, WarmPoints& warm, YearRow* rows) {
  const auto n_band = static_cast<std::int32_t>(band_lon.size());
  for (std::int32_t y = first; y < end; ++y) {
    const float* row = values + static_cast<std::size_t>(y) * band_lon.size();
    std::int32_t n_warm = 0;
    for (std::int32_t k = 0; k < n_band; ++k) {
      const float v = row[k];
      // Written in every case and kept only when warm: no branch on the
      // value, which is as unpredictable as the weather. There is always
      // room, since n_warm <= k < n_band.
      warm.lon[n_warm] = band_lon[k];
      warm.sst[n_warm] = v;
      n_warm += v > threshold ? 1 : 0;  // false for a NaN on either side
    }
    float fw = static_cast<float>(n_warm);
    float fb = static_cast<float>(n_band);
    YearRow& f = rows[y];
    numeric::mnsd(warm.lon.data(), n_warm, f.lon_mean, f.lon_sd);
    float root = std::sqrt(fw);
    f.lon_se = f.lon_sd / root;
    numeric::mnsd(warm.sst.data(), n_warm, f.tmp_mean, f.tmp_sd);
    f.npeak = fw / fb;
    f.tmp_se = f.tmp_sd / root;
  }
}

}  // namespace

std::vector<YearRow> yearly_rows(std::span<const float> band_lon, const float* values,
                                 std::int32_t n_years, std::int32_t first_year,
                                 float convection_threshold, int threads) {
  std::vector<YearRow> rows(static_cast<std::size_t>(std::max(n_years, 0)));
  for (std::int32_t y = 0; y < n_years; ++y)
    rows[static_cast<std::size_t>(y)].year = first_year + y;

  // Every year stands alone: the years are shared out in runs, one per
  // worker, and the figures are the same on any number of them.
  const long n_values = long{n_years} * static_cast<long>(band_lon.size());
  const int workers =
      static_cast<int>(std::clamp<long>(n_values / kValuesPerWorker, 1, std::max(threads, 1)));
  auto start = [&](int w) { return static_cast<std::int32_t>(long{n_years} * w / workers); };
  // One value at least, so that a band without points still has room.
  const std::size_t room = std::max<std::size_t>(band_lon.size(), 1);
  std::vector<WarmPoints> spaces(static_cast<std::size_t>(workers), WarmPoints(room));
  auto figure_run = [&](std::size_t run, int worker) {
    const int w = static_cast<int>(run);
    figure_years(band_lon, values, convection_threshold, start(w), start(w + 1),
                 spaces[static_cast<std::size_t>(worker)], rows.data());
  };
  const auto runs = static_cast<std::size_t>(workers);
  records::OrderedWindow window(runs, runs, workers, figure_run);
  window.finish();
  return rows;
}

}  // namespace brix::stats
