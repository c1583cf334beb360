// Micro-benchmarks of the routines on the program's hot paths: the year
// record read, F output, the free-form coordinate read, the mean and standard
// deviation and the smoothing spline; and the program's stage groups
// in-process: reading the input files, the yearly statistics, the smoothing
// and its table.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "input/coordinates.h"
#include "input/reconstruction.h"
#include "input/run_data.h"
#include "input/year_record.h"
#include "numeric/mnsd.h"
#include "numeric/spline.h"
#include "records/band.h"
#include "records/put.h"
#include "records/format.h"
#include "records/freeform.h"
#include "records/read.h"
#include "records/test_util.h"
#include "records/unit.h"
#include "stats/series.h"
#include "stats/smoothed.h"
#include "analysis/analysis.h"
#include "analysis/tables.h"
#include "generate/generate.h"

namespace {

using brix::records::Format;
using brix::records::Handles;
using brix::records::Outcome;
using brix::records::Target;
using brix::records::Unit;

constexpr int kPoints = 12000;
constexpr int kYears = 2500;

using brix::records::testing::TempFile;

// 16 year records of the capacity case.
const brix::gen::Dataset& records16() {
  static const brix::gen::Dataset d = [] {
    brix::gen::Options o;
    o.points = kPoints;
    o.years = 16;
    o.seed = 3;
    return brix::gen::make(o);
  }();
  return d;
}

// Opens the file on the unit and reads its header line.
void open_past_header(Unit& unit, const std::string& path) {
  static const Format kHeader("(a)");
  if (!unit.open_old(path)) std::abort();
  brix::records::TextField<80> header;
  brix::records::read(unit, kHeader, {Target::text(header)}, Handles::kNeither);
}

// One year record of 12000 "f10.3" fields, line by line through the unit as
// the program reads a pipe. Arguments: 1 keeps every value, 0 only those of
// the band's points, packed as the program keeps them; the field kernel
// (FieldKernel), those this processor has.
void BM_ReadYearRecord(benchmark::State& state) {
  const auto kernel = static_cast<brix::input::FieldKernel>(state.range(1));
  state.SetLabel(std::string(brix::input::field_kernel_name(kernel)));
  TempFile file(records16().recon);
  std::vector<float> dest(kPoints);
  std::vector<std::uint8_t> keep(kPoints);
  for (int p = 0; p < kPoints; ++p)
    keep[p] = state.range(0) == 1 || brix::records::in_band(records16().grid.lat[p] / 100.0f);
  const brix::input::KeptPoints fields{kPoints, keep.data(),
                                       static_cast<int>(std::count(keep.begin(), keep.end(), 1))};
  Unit unit("10", -1, -1, false);
  open_past_header(unit, file.path());
  std::int32_t year = 0;
  std::string_view line;
  for (auto _ : state) {
    if (!unit.next_line(line)) {  // start the file again, off the clock
      state.PauseTiming();
      open_past_header(unit, file.path());
      state.ResumeTiming();
      unit.next_line(line);
    }
    if (brix::input::read_year_record(line, fields, kernel, year, dest.data()) != Outcome::kDone) {
      state.SkipWithError("year record not read");
      break;
    }
    benchmark::DoNotOptimize(dest[0]);
  }
  unit.close();
  const std::int64_t record_bytes = static_cast<std::int64_t>(brix::input::year_line_length(kPoints)) + 1;
  state.SetBytesProcessed(state.iterations() * record_bytes);
  state.SetItemsProcessed(state.iterations() * kPoints);
}
// Every available kernel, with both sets of kept values.
void year_record_args(benchmark::internal::Benchmark* b) {
  for (int all : {1, 0})
    for (brix::input::FieldKernel kernel : brix::input::available_field_kernels())
      b->Args({all, static_cast<int>(kernel)});
}
BENCHMARK(BM_ReadYearRecord)->Apply(year_record_args)->Unit(benchmark::kMicrosecond);

std::vector<float> values_of_year(int n) {
  const brix::gen::Dataset& d = records16();
  std::vector<float> v(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) v[i] = static_cast<float>(d.milli[i % d.milli.size()] / 1000.0);
  return v;
}

// ---------------------------------------------------------------- stages

// The program's data, allocated once: the band matrix alone may take 120 MB.
brix::input::RunData* run_data = new brix::input::RunData;

// 12000 points by 250 years (30 MB), in files.
struct StageFiles {
  brix::gen::Dataset set = [] {
    brix::gen::Options o;
    o.points = kPoints;
    o.years = 250;
    o.seed = 1;
    return brix::gen::make(o);
  }();
  TempFile xy{set.xy}, recon{set.recon};
};
const StageFiles& stage_files() {
  static const StageFiles files;
  return files;
}

// Reads both input files as stage 4 and 8 of the program do, with `threads`
// threads of block reading (0: line by line).
void read_stage(const StageFiles& files, int threads) {
  Unit console("*", -1, -1, true);
  console.open_unknown("/dev/null");
  Unit file("10", -1, -1, false);
  brix::input::ReadMode mode;
  mode.threads = threads;
  if (!file.open_old(files.xy.path())) std::abort();
  brix::input::read_coordinates(file, console, 1, *run_data);
  if (!file.open_old(files.recon.path())) std::abort();
  brix::input::read_reconstruction(file, console, *run_data, mode);
}

// Argument: the threads of the block reading, 0 for line by line.
void BM_ReadStage(benchmark::State& state) {
  const StageFiles& files = stage_files();
  for (auto _ : state) read_stage(files, static_cast<int>(state.range(0)));
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(files.set.xy.size() + files.set.recon.size()));
}
BENCHMARK(BM_ReadStage)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The yearly statistics and their table, on the years of the files above.
// Argument: the threads.
void BM_YearlyStage(benchmark::State& state) {
  if (run_data->n_years == 0) read_stage(stage_files(), 1);
  const std::vector<float> band_lon = run_data->band_longitudes();
  const std::span<const float> values = run_data->band_values();
  Unit table("10", -1, -1, false);
  for (auto _ : state) {
    table.open_unknown("/dev/null");
    brix::analysis::write_yearly_heading(table);
    brix::analysis::write_yearly_rows(
        table, brix::analysis::yearly(band_lon, values, run_data->n_years, 1,
                                      {.convection_threshold = 28.5f,
                                       .threads = static_cast<int>(state.range(0))}));
    table.close();
  }
  state.SetItemsProcessed(state.iterations() * run_data->n_years);
}
BENCHMARK(BM_YearlyStage)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole-record means, the smoothing and the smoothed table of 2500 years.
void BM_SmoothingStage(benchmark::State& state) {
  std::vector<float> v = values_of_year(kYears);
  brix::analysis::Result result;
  result.yearly.resize(kYears);
  for (int y = 0; y < kYears; ++y) {
    brix::stats::YearRow& r = result.yearly[static_cast<std::size_t>(y)];
    r.year = 1900 + y;
    r.npeak = v[y] / 100.0f;
    r.lon_mean = v[y] * 6.0f;
    r.lon_sd = v[y];
    r.tmp_mean = v[y];
    r.tmp_sd = v[y] / 30.0f;
  }
  Unit table("10", -1, -1, false);
  for (auto _ : state) {
    brix::analysis::smooth(result, 10);
    table.open_unknown("/dev/null");
    brix::analysis::write_smoothed_heading(table);
    brix::analysis::write_smoothed_rows(table, result.smoothed);
    table.close();
  }
  state.SetItemsProcessed(state.iterations() * kYears);
}
BENCHMARK(BM_SmoothingStage)->Unit(benchmark::kMillisecond);

