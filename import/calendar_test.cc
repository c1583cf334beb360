// Time units and calendars against dates known from other tools and records
// (import/testdata/calendar.txt).
#include "import/calendar.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "records/test_util.h"

namespace brix::importer {
namespace {

TEST(Calendar, KnownDates) {
  for (const auto& k : records::testing::cases("import/testdata/calendar.txt", "date")) {
    std::string why;
    std::optional<YearMonth> got;
    if (auto calendar = parse_calendar(k[0])) {
      if (auto units = parse_time_units(k[1], *calendar, &why))
        got = month_of(*units, std::strtod(k[2].c_str(), nullptr));
      else
        EXPECT_NE(why.find(k[1]), std::string::npos) << why;  // the message quotes them
    }
    EXPECT_EQ(got.value_or(YearMonth{}), (YearMonth{std::stoi(k[3]), std::stoi(k[4])}))
        << k[0] << ", " << k[1] << ", " << k[2];
  }
}

TEST(Calendar, StepsWithBoundsFallInTheMonthOfTheirMiddle) {
  for (const auto& k : records::testing::cases("import/testdata/calendar.txt", "span")) {
    std::string why;
    auto units = parse_time_units(k[2], *parse_calendar(k[1]), &why);
    ASSERT_TRUE(units) << why;
    double lo = std::strtod(k[3].c_str(), nullptr), hi = std::strtod(k[4].c_str(), nullptr);
    auto got = k[0] == "first" ? first_span_month(*units, lo, hi) : middle_month(*units, lo, hi);
    EXPECT_EQ(got.value_or(YearMonth{}), (YearMonth{std::stoi(k[5]), std::stoi(k[6])}))
        << k[0] << " " << k[1] << " " << lo << " to " << hi;
  }
}

TEST(Calendar, DatesAndDayNumbersAgreeBothWays) {
  for (Calendar c : {Calendar::kStandard, Calendar::kProlepticGregorian, Calendar::kJulian,
                     Calendar::kNoLeap, Calendar::kAllLeap, Calendar::k360Day})
    for (long long z = -200000; z < 200000; ++z) {
      Date d = date_of(c, z), next = date_of(c, z + 1);
      ASSERT_EQ(day_number(c, d.year, d.month, d.day), z) << static_cast<int>(c);
      bool next_day = next.day == d.day + 1 && next.month == d.month;
      bool next_month = next.day == 1 && next.month == d.month % 12 + 1;
      bool reform = c == Calendar::kStandard && next == Date{1582, 10, 15};
      ASSERT_TRUE(next_day || next_month || reform) << static_cast<int>(c) << " " << z;
    }
}

TEST(Calendar, MonthsHaveTheirCalendarsLengths) {
  for (const auto& k : records::testing::cases("import/testdata/calendar.txt", "months")) {
    const Calendar calendar = *parse_calendar(k[0]);
    const int year = std::stoi(k[1]);
    int days[13] = {};
    for (long long z = day_number(calendar, year, 1, 1); date_of(calendar, z).year == year; ++z)
      ++days[date_of(calendar, z).month];
    std::string got;
    for (int m = 1; m <= 12; ++m) got.append(m > 1 ? " " : "").append(std::to_string(days[m]));
    EXPECT_EQ(got, k[2]) << k[0] << " " << year;
  }
}

}  // namespace
}  // namespace brix::importer
