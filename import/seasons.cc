#include "import/seasons.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace brix::importer {
namespace {

constexpr const char* kMonthNames[] = {"",       "January",   "February", "March",
                                       "April",  "May",       "June",     "July",
                                       "August", "September", "October",  "November",
                                       "December"};

bool to_month(std::string_view text, int& m) {
  std::string s(text);
  char* end = nullptr;
  errno = 0;
  long n = std::strtol(s.c_str(), &end, 10);
  m = static_cast<int>(n);
  return !s.empty() && *end == '\0' && errno == 0 && n >= 1 && n <= 12;
}

// Texts put together piece by piece: GCC 12 misjudges the copies of
// "literal" + string at -O3.
void append(std::string& s, std::string_view separator, std::string_view piece) {
  if (!s.empty()) s.append(separator);
  s.append(piece);
}

std::string joined(const std::vector<int>& months) {
  std::string s;
  for (int m : months) append(s, ",", std::to_string(m));
  return s;
}

// Runs of months that follow each other (December followed by January too),
// as [first, last] places in `months`.
std::vector<std::pair<std::size_t, std::size_t>> runs(const std::vector<int>& months) {
  std::vector<std::pair<std::size_t, std::size_t>> r;
  for (std::size_t k = 0; k < months.size(); ++k) {
    if (!r.empty() && months[k] == months[r.back().second] % 12 + 1)
      r.back().second = k;
    else
      r.push_back({k, k});
  }
  return r;
}

// "December", "January to March", "June, August".
std::string names(const std::vector<int>& months) {
  std::string s;
  for (auto [a, b] : runs(months)) {
    append(s, ", ", kMonthNames[months[a]]);
    if (b > a) s.append(" to ").append(kMonthNames[months[b]]);
  }
  return s;
}

// The two ways of writing the months: of one year, and across the year end
// (when December is among them).
std::string both_ways(std::vector<int> months) {
  std::sort(months.begin(), months.end());
  months.erase(std::unique(months.begin(), months.end()), months.end());
  std::string s = joined(months) + " (" + names(months) + " of one year)";
  if (months.back() == 12 && months.front() == 1) {
    // The season starts with the run that ends in December.
    std::size_t start = months.size() - 1;
    while (start > 0 && months[start - 1] == months[start] - 1) --start;
    std::vector<int> season(months.begin() + static_cast<std::ptrdiff_t>(start), months.end());
    season.insert(season.end(), months.begin(), months.begin() + static_cast<std::ptrdiff_t>(start));
    std::vector<int> before(season.begin(), season.begin() + static_cast<std::ptrdiff_t>(months.size() - start));
    std::vector<int> after(season.begin() + static_cast<std::ptrdiff_t>(months.size() - start), season.end());
    s += " or " + joined(season) + " (" + names(before) + " of the year before, then " +
         names(after) + ")";
  }
  return s;
}

// The months of a list, ranges expanded (12-2 runs across the year end).
std::vector<int> expand(std::string_view text) {
  const std::invalid_argument bad(
      "--months takes months 1 to 12, as 1-12, 6-8 or 1,2,3, or a season across the year end "
      "as 12-2 or 12,1,2, not \"" + std::string(text) + "\"");
  std::vector<int> months;
  std::string_view rest = text;
  while (true) {
    std::size_t comma = rest.find(',');
    std::string_view item = rest.substr(0, comma);
    std::size_t dash = item.find('-');
    int a = 0, b = 0;
    if (!to_month(item.substr(0, dash), a) ||
        !(dash == std::string_view::npos ? (b = a, true) : to_month(item.substr(dash + 1), b)))
      throw bad;
    for (int m = a;; m = m % 12 + 1) {
      months.push_back(m);
      if (m == b) break;
    }
    if (comma == std::string_view::npos) break;
    rest = rest.substr(comma + 1);
  }
  return months;
}

}  // namespace

Season::Season() {
  for (int m = 1; m <= 12; ++m) months_.push_back(m);
}

Season::Season(std::vector<int> months) : months_(std::move(months)) {}

Season Season::parse(std::string_view text) {
  Season s(expand(text));
  const std::vector<int>& m = s.months_;
  std::vector<std::size_t> descents;  // places whose month is not above the one before
  for (std::size_t k = 1; k < m.size(); ++k)
    if (m[k] <= m[k - 1]) descents.push_back(k);
  bool season = descents.size() == 1 && m[descents[0] - 1] == 12 && m.back() < m.front();
  std::vector<int> sorted = m;
  std::sort(sorted.begin(), sorted.end());
  bool repeated = std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end();
  if (repeated || !(descents.empty() || season))
    throw std::invalid_argument(
        "--months " + std::string(text) + " names " +
        (repeated ? std::string("a month twice") : "months in an order that makes no year") +
        ": write the months of one year in increasing order, or a season across the year end "
        "up to December and on from January; here " + both_ways(m));
  if (season) s.wrap_ = descents[0];
  return s;
}

bool Season::has(int month) const {
  return std::find(months_.begin(), months_.end(), month) != months_.end();
}

int Season::year_of(int month, int label) const {
  if (!wraps()) return label;
  for (std::size_t k = 0; k < wrap_; ++k)
    if (months_[k] == month) return label - 1;
  return label;
}

std::string Season::text() const {
  std::string s = months_.size() == 1 ? "month " : "months ";
  const std::size_t start = s.size();
  for (auto [a, b] : runs(months_)) {
    if (s.size() > start) s += ',';
    s += std::to_string(months_[a]);
    if (b > a) s.append("-").append(std::to_string(months_[b]));
  }
  return s;
}

std::string Season::mean_text() const {
  if (!wraps()) return "the mean of " + text();
  std::vector<int> before(months_.begin(), months_.begin() + static_cast<std::ptrdiff_t>(wrap_));
  std::vector<int> after(months_.begin() + static_cast<std::ptrdiff_t>(wrap_), months_.end());
  return "the mean of " + names(before) + " of the year before and " + names(after);
}

}  // namespace brix::importer
