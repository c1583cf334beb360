#include "records/format.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace brix::records {
namespace {

TEST(FormatTest, QuestionFormat) {
  Format f("(/1x,'Enter file name for XY coordinates',t45,'==> ',$)");
  const auto& d = f.descriptors();
  ASSERT_EQ(d.size(), 6u);
  EXPECT_EQ(d[0].edit, Edit::kSlash);
  EXPECT_EQ(d[1].edit, Edit::kSkip);
  EXPECT_EQ(d[1].n, 1);
  EXPECT_EQ(d[2].edit, Edit::kText);
  EXPECT_EQ(d[2].text, "Enter file name for XY coordinates");
  EXPECT_EQ(d[3].edit, Edit::kTab);
  EXPECT_EQ(d[3].n, 45);
  EXPECT_EQ(d[4].text, "==> ");
  EXPECT_EQ(d[5].edit, Edit::kDollar);
}

TEST(FormatTest, RepeatCountsAreKeptNotExpanded) {
  Format f("(i5,12000f10.3)");
  const auto& d = f.descriptors();
  ASSERT_EQ(d.size(), 2u);
  EXPECT_EQ(d[0].edit, Edit::kI);
  EXPECT_EQ(d[0].w, 5);
  EXPECT_EQ(d[1].edit, Edit::kF);
  EXPECT_EQ(d[1].repeat, 12000);
  EXPECT_EQ(d[1].w, 10);
  EXPECT_EQ(d[1].d, 3);
}

TEST(FormatTest, BlanksOutsideTextMeanNothingAndDoubledQuotesStandForOne) {
  Format f("( 3 f 8 . 2 , 'it''s' , ' a b ' )");
  const auto& d = f.descriptors();
  ASSERT_EQ(d.size(), 3u);
  EXPECT_EQ(d[0].repeat, 3);
  EXPECT_EQ(d[0].w, 8);
  EXPECT_EQ(d[0].d, 2);
  EXPECT_EQ(d[1].text, "it's");
  EXPECT_EQ(d[2].text, " a b ");
}

TEST(FormatTest, MalformedTextsAreRefused) {
  for (const char* text : {"i5", "(i5", "(q5)", "(f5)", "(f3.2)", "('open)", "(t)", "(i5) x",
                           "(0f5.1)", "(t0)", "(2/)"}) {
    EXPECT_THROW(Format{text}, std::invalid_argument) << text;
  }
}

}  // namespace
}  // namespace brix::records
