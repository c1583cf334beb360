// Time units and calendars against dates known from other tools and records.
#include "import/calendar.h"

#include <gtest/gtest.h>

#include <cmath>

namespace brix::importer {
namespace {

// The calendar month in which a time value falls; {0, 0}: the calendar, the
// units or the value is refused.
struct Known {
  const char *calendar, *units;
  double value;
  int year, month;
};
const Known kKnown[] = {
    {"standard", "days since 1800-01-01 00:00:00", 0, 1800, 1},
    {"standard", "days since 1800-1-1", 30.99, 1800, 1},
    {"gregorian", "days since 1800-01-01", 31, 1800, 2},
    {"standard", "days since 1800-01-01", 73048 + 31 + 28, 2000, 2},  // 2000-02-29
    {"standard", "days since 1800-01-01", 73048 + 31 + 29, 2000, 3},
    // NCEP's "hours since 1-1-1": 1948-01-01 is 17067072, two days more than
    // the proleptic Gregorian count, as the Julian centuries before 1582 add.
    {"standard", "hours since 1-1-1 00:00:0.0", 17067072, 1948, 1},
    {"standard", "hours since 1-1-1 00:00:0.0", 17067071, 1947, 12},
    {"proleptic_gregorian", "days since 0001-01-01", 711126, 1948, 1},
    {"proleptic_gregorian", "days since 0001-01-01", 711125, 1947, 12},
    {"noleap", "days since 1850-01-01", 365 * 150 + 58, 2000, 2},
    {"365_day", "days since 1850-01-01", 365 * 150 + 59, 2000, 3},
    {"all_leap", "days since 2001-01-01", 59, 2001, 2},
    {"366_day", "days since 2001-01-01", 60, 2001, 3},
    {"360_day", "days since 1949-12-01", 30, 1950, 1},
    {"360_day", "days since 1949-12-01", 360 * 50 + 29, 1999, 12},
    {"julian", "days since 1900-01-01", 59, 1900, 2},  // 1900-02-29 of the Julian calendar
    {"standard", "seconds since 1970-01-01T00:00:00Z", 951782400 - 1, 2000, 2},
    {"standard", "seconds since 1970-01-01T00:00:00Z", 951868800, 2000, 3},
    {"standard", "minutes since 2000-01-01 12:00 UTC", -720, 2000, 1},
    {"standard", "minutes since 2000-01-01 12:00 UTC", -721, 1999, 12},
    {"STANDARD", "Days since 1582-10-04", 17, 1582, 10},  // the next day is 1582-10-15
    {"STANDARD", "Days since 1582-10-04", 18, 1582, 11},
    {"none", "days since 1900-01-01", 0, 0, 0},
    {"standard", "months since 1900-01-01", 0, 0, 0},
    {"standard", "days", 0, 0, 0},
    {"standard", "days since", 0, 0, 0},
    {"standard", "days since 1900-13-01", 0, 0, 0},
    {"standard", "days since 1900-01-01 00:00:00 +05:00", 0, 0, 0},
    {"standard", "days since 1900-01-01", NAN, 0, 0},
    {"standard", "days since 1900-01-01", 1e300, 0, 0},
};

TEST(Calendar, KnownDates) {
  for (const Known& k : kKnown) {
    std::string why;
    std::optional<YearMonth> got;
    if (auto calendar = parse_calendar(k.calendar)) {
      if (auto units = parse_time_units(k.units, *calendar, &why))
        got = month_of(*units, k.value);
      else
        EXPECT_NE(why.find(k.units), std::string::npos) << why;  // the message quotes them
    }
    EXPECT_EQ(got.value_or(YearMonth{}), (YearMonth{k.year, k.month}))
        << k.calendar << ", " << k.units << ", " << k.value;
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

}  // namespace
}  // namespace brix::importer
