// The library against brix_eli itself: the tables made from its rows equal,
// byte for byte, those the program writes for generated data; two analyses at once on two threads give the rows of one
// after the other; input that makes no analysis is refused.
#include "analysis/analysis.h"

#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <thread>
#include <vector>

#include "analysis/tables.h"
#include "generate/generate.h"
#include "tests/e2e.h"

namespace brix::analysis {
namespace {

struct Grid {
  std::vector<float> lat, lon, values;
  std::int32_t first_year = 0;
};

// The generated values as brix_eli reads them: each decimal text to its
// nearest single.
Grid grid_of(const gen::Dataset& d) {
  Grid g;
  g.first_year = gen::Options{}.first_year;
  for (std::size_t p = 0; p < std::size_t(d.points); ++p) {
    g.lat.push_back(static_cast<float>(d.grid.lat[p] / 100.0));
    g.lon.push_back(static_cast<float>(d.grid.lon[p] / 100.0));
  }
  for (std::int32_t m : d.milli) g.values.push_back(static_cast<float>(m / 1000.0));
  return g;
}

gen::Dataset generated(int points, int years, std::uint64_t seed) {
  gen::Options o;
  o.points = points;
  o.years = years;
  o.seed = seed;
  return gen::make(o);
}

std::string tables(const Result& r) {
  return yearly_table(r.yearly) + "|" + smoothed_table(r.smoothed);
}

TEST(Analysis, TablesAreBrixElisToTheByte) {
  // Generated grids through brix_eli and through the library (the bundled
  // example is the Python module's test), on one thread and several, with
  // and without the dateline shift, and a record of 3 years, which the
  // spline refuses.
  e2e::Sandbox box;
  struct {
    int points, years;
    bool dateline;
    int threads;
  } cases[] = {{3000, 400, true, 1}, {3000, 400, false, 3}, {200, 3, true, 2}};
  for (const auto& c : cases) {
    gen::Dataset d = generated(c.points, c.years, 11);
    Grid g = grid_of(d);
    ASSERT_EQ(g.values.size(), std::size_t(c.points) * c.years);
    box.write("xy.txt", d.xy);
    box.write("recon.txt", d.recon);
    e2e::Result run =
        box.run(std::string("xy.txt\n1\n") + (c.dateline ? "y" : "n") + "\nrecon.txt\n27.9\n7\n");
    ASSERT_EQ(run.status, 0) << run.err;
    Result mine =
        analyse(g.lat, g.lon, g.values, g.first_year, c.dateline,
                {.convection_threshold = 27.9f, .spline_period = 7, .threads = c.threads});
    EXPECT_EQ(tables(mine),
              *box.read("Brix_ELI_5N-5S.txt") + "|" + *box.read("Brix_ELI_5N-5S_Spline.txt"))
        << c.points << " points, " << c.years << " years";
    EXPECT_EQ(mine.spline_outcomes[0],
              c.years < 4 ? SplineOutcome::kTooFew : SplineOutcome::kSmoothed);
  }
}

TEST(Analysis, TwoAtOnceOnTwoThreadsAsOneAfterTheOther) {
  gen::Dataset a = generated(4000, 300, 3);
  gen::Dataset b = generated(2500, 500, 4);
  Grid ga = grid_of(a), gb = grid_of(b);
  const Settings s{.convection_threshold = 28.0f, .spline_period = 12, .threads = 2};
  const std::string alone_a = tables(analyse(ga.lat, ga.lon, ga.values, 1900, true, s));
  const std::string alone_b = tables(analyse(gb.lat, gb.lon, gb.values, 1900, false, s));
  for (int round = 0; round < 3; ++round) {
    std::string at_once_a, at_once_b;
    std::thread other(
        [&] { at_once_a = tables(analyse(ga.lat, ga.lon, ga.values, 1900, true, s)); });
    at_once_b = tables(analyse(gb.lat, gb.lon, gb.values, 1900, false, s));
    other.join();
    EXPECT_EQ(at_once_a, alone_a);
    EXPECT_EQ(at_once_b, alone_b);
  }
}

TEST(Analysis, InputThatMakesNoAnalysisIsRefused) {
  const std::vector<float> lat{0, 1, 20}, lon{10, -170, 30}, values(6, 29.0f), two(2);
  const Settings s;
  EXPECT_THROW(analyse(lat, two, values, 1, false, s), BadInput);                 // lengths differ
  EXPECT_THROW(analyse(lat, lon, std::vector<float>(7), 1, false, s), BadInput);  // not whole years
  EXPECT_THROW(analyse({}, {}, {}, 1, false, s), BadInput);                       // no point
  const std::vector<float> north{10, 20, 30};
  EXPECT_THROW(analyse(north, lon, values, 1, false, s), BadInput);  // none in the band
  EXPECT_THROW(analyse_band(std::vector<float>(4), values, 2, 1, s), BadInput);
  EXPECT_EQ(analyse_band({}, {}, 5, 1, s).yearly.size(), 5u);  // rows of NaN, as brix_eli's
  // Two band points, both warm: the dateline shift counts -170 as 190.
  Result r = analyse(lat, lon, values, 2000, true, s);
  ASSERT_EQ(r.yearly.size(), 2u);
  EXPECT_EQ(r.yearly[1].year, 2001);
  EXPECT_EQ(r.yearly[0].lon_mean, 100.0f);
  EXPECT_EQ(analyse(lat, lon, values, 2000, false, s).yearly[0].lon_mean, -80.0f);
  EXPECT_EQ(r.spline_outcomes[4], SplineOutcome::kTooFew);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(r.smoothed[0].tmp_sd_smooth),
            std::bit_cast<std::uint32_t>(-9998.0f));
}

}  // namespace
}  // namespace brix::analysis
