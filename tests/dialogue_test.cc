// The whole run through the real program: the dialogue with its retries and
// its ends, both input files, and both tables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e.h"

namespace brix::e2e {
namespace {

// Four identical years: every series is constant, so smoothing leaves it as
// it is.
std::string four_equal_years() {
  std::string s = "QMV reconstruction, 4 points\n";
  for (int y = 1950; y <= 1953; ++y)
    s += four_point_year(y);
  return s;
}

TEST(DialogueTest, FullRunWithRetries) {
  Sandbox box;
  box.write("xy.txt", kFourPoints);
  box.write("recon.txt", four_equal_years());
  // A missing file, order answers 0, 3 and 1.0, an empty line before the
  // answer 1, "/" at the threshold (keeps 0.0), smoothing 4 then 5.
  Result r = box.run("missing.txt\nxy.txt\n0\n3\n1.0\n\n1\nn\nrecon.txt\n/\n4\n5\n");
  std::string expected = welcome() + ask_coordinates() + ask_coordinates() +
                         coordinates_opened("xy.txt") + ask_order() + ask_order() + ask_order() +
                         ask_order() + points_read("    4") + ask_dateline() + reading_recon() +
                         ask_recon() + recon_opened("recon.txt") +
                         recon_read("  1950  1953     4") + ask_threshold() +
                         threshold_used("   0.") + ask_smoothing() + ask_smoothing() + closing();
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.err, kEnd);
  EXPECT_EQ(r.status, 0);

