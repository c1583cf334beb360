// Micro-benchmarks of the routines on the program's hot paths: the year
// record read, F output, the free-form coordinate read, the mean and standard
// deviation and the smoothing spline.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "numeric/mnsd.h"
#include "numeric/spline.h"
#include "records/convert.h"
#include "records/format.h"
#include "records/freeform.h"
#include "records/request.h"
#include "records/test_util.h"
#include "records/unit.h"
#include "tools/generate.h"

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

// One year record of 12000 "f10.3" fields through the format into reals.
// Argument: the stride between the reals, 1 for a dense row, 2500 for the
// program's matrix, where one record fills one slot of every column.
void BM_ReadYearRecord(benchmark::State& state) {
  static const Format kYear("(i5,12000f10.3)");
  const std::ptrdiff_t stride = state.range(0);
  TempFile file(records16().recon);
  std::vector<float> dest(stride == 1 ? std::size_t{kPoints}
                                      : std::size_t{kPoints} * static_cast<std::size_t>(stride));
  Unit unit("10", -1, -1, false);
  open_past_header(unit, file.path());
  std::int32_t year = 0;
  std::size_t slot = 0;
  for (auto _ : state) {
    float* first = dest.data() + (stride == 1 ? 0 : slot++ % static_cast<std::size_t>(stride));
    Outcome outcome = brix::records::read(
        unit, kYear, {Target::integer(year), Target::reals(first, kPoints, stride)},
        Handles::kErrorsAndEnd);
    if (outcome == Outcome::kEnd) {  // start the file again, off the clock
      state.PauseTiming();
      open_past_header(unit, file.path());
      state.ResumeTiming();
      outcome = brix::records::read(
          unit, kYear, {Target::integer(year), Target::reals(first, kPoints, stride)},
          Handles::kErrorsAndEnd);
    }
    if (outcome != Outcome::kDone) {
      state.SkipWithError("year record not read");
      break;
    }
    benchmark::DoNotOptimize(first[0]);
  }
  unit.close();
  const std::int64_t record_bytes = 5 + 10 * std::int64_t{kPoints} + 1;
  state.SetBytesProcessed(state.iterations() * record_bytes);
  state.SetItemsProcessed(state.iterations() * kPoints);
}
BENCHMARK(BM_ReadYearRecord)->Arg(1)->Arg(kYears)->Unit(benchmark::kMicrosecond);

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

std::vector<float> values_of_year(int n) {
  const brix::gen::Dataset& d = records16();
  std::vector<float> v(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) v[i] = static_cast<float>(d.milli[i % d.milli.size()] / 1000.0);
  return v;
}

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
