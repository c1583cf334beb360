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

// The time value in seconds from day 0 of the calendar (NaN for NaN), so
// that times in different units of one calendar compare.
double seconds_of(const TimeUnits& units, double value);

// The month that holds the middle of the interval from `lo` to `hi`.
std::optional<YearMonth> middle_month(const TimeUnits& units, double lo, double hi);

// Climatology bounds run from the start of the first year's span to the end
// of the last year's (1961-01-01 to 1990-02-01 for Januaries): the month
// that holds the middle of the first year's span, from `lo` to the date of
// `hi` in the year of `lo` (or the next, for a span across the new year).
std::optional<YearMonth> first_span_month(const TimeUnits& units, double lo, double hi);

}  // namespace brix::importer
