// The analysis through the real program: rows of special years, short
// records in the smoothed table, and the smoothed table against the yearly.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e.h"

namespace brix::e2e {
namespace {

struct Outputs {
  Result result;
  std::vector<std::string> yearly, smoothed;  // rows without the headings
};

std::vector<std::string> rows(const std::optional<std::string>& file) {
  std::vector<std::string> out;
  if (!file) return out;
  std::istringstream in(*file);
  std::string line;
  std::getline(in, line);  // heading
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

Outputs run(const std::string& xy, const std::string& recon, const std::string& threshold,
        const std::string& period = "5") {
  Sandbox box;
  box.write("xy.txt", xy);
  box.write("recon.txt", recon);
  Outputs r;
  r.result = box.run("xy.txt\n1\nn\nrecon.txt\n" + threshold + "\n" + period + "\n");
  r.yearly = rows(box.read("Brix_ELI_5N-5S.txt"));
  r.smoothed = rows(box.read("Brix_ELI_5N-5S_Spline.txt"));
  return r;
}

const char* kOneYear = "h\n 1950    28.000    29.000    30.000    31.000\n";

TEST(AnalysisTest, SpecialYears) {
  const struct {
    const char* name;
    const char* xy;
    const char* threshold;
    const char* row;
  } cases[] = {
      {"no warm point", kFourPoints, "40",
       " 1950  0.000    -NaN    0.00    -NaN    -NaN   0.000    -NaN"},
      {"one warm point", kFourPoints, "29.5",
       " 1950  0.333  170.00    -NaN    -NaN  30.000    -NaN    -NaN"},
      {"equal to the threshold is not warm", kFourPoints, "30",
       " 1950  0.000    -NaN    0.00    -NaN    -NaN   0.000    -NaN"},
      {"no point in the band", "10 150\n-10 160\n5.0000005 170\n6 180\n", "0",
       " 1950   -NaN    -NaN    0.00    -NaN    -NaN   0.000    -NaN"},
      // The latitude 5.000000238418579969 reads as exactly 5.0: in the band.
      {"a latitude read as exactly 5.0", "5.000000238418579969 150\n", "0",
       " 1950  1.000  150.00    -NaN    -NaN  28.000    -NaN    -NaN"},
  };
  for (const auto& c : cases) {
    Outputs r = run(c.xy, kOneYear, c.threshold);
    EXPECT_EQ(r.result.status, 0) << c.name;
    ASSERT_EQ(r.yearly.size(), 1u) << c.name;
    EXPECT_EQ(r.yearly[0], c.row) << c.name;
  }
}

TEST(AnalysisTest, ShortRecordsCarryTheMarkerInTheSmoothedTable) {
  const std::string year = "    28.000    29.000    30.000    31.000\n";
  // n_years 0: headings only, and the smoothing question is still asked.
  Outputs none = run(kFourPoints, "h\n", "28.5");
  EXPECT_EQ(none.result.status, 0);
  EXPECT_TRUE(none.yearly.empty());
  EXPECT_TRUE(none.smoothed.empty());
  EXPECT_NE(none.result.out.find(ask_smoothing() + closing()), std::string::npos);

  // n_years 3: row 1 holds -9998 in the smoothed columns, rows 2 and 3 the
  // zeros the smoothed series start with.
  Outputs three = run(kFourPoints, "h\n 1950" + year + " 1951" + year + " 1952" + year, "28.5");
  ASSERT_EQ(three.smoothed.size(), 3u);
  EXPECT_EQ(three.smoothed[0],
            " 1950  0.667*******  0.667  165.00-9998.00  165.00   7.071********"
            "  29.500********  29.500   0.707********");
  EXPECT_EQ(three.smoothed[1],
            " 1951  0.667  0.000  0.667  165.00    0.00  165.00   7.071   0.000"
            "  29.500   0.000  29.500   0.707   0.000");
  EXPECT_EQ(three.smoothed[2].substr(0, 5), " 1952");
  EXPECT_EQ(three.smoothed[2].substr(5), three.smoothed[1].substr(5));
}

// A grid of 6 band points over 40 years with values that move around the
// threshold, so that every series varies from year to year.
std::string varied_recon(int years, bool with_empty_year) {
  std::string s = "generated\n";
  for (int y = 0; y < years; ++y) {
    char line[128];
    int n = std::snprintf(line, sizeof line, "%5d", 1900 + y);
    for (int p = 0; p < 6; ++p) {
      double v = 27.0 + ((y * 7 + p * 13) % 17) * 0.25;
      if (with_empty_year && y == 10) v = 20.0;
      n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "%10.3f", v);
    }
    s += line;
    s += "\n";
  }
  return s;
}
const char* kSixPoints = "-4 140\n-2 155\n0 170\n1 185\n3 200\n4.5 215\n";

TEST(AnalysisTest, RawColumnsOfTheSmoothedTableAreTheYearlyValues) {
  Outputs r = run(kSixPoints, varied_recon(40, false), "28.5", "10");
  ASSERT_EQ(r.result.status, 0);
  ASSERT_EQ(r.yearly.size(), 40u);
  ASSERT_EQ(r.smoothed.size(), 40u);
  for (std::size_t i = 0; i < 40; ++i) {
    const std::string& y = r.yearly[i];
    const std::string& s = r.smoothed[i];
    ASSERT_EQ(y.size(), 60u);
    ASSERT_EQ(s.size(), 106u);
    EXPECT_EQ(s.substr(0, 5), y.substr(0, 5));     // Year
    EXPECT_EQ(s.substr(5, 7), y.substr(5, 7));     // NPeak
    EXPECT_EQ(s.substr(26, 8), y.substr(12, 8));   // LonMN1 and MN_Lon
    EXPECT_EQ(s.substr(66, 8), y.substr(36, 8));   // TmpMN1 and MN_Tmp
    EXPECT_EQ(s.substr(90, 8), y.substr(44, 8));   // TmpSD1 and SD_Tmp
    // SD_Lon has two decimals, LonSD1 three: the same value.
    EXPECT_NEAR(std::stod(s.substr(50, 8)), std::stod(y.substr(20, 8)), 0.0051);
    // The whole-record means repeat in every row.
    EXPECT_EQ(s.substr(19, 7), r.smoothed[0].substr(19, 7));
    EXPECT_EQ(s.substr(42, 8), r.smoothed[0].substr(42, 8));
    EXPECT_EQ(s.substr(82, 8), r.smoothed[0].substr(82, 8));
  }
  // Smoothing changes a varying series, and stays near it.
  int changed = 0;
  for (std::size_t i = 0; i < 40; ++i) {
    double raw = std::stod(r.smoothed[i].substr(5, 7));
    double smooth = std::stod(r.smoothed[i].substr(12, 7));
    changed += raw != smooth;
    EXPECT_NEAR(raw, smooth, 0.5);
  }
  EXPECT_GT(changed, 20);
}

TEST(AnalysisTest, AYearWithoutWarmPointsSpreadsNaNThroughTheMeanSeries) {
  Outputs r = run(kSixPoints, varied_recon(12, true), "28.5", "5");
  ASSERT_EQ(r.smoothed.size(), 12u);
  EXPECT_EQ(r.yearly[10].substr(12, 8), "    -NaN");
  for (const std::string& s : r.smoothed) {
    EXPECT_NE(s.substr(12, 7), "   -NaN") << "the fraction stays a number";
    EXPECT_NE(s.substr(34, 8).find("NaN"), std::string::npos) << s;  // LonMN2
    EXPECT_NE(s.substr(42, 8).find("NaN"), std::string::npos) << s;  // LonMN3
    EXPECT_NE(s.substr(74, 8).find("NaN"), std::string::npos) << s;  // TmpMN2
  }
}

}  // namespace
}  // namespace brix::e2e
