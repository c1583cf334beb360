// Time units and calendars against dates known from other tools and records.
#include "import/calendar.h"

#include <gtest/gtest.h>

#include <cmath>

namespace brix::importer {
namespace {

struct Known {
  const char* calendar;
  const char* units;
  double value;
  int year, month;
};

// The calendar month of time values whose dates are known.
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
    {"STANDARD", "Days since 1582-10-04", 1, 1582, 10},  // the next day is 1582-10-15
};

TEST(Calendar, KnownDates) {
  for (const Known& k : kKnown) {
    std::string why;
    auto units = parse_time_units(k.units, *parse_calendar(k.calendar), &why);
    ASSERT_TRUE(units) << k.units << ": " << why;
    EXPECT_EQ(month_of(*units, k.value), (YearMonth{k.year, k.month})) << k.calendar << " " << k.units << " " << k.value;
  }
}

TEST(Calendar, GregorianReformSkipsTenDays) {
  EXPECT_EQ(day_number(Calendar::kStandard, 1582, 10, 15) - day_number(Calendar::kStandard, 1582, 10, 4), 1);
  EXPECT_EQ(date_of(Calendar::kStandard, day_number(Calendar::kStandard, 1582, 10, 4) + 1), (Date{1582, 10, 15}));
  EXPECT_EQ(day_number(Calendar::kProlepticGregorian, 1970, 1, 1), 0);
  EXPECT_EQ(day_number(Calendar::kJulian, 1970, 1, 1), 13);
}

TEST(Calendar, DatesAndDayNumbersAgreeBothWays) {
  for (Calendar c : {Calendar::kStandard, Calendar::kProlepticGregorian, Calendar::kJulian, Calendar::kNoLeap,
                     Calendar::kAllLeap, Calendar::k360Day}) {
    Date previous = date_of(c, -200000);
    for (long long z = -200000 + 1; z <= 200000; ++z) {
      Date d = date_of(c, z);
      ASSERT_EQ(day_number(c, d.year, d.month, d.day), z) << static_cast<int>(c);
      bool next_day = d.day == previous.day + 1 && d.month == previous.month;
      bool next_month = d.day == 1 && (d.month == previous.month + 1 || (d.month == 1 && previous.month == 12));
      bool reform = c == Calendar::kStandard && d == Date{1582, 10, 15};
      ASSERT_TRUE(next_day || next_month || reform) << static_cast<int>(c) << " " << z;
      previous = d;
    }
  }
}

TEST(Calendar, RejectsWhatItCannotPlace) {
  std::string why;
  EXPECT_FALSE(parse_calendar("none"));
  for (const char* units : {"months since 1900-01-01", "days", "days since", "days since 1900-13-01",
                            "days since 1900-01-01 00:00:00 +05:00", "Month"})
    EXPECT_FALSE(parse_time_units(units, Calendar::kStandard, &why)) << units;
  EXPECT_NE(why.find("Month"), std::string::npos);
  auto units = parse_time_units("days since 1900-01-01", Calendar::kStandard, &why);
  EXPECT_FALSE(month_of(*units, std::nan("")));
  EXPECT_FALSE(month_of(*units, 1e300));
}

}  // namespace
}  // namespace brix::importer
