#include "import/text.h"

#include <cmath>
#include <cstdio>

namespace brix::importer {

std::string brief(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

std::string count(long long n, const std::string& thing) {
  return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

std::string year_month(YearMonth ym) {
  char text[32];
  std::snprintf(text, sizeof text, ym.year >= 0 ? "%04d-%02d" : "%05d-%02d", ym.year, ym.month);
  return text;
}

std::string date_text(Calendar calendar, double instant) {
  Date d = date_of(calendar, static_cast<long long>(std::floor(instant / 86400)));
  char text[40];
  std::snprintf(text, sizeof text, d.year >= 0 ? "%04d-%02d-%02d" : "%05d-%02d-%02d", d.year,
                d.month, d.day);
  return text;
}

std::string base_name(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string months_text(const std::array<bool, 13>& months) {
  std::string s;
  int n = 0;
  for (int m = 1; m <= 12; ++m) {
    if (!months[static_cast<std::size_t>(m)]) continue;
    int end = m;
    while (end < 12 && months[static_cast<std::size_t>(end + 1)]) ++end;
    if (!s.empty()) s += ',';
    s += std::to_string(m);
    if (end > m) s += '-' + std::to_string(end);
    n += end - m + 1;
    m = end;
  }
  return (n == 1 ? "month " : "months ") + s;
}

}  // namespace brix::importer
