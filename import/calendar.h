// Time coordinates of CF datasets: "UNIT since DATE" in one of the CF
// calendars, and the calendar month in which a time value falls.
#pragma once

#include <compare>
#include <optional>
#include <string>
#include <string_view>

namespace brix::importer {

enum class Calendar {
  kStandard,            // Julian before 1582-10-15, Gregorian from then on (also "gregorian")
  kProlepticGregorian,  // Gregorian rules for every year
  kJulian,              // a leap year every fourth year
  kNoLeap,              // 365 days every year (also "365_day")
  kAllLeap,             // 366 days every year (also "366_day")
  k360Day,              // twelve months of 30 days
};

// The calendar of a "calendar" attribute, in any letter case; nullopt for a
// name that is not one of the above.
std::optional<Calendar> parse_calendar(std::string_view name);

// Consecutive days have consecutive numbers; the origin is the same for every
// calendar (day 0 is 1970-01-01 of the Gregorian calendar) only where the
// calendars agree on dates, which the fixed-length ones do not.
long long day_number(Calendar calendar, int year, int month, int day);

struct YearMonth {
  int year = 0;
  int month = 0;  // 1 to 12
  auto operator<=>(const YearMonth&) const = default;
};
struct Date {
  int year = 0, month = 0, day = 0;
  bool operator==(const Date&) const = default;
};
Date date_of(Calendar calendar, long long day);

// "days|hours|minutes|seconds since YYYY-MM-DD[ hh:mm[:ss[.f]]][Z|UTC]".
struct TimeUnits {
  Calendar calendar = Calendar::kStandard;
  double seconds_per_unit = 86400;
  long long origin_day = 0;   // day_number of the date after "since"
  double origin_seconds = 0;  // time of day of that date
};
// nullopt with *why set when the text is not such a unit.
std::optional<TimeUnits> parse_time_units(std::string_view units, Calendar calendar,
                                          std::string* why);

// The calendar month in which the time value falls; nullopt for a value
// that is not finite or lies beyond a hundred million years.
std::optional<YearMonth> month_of(const TimeUnits& units, double value);

}  // namespace brix::importer