  // Threshold 0: the three band points are warm in every year.
  std::string yearly = kYearlyHeading;
  std::string smoothed = kSmoothedHeading;
  for (int y = 1950; y <= 1953; ++y) {
    std::string year = std::to_string(y);
    yearly += " " + year + "  1.000  160.00   10.00    5.77  29.000   1.000   0.577\n";
    smoothed += " " + year +
                "  1.000  1.000  1.000  160.00  160.00  160.00  10.000  10.000"
                "  29.000  29.000  29.000   1.000   1.000\n";
  }
  EXPECT_EQ(box.read("Brix_ELI_5N-5S.txt"), yearly);
  EXPECT_EQ(box.read("Brix_ELI_5N-5S_Spline.txt"), smoothed);
}

TEST(DialogueTest, FourGridPointExample) {
  Sandbox box;
  box.write("xy.txt", kFourPoints);
  box.write("recon.txt", "header\n" + four_point_year(1950));
  Result r = box.run("xy.txt\n1\nn\nrecon.txt\n28.5\n5\n");
  EXPECT_EQ(r.out, console_to_threshold("    4", "  1950  1950     1") +
                       threshold_used("  29.") + ask_smoothing() + closing());
  EXPECT_EQ(r.err, kEnd);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(box.read("Brix_ELI_5N-5S.txt"),
            std::string(kYearlyHeading) +
                " 1950  0.667  165.00    7.07    5.00  29.500   0.707   0.500\n");
  // One year: too short to smooth, so the marker -9998 stands in row 1; the
  // whole-record means equal the single row's values.
  EXPECT_EQ(box.read("Brix_ELI_5N-5S_Spline.txt"),
            std::string(kSmoothedHeading) +
                " 1950  0.667*******  0.667  165.00-9998.00  165.00   7.071********"
                "  29.500********  29.500   0.707********\n");
}

TEST(DialogueTest, DatelineAnswers) {
  const struct {
    const char* answer;
    const char* mean_lon;  // MN_Lon of the single row
  } cases[] = {{"y", "  180.00"}, {"yes", "  180.00"}, {"Y", "    0.00"}, {"", "    0.00"},
               {" y", "    0.00"}};
  for (const auto& c : cases) {
    Sandbox box;
    box.write("xy.txt", "0 -170\n0 170\n");
    box.write("recon.txt", "h\n 2000    29.000    29.000\n");
    Result r = box.run(std::string("xy.txt\n1\n") + c.answer + "\nrecon.txt\n28\n5\n");
    EXPECT_EQ(r.status, 0) << c.answer;
    auto table = box.read("Brix_ELI_5N-5S.txt");
    ASSERT_TRUE(table) << c.answer;
    std::string row = table->substr(std::string(kYearlyHeading).size());
    EXPECT_EQ(row.substr(12, 8), c.mean_lon) << "answer '" << c.answer << "'";
  }
}

TEST(DialogueTest, EndOfInputAtEachQuestion) {
  const std::string recon = "h\n" + four_point_year(1950);
  const std::string to_threshold = console_to_threshold("    4", "  1950  1950     1");
  const struct {
    const char* name;
    std::string input;
    std::string out;
    std::optional<std::string> yearly, smoothed;
  } cases[] = {
      {"coordinate file name", "", welcome() + ask_coordinates(), {}, {}},
      {"order", "xy.txt\n",
       welcome() + ask_coordinates() + coordinates_opened("xy.txt") + ask_order(), {}, {}},
      {"order, after a wrong answer", "xy.txt\n7\n",
       welcome() + ask_coordinates() + coordinates_opened("xy.txt") + ask_order() + ask_order(),
       {}, {}},
      {"dateline", "xy.txt\n1\n",
       welcome() + ask_coordinates() + coordinates_opened("xy.txt") + ask_order() +
           points_read("    4") + ask_dateline(),
       {}, {}},
      {"reconstruction file name", "xy.txt\n1\nn\n",
       welcome() + ask_coordinates() + coordinates_opened("xy.txt") + ask_order() +
           points_read("    4") + ask_dateline() + reading_recon() + ask_recon(),
       {}, {}},
      // The yearly table's file is created before the threshold question.
      {"threshold", "xy.txt\n1\nn\nrecon.txt\n", to_threshold, "", {}},
      {"smoothing", "xy.txt\n1\nn\nrecon.txt\n28.5\n",
       to_threshold + threshold_used("  29.") + ask_smoothing(),
       std::string(kYearlyHeading) +
           " 1950  0.667  165.00    7.07    5.00  29.500   0.707   0.500\n",
       kSmoothedHeading},
  };
  for (const auto& c : cases) {
    Sandbox box;
    box.write("xy.txt", kFourPoints);
    box.write("recon.txt", recon);
    Result r = box.run(c.input);
    EXPECT_EQ(r.out, c.out) << c.name;
    EXPECT_EQ(r.err, eof_report()) << c.name;
    EXPECT_EQ(r.status, 255) << c.name;
    EXPECT_EQ(box.read("Brix_ELI_5N-5S.txt"), c.yearly) << c.name;
    EXPECT_EQ(box.read("Brix_ELI_5N-5S_Spline.txt"), c.smoothed) << c.name;
  }
}

TEST(DialogueTest, LongFileNameOpensByTheWholeName) {
  Sandbox box;
  std::string name = std::string(90, 'x') + ".txt";
  box.write(name, kFourPoints);
  box.write("recon.txt", "h\n");
  Result r = box.run("  " + name + "  \n1\nn\nrecon.txt\n28\n5\n");
  EXPECT_EQ(r.status, 0);
  std::string echo = "\n XY coordinates file opened:   " + name.substr(0, 78) + "\n";
  EXPECT_NE(r.out.find(echo), std::string::npos);
  EXPECT_NE(r.out.find(points_read("    4")), std::string::npos);
}

TEST(DialogueTest, ExistingTablesKeepNothingOfTheirOldContent) {
  Sandbox box;
  box.write("xy.txt", kFourPoints);
  box.write("recon.txt", "h\n");
  std::string old(10000, '#');
  box.write("Brix_ELI_5N-5S.txt", old);
  box.write("Brix_ELI_5N-5S_Spline.txt", old);
  Result r = box.run("xy.txt\n1\nn\nrecon.txt\n28\n5\n");
  EXPECT_EQ(r.status, 0);
  // No year record: headings only.
  EXPECT_EQ(box.read("Brix_ELI_5N-5S.txt"), kYearlyHeading);
  EXPECT_EQ(box.read("Brix_ELI_5N-5S_Spline.txt"), kSmoothedHeading);
  EXPECT_NE(r.out.find(recon_read("     0    -1     0")), std::string::npos);
}

TEST(DialogueTest, OldContentStaysWhileTheThresholdQuestionWaits) {
  Sandbox box;
  box.write("xy.txt", kFourPoints);
  box.write("recon.txt", "h\n");
  box.write("Brix_ELI_5N-5S.txt", "old\n");
  Result r = box.run("xy.txt\n1\nn\nrecon.txt\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(box.read("Brix_ELI_5N-5S.txt"), "old\n");
}

TEST(DialogueTest, TableThatCannotBeCreated) {
  Sandbox box;
  box.write("xy.txt", kFourPoints);
  box.write("recon.txt", "h\n");
  ::chmod(box.dir().c_str(), 0555);
  Result r = box.run("xy.txt\n1\nn\nrecon.txt\n", /*as_nobody=*/true);
  ::chmod(box.dir().c_str(), 0755);
  EXPECT_EQ(r.out, welcome() + ask_coordinates() + coordinates_opened("xy.txt") + ask_order() +
                       points_read("    4") + ask_dateline() + reading_recon() + ask_recon() +
                       recon_opened("recon.txt") + recon_read("     0    -1     0"));
  EXPECT_EQ(r.err, "? System Error:\n? Permission denied\n? OPEN(UNIT=10,...\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_FALSE(box.read("Brix_ELI_5N-5S.txt"));
}

}  // namespace
}  // namespace brix::e2e