// F8.3 output over values of every size the tables show, and some that do
// not fit (asterisks), NaN and infinities.
void BM_PutRealF8_3(benchmark::State& state) {
  constexpr int kValues = 4096;
  std::vector<float> values(kValues);
  std::uint64_t x = 88172645463325252ULL;
  for (int i = 0; i < kValues; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    double mantissa = static_cast<double>(x >> 11) * 0x1.0p-53;
    int exponent = static_cast<int>((x >> 3) % 9) - 4;  // 1e-4 to 1e4
    double v = mantissa * std::pow(10.0, exponent);
    if (x & 1) v = -v;
    values[i] = static_cast<float>(v);
  }
  values[7] = std::numeric_limits<float>::quiet_NaN();
  values[11] = std::numeric_limits<float>::infinity();
  values[13] = 123456.0f;
  values[17] = -0.0f;
  char out[8];
  std::size_t i = 0;
  for (auto _ : state) {
    for (int k = 0; k < 64; ++k) {
      brix::records::put_real(out, 8, 3, values[i++ & (kValues - 1)]);
      benchmark::DoNotOptimize(out);
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 64);
}
BENCHMARK(BM_PutRealF8_3);

// The coordinate file of the capacity case, read pair by pair with free-form
// requests as the program reads it; one iteration reads the whole file.
void BM_ReadFreePairs(benchmark::State& state) {
  brix::gen::Options o;
  o.points = kPoints;
  o.years = 0;
  const std::string xy = brix::gen::make(o).xy;
  TempFile file(xy);
  Unit unit("10", -1, -1, false);
  for (auto _ : state) {
    if (!unit.open_old(file.path())) std::abort();
    float first = 0.0f, second = 0.0f;
    int n = 0;
    while (brix::records::read_free(unit, {Target::real(first), Target::real(second)},
                                    Handles::kErrorsAndEnd) != Outcome::kEnd)
      ++n;
    unit.close();
    benchmark::DoNotOptimize(second);
    if (n != kPoints) {
      state.SkipWithError("wrong number of pairs");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(xy.size()));
}
BENCHMARK(BM_ReadFreePairs)->Unit(benchmark::kMicrosecond);

void BM_Mnsd(benchmark::State& state) {
  const std::int32_t n = static_cast<std::int32_t>(state.range(0));
  std::vector<float> x = values_of_year(n);
  float mean = 0.0f, sd = 0.0f;
  for (auto _ : state) {
    brix::numeric::mnsd(x.data(), n, mean, sd);
    benchmark::DoNotOptimize(mean);
    benchmark::DoNotOptimize(sd);
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_Mnsd)->Arg(kPoints)->Unit(benchmark::kMicrosecond);

void BM_Spline(benchmark::State& state) {
  const std::int32_t n = static_cast<std::int32_t>(state.range(0));
  std::vector<float> y = values_of_year(n);
  std::vector<float> ys(static_cast<std::size_t>(n));
  const std::int32_t period = 10;
  float p = 0.0f;
  for (auto _ : state) {
    brix::numeric::spline(n, y.data(), ys.data(), p, period);
    benchmark::DoNotOptimize(ys.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_Spline)->Arg(kYears)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
