// The coordinate file and the reconstruction file, read by the real program.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e.h"

namespace brix::e2e {
namespace {

struct Tables {
  Result result;
  std::string yearly;  // rows only, without the heading
};

Tables run(const std::string& xy, const std::string& recon, const std::string& order,
           const std::string& threshold) {
  Sandbox box;
  box.write("xy.txt", xy);
  box.write("recon.txt", recon);
  Tables t;
  t.result = box.run("xy.txt\n" + order + "\nn\nrecon.txt\n" + threshold + "\n5\n");
  std::string yearly = box.read("Brix_ELI_5N-5S.txt").value_or("");
  t.yearly = yearly.substr(std::min(yearly.size(), std::string(kYearlyHeading).size()));
  return t;
}

bool contains(const std::string& s, const std::string& part) {
  return s.find(part) != std::string::npos;
}

TEST(CoordinateFileTest, Cases) {
  const std::string recon5 = "h\n 1950    28.000    29.000    29.500    30.000    31.000\n";
  const struct {
    const char* name;
    std::string xy;
    std::string order;
    std::string count;
    std::string row;  // the yearly row at threshold 28.5
  } cases[] = {
      // Heading skipped; a pair split over two lines; a slash line repeating
      // the pair before; a third column ignored; no final LF.
      {"mixed file", "lat lon\n-5 150\n0\n160\n/\n5 170 99\n6 180", "1", "    5",
       " 1950  0.750  163.33    5.77    3.33  29.500   0.500   0.289\n"},
      // The same pairs in lon/lat order make every latitude a longitude.
      {"lon/lat order", "150 -5\n160 0\n160 0\n170 5\n180 6\n", "2", "    5",
       " 1950  0.750  163.33    5.77    3.33  29.500   0.500   0.289\n"},
      // Nothing but words: no grid point, and an empty band every year.
      {"only words", "lat lon\n-- --\n", "1", "    0",
       " 1950   -NaN    -NaN    0.00    -NaN    -NaN   0.000    -NaN\n"},
      {"empty file", "", "1", "    0",
       " 1950   -NaN    -NaN    0.00    -NaN    -NaN   0.000    -NaN\n"},
  };
  for (const auto& c : cases) {
    Tables t = run(c.xy, recon5, c.order, "28.5");
    EXPECT_EQ(t.result.status, 0) << c.name;
    EXPECT_TRUE(contains(t.result.out, points_read(c.count))) << c.name;
    EXPECT_EQ(t.yearly, c.row) << c.name;
  }
}

TEST(CoordinateFileTest, SlashAsTheFirstLineAddsThePointZeroZero) {
  Tables t = run("/\n", "h\n 1950    29.000\n", "1", "28");
  EXPECT_TRUE(contains(t.result.out, points_read("    1")));
  EXPECT_EQ(t.yearly, " 1950  1.000    0.00    -NaN    -NaN  29.000    -NaN    -NaN\n");
}

TEST(CoordinateFileTest, TooManyPairsEndTheRunBeforeAnyOutputFile) {
  std::string xy;
  for (int i = 0; i < 12001; ++i) xy += "0 " + std::to_string(i % 360) + "\n";
  Sandbox box;
  box.write("xy.txt", xy);
  Result r = box.run("xy.txt\n1\nn\n");
  EXPECT_EQ(r.out, welcome() + ask_coordinates() + coordinates_opened("xy.txt") + ask_order());
  EXPECT_EQ(r.err, "? Run-Time Error:\n? Too many grid points (more than 12000)\n"
                   "? READ(UNIT=10,...\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_FALSE(box.read("Brix_ELI_5N-5S.txt"));

  // Exactly 12000 pairs are fine, and words after them do not count.
  xy.resize(xy.rfind("0 ", xy.size() - 2));
  xy += "the end\n";
  box.write("xy.txt", xy);
  r = box.run("xy.txt\n1\nn\n");
  EXPECT_TRUE(contains(r.out, points_read("12000")));
}

TEST(ReconstructionFileTest, Cases) {
  const std::string xy = "0 100\n0 200\n";
  const struct {
    const char* name;
    std::string recon;
    std::string echo;
    std::string rows;  // threshold 28
  } cases[] = {
      {"only the first year field counts",
       "h\n 1950    29.000    29.000\n 1960    27.000    29.000\n 1955    29.000    27.000\n",
       "  1950  1952     3",
       " 1950  1.000  150.00   70.71   50.00  29.000   0.000   0.000\n"
       " 1951  0.500  200.00    -NaN    -NaN  29.000    -NaN    -NaN\n"
       " 1952  0.500  100.00    -NaN    -NaN  29.000    -NaN    -NaN\n"},
      {"header only", "h\n", "     0    -1     0", ""},
      {"first line lost as the header", " 1950    29.000    29.000\n 1951    27.000    27.000\n",
       "  1951  1951     1",
       " 1951  0.000    -NaN    0.00    -NaN    -NaN   0.000    -NaN\n"},
      {"bad line: the next takes its slot and its label",
       "h\n 1950    29.000    29.000\n 1951    29.000       abc\n 1952    27.000    29.000\n",
       "  1950  1951     2",
       " 1950  1.000  150.00   70.71   50.00  29.000   0.000   0.000\n"
       " 1951  0.500  200.00    -NaN    -NaN  29.000    -NaN    -NaN\n"},
      {"empty line is a year of zeros", "h\n 1950    29.000    29.000\n\n", "  1950  1951     2",
       " 1950  1.000  150.00   70.71   50.00  29.000   0.000   0.000\n"
       " 1951  0.000    -NaN    0.00    -NaN    -NaN   0.000    -NaN\n"},
      {"commas, implied decimals, CR LF, tabs and extra fields",
       "h\r\n1950,29.0,29\r\n 1951     29000     29000     99000\n1952\t 29.0\t  29.0\n",
       "  1950  1952     3",
       " 1950  0.500  100.00    -NaN    -NaN  29.000    -NaN    -NaN\n"
       " 1951  1.000  150.00   70.71   50.00  29.000   0.000   0.000\n"
       " 1952  1.000  150.00   70.71   50.00  29.000   0.000   0.000\n"},
  };
  for (const auto& c : cases) {
    Tables t = run(xy, c.recon, "1", "28");
    EXPECT_EQ(t.result.status, 0) << c.name;
    EXPECT_TRUE(contains(t.result.out, recon_read(c.echo))) << c.name << "\n" << t.result.out;
    EXPECT_EQ(t.yearly, c.rows) << c.name;
  }
}

TEST(ReconstructionFileTest, FileWithoutAnyLineEndsTheRun) {
  Sandbox box;
  box.write("xy.txt", "0 100\n");
  box.write("recon.txt", "");
  Result r = box.run("xy.txt\n1\nn\nrecon.txt\n");
  EXPECT_EQ(r.err, "? Run-Time Error:\n? Attempt to read past end of file\n? READ(UNIT=10,...\n");
  EXPECT_EQ(r.status, 255);
}

TEST(ReconstructionFileTest, TooManyYearRecordsEndTheRunBeforeAnyOutputFile) {
  std::string recon = "h\n";
  for (int y = 0; y < 2500; ++y) recon += " 1000    29.000\n";
  Sandbox box;
  box.write("xy.txt", "0 100\n");
  box.write("recon.txt", recon + "bad line\n");
  Result r = box.run("xy.txt\n1\nn\nrecon.txt\n28\n5\n");
  EXPECT_EQ(r.status, 0) << "2500 records and a bad line are within the limit";
  EXPECT_TRUE(contains(r.out, recon_read("  1000  3499  2500")));

  box.write("recon.txt", recon + " 1000    29.000\n");
  ::unlink(box.path("Brix_ELI_5N-5S.txt").c_str());
  r = box.run("xy.txt\n1\nn\nrecon.txt\n28\n5\n");
  EXPECT_EQ(r.err, "? Run-Time Error:\n? Too many year records (more than 2500)\n"
                   "? READ(UNIT=10,...\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_FALSE(box.read("Brix_ELI_5N-5S.txt"));
}

}  // namespace
}  // namespace brix::e2e
