#include "import/calendar.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <string>

namespace brix::importer {
namespace {

long long floor_div(long long a, long long b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Days of a March-based year before the first of month m (3 = March ... 14 = February).
long long days_before_march_month(int m) {
  int mp = m > 2 ? m - 3 : m + 9;
  return (153LL * mp + 2) / 5;
}

// Day numbers and dates of the Gregorian and Julian rules, with 1970-01-01
// of the Gregorian calendar as day 0 for both (after H. Hinnant's algorithms).
long long gregorian_day(long long y, int m, int d) {
  y -= m <= 2;
  long long era = floor_div(y, 400);
  long long yoe = y - era * 400;
  long long doe = yoe * 365 + yoe / 4 - yoe / 100 + days_before_march_month(m) + d - 1;
  return era * 146097 + doe - 719468;
}

long long julian_day(long long y, int m, int d) {
  y -= m <= 2;
  long long era = floor_div(y, 4);
  long long doe = (y - era * 4) * 365 + days_before_march_month(m) + d - 1;
  return era * 1461 + doe - 719470;
}

// Month and day from the day of a March-based year, and the year's correction.
Date from_march_day(long long year, long long doy) {
  int mp = static_cast<int>((5 * doy + 2) / 153);
  int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  int m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<int>(year + (m <= 2)), m, d};
}

Date gregorian_date(long long z) {
  z += 719468;
  long long era = floor_div(z, 146097);
  long long doe = z - era * 146097;
  long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  return from_march_day(era * 400 + yoe, doe - (365 * yoe + yoe / 4 - yoe / 100));
}

Date julian_date(long long z) {
  z += 719470;
  long long era = floor_div(z, 1461);
  long long doe = z - era * 1461;
  long long yoe = std::min(doe / 365, 3LL);
  return from_march_day(era * 4 + yoe, doe - 365 * yoe);
}

const long long kGregorianStart = gregorian_day(1582, 10, 15);

// Days before each month in a year of fixed length.
constexpr std::array<int, 13> kNoLeapBefore = {0,   31,  59,  90,  120, 151, 181,
                                               212, 243, 273, 304, 334, 365};
constexpr std::array<int, 13> kAllLeapBefore = {0,   31,  60,  91,  121, 152, 182,
                                                213, 244, 274, 305, 335, 366};

Date fixed_length_date(long long z, const std::array<int, 13>& before) {
  long long length = before[12];
  long long year = floor_div(z, length);
  int doy = static_cast<int>(z - year * length);
  int m = 1;
  while (before[m] <= doy) ++m;
  return {static_cast<int>(year), m, doy - before[m - 1] + 1};
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Reads an optionally signed integer at s[i...]; false when there is none.
bool take_int(std::string_view s, std::size_t& i, long long& v) {
  std::size_t start = i;
  bool negative = i < s.size() && (s[i] == '-' || s[i] == '+') && s[i++] == '-';
  std::size_t digits = i;
  v = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && i - digits < 12)
    v = v * 10 + (s[i++] - '0');
  if (i == digits) {
    i = start;
    return false;
  }
  if (negative) v = -v;
  return true;
}

bool take(std::string_view s, std::size_t& i, char c) {
  if (i < s.size() && s[i] == c) {
    ++i;
    return true;
  }
  return false;
}

}  // namespace

std::optional<Calendar> parse_calendar(std::string_view name) {
  std::string n = lower(name);
  if (n == "standard" || n == "gregorian") return Calendar::kStandard;
  if (n == "proleptic_gregorian") return Calendar::kProlepticGregorian;
  if (n == "julian") return Calendar::kJulian;
  if (n == "noleap" || n == "365_day") return Calendar::kNoLeap;
  if (n == "all_leap" || n == "366_day") return Calendar::kAllLeap;
  if (n == "360_day") return Calendar::k360Day;
  return std::nullopt;
}

long long day_number(Calendar calendar, int year, int month, int day) {
  switch (calendar) {
    case Calendar::kStandard: {
      long long g = gregorian_day(year, month, day);
      return g >= kGregorianStart ? g : julian_day(year, month, day);
    }
    case Calendar::kProlepticGregorian:
      return gregorian_day(year, month, day);
    case Calendar::kJulian:
      return julian_day(year, month, day);
    case Calendar::kNoLeap:
      return 365LL * year + kNoLeapBefore[month - 1] + day - 1;
    case Calendar::kAllLeap:
      return 366LL * year + kAllLeapBefore[month - 1] + day - 1;
    case Calendar::k360Day:
      return 360LL * year + 30 * (month - 1) + day - 1;
  }
  return 0;
}

Date date_of(Calendar calendar, long long day) {
  switch (calendar) {
    case Calendar::kStandard:
      return day >= kGregorianStart ? gregorian_date(day) : julian_date(day);
    case Calendar::kProlepticGregorian:
      return gregorian_date(day);
    case Calendar::kJulian:
      return julian_date(day);
    case Calendar::kNoLeap:
      return fixed_length_date(day, kNoLeapBefore);
    case Calendar::kAllLeap:
      return fixed_length_date(day, kAllLeapBefore);
    case Calendar::k360Day: {
      long long year = floor_div(day, 360);
      int doy = static_cast<int>(day - 360 * year);
      return {static_cast<int>(year), doy / 30 + 1, doy % 30 + 1};
    }
  }
  return {};
}

std::optional<TimeUnits> parse_time_units(std::string_view units, Calendar calendar,
                                          std::string* why) {
  std::string text = lower(units);
  std::size_t since = text.find(" since ");
  auto fail = [&](const std::string& reason) {
    *why = "time units \"" + std::string(units) + "\": " + reason;
    return std::nullopt;
  };
  if (since == std::string::npos) return fail("expected \"UNIT since DATE\"");
  std::string unit = text.substr(0, since);
  unit.erase(0, unit.find_first_not_of(' '));
  TimeUnits t;
  t.calendar = calendar;
  if (unit == "days" || unit == "day" || unit == "d")
    t.seconds_per_unit = 86400;
  else if (unit == "hours" || unit == "hour" || unit == "hrs" || unit == "hr" || unit == "h")
    t.seconds_per_unit = 3600;
  else if (unit == "minutes" || unit == "minute" || unit == "mins" || unit == "min")
    t.seconds_per_unit = 60;
  else if (unit == "seconds" || unit == "second" || unit == "secs" || unit == "sec" || unit == "s")
    t.seconds_per_unit = 1;
  else
    return fail("the unit must be days, hours, minutes or seconds");

  std::string_view s = std::string_view(text).substr(since + 7);
  std::size_t i = s.find_first_not_of(' ');
  if (i == std::string_view::npos) return fail("no date after \"since\"");
  long long y = 0, m = 0, d = 0;
  if (!take_int(s, i, y) || !take(s, i, '-') || !take_int(s, i, m) || !take(s, i, '-') ||
      !take_int(s, i, d) || m < 1 || m > 12 || d < 1 || d > 31 || y < -999999 || y > 999999)
    return fail("the date must be YYYY-MM-DD");
  t.origin_day =
      day_number(calendar, static_cast<int>(y), static_cast<int>(m), static_cast<int>(d));
  if (take(s, i, ' ') || take(s, i, 't')) {
    while (take(s, i, ' ')) {
    }
    long long hh = 0, mm = 0;
    std::size_t clock = i;
    if (take_int(s, i, hh) && take(s, i, ':') && take_int(s, i, mm)) {
      double ss = 0;
      if (take(s, i, ':')) {
        std::size_t end = s.find_first_not_of("0123456789.", i);
        if (end == std::string_view::npos) end = s.size();
        std::string digits(s.substr(i, end - i));
        if (digits.empty()) return fail("the time of day must be hh:mm[:ss]");
        ss = std::stod(digits);
        i = end;
      }
      t.origin_seconds = 3600.0 * static_cast<double>(hh) + 60.0 * static_cast<double>(mm) + ss;
    } else {
      i = clock;
    }
  }
  // Only a time zone of UTC may follow.
  std::string rest(s.substr(std::min(i, s.size())));
  rest.erase(0, rest.find_first_not_of(' '));
  rest.erase(rest.find_last_not_of(' ') + 1);
  bool utc =
      rest.empty() || rest == "z" || rest == "utc" || rest == "gmt" ||
      ((rest[0] == '+' || rest[0] == '-') && rest.find_first_not_of("0:", 1) == std::string::npos);
  if (!utc) return fail("only UTC times are supported, not \"" + rest + "\"");
  return t;
}

std::optional<YearMonth> month_of(const TimeUnits& units, double value) {
  double days = std::floor((units.origin_seconds + value * units.seconds_per_unit) / 86400.0);
  if (!std::isfinite(days) || std::fabs(days) > 1e11) return std::nullopt;
  Date d = date_of(units.calendar, units.origin_day + static_cast<long long>(days));
  return YearMonth{d.year, d.month};
}

double seconds_of(const TimeUnits& units, double value) {
  return static_cast<double>(units.origin_day) * 86400.0 +
         (units.origin_seconds + value * units.seconds_per_unit);
}

std::optional<YearMonth> middle_month(const TimeUnits& units, double lo, double hi) {
  return month_of(units, lo + (hi - lo) / 2);
}

std::optional<YearMonth> first_span_month(const TimeUnits& units, double lo, double hi) {
  auto day_of = [&](double v) {
    return std::floor((units.origin_seconds + v * units.seconds_per_unit) / 86400.0);
  };
  double lo_days = day_of(lo), hi_days = day_of(hi);
  if (!std::isfinite(lo_days) || !std::isfinite(hi_days) || std::fabs(lo_days) > 1e11 ||
      std::fabs(hi_days) > 1e11)
    return std::nullopt;
  long long start = units.origin_day + static_cast<long long>(lo_days);
  long long end = units.origin_day + static_cast<long long>(hi_days);
  Date first = date_of(units.calendar, start), last = date_of(units.calendar, end);
  long long end_first = day_number(units.calendar, first.year, last.month, last.day);
  if (end_first <= start)
    end_first = day_number(units.calendar, first.year + 1, last.month, last.day);
  if (end_first > end) end_first = end;  // a span shorter than a year
  Date middle = date_of(units.calendar, start + (end_first - start) / 2);
  return YearMonth{middle.year, middle.month};
}

}  // namespace brix::importer
