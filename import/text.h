// The small texts that the importer's messages and summary are made of.
#pragma once

#include <array>
#include <charconv>
#include <string>

#include "import/calendar.h"

namespace brix::importer {

// The shortest text that reads back as the same value ("0.5", "-180").
template <typename T>
std::string number(T v) {
  char text[64];
  auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed).ptr;
  return std::string(text, end);
}

// Six significant digits, for values in messages.
std::string brief(double v);

// "1 latitude", "2 latitudes".
std::string count(long long n, const std::string& thing);

// "2006-01"; "-0005-01" for years before 0.
std::string year_month(YearMonth ym);

// A date as YYYY-MM-DD, from seconds since day 0 of the calendar.
std::string date_text(Calendar calendar, double instant);

// The file name of a path, without its folders.
std::string base_name(const std::string& path);

// "months 1-12", "months 6-8", "months 1-3,12", "month 7".
std::string months_text(const std::array<bool, 13>& months);

}  // namespace brix::importer
