#include "import/years.h"

#include <algorithm>
#include <map>

#include "import/text.h"
#include "input/capacity.h"
#include "records/year_layout.h"

namespace brix::importer {
namespace {

// Each year's steps in the chosen months, and the months with a step.
struct Tally {
  std::map<int, std::vector<std::size_t>> steps;
  std::map<int, Months> seen;
  const Months& months;

  Tally(const Series& s, const Months& chosen) : months(chosen) {
    for (std::size_t k = 0; k < s.steps.size(); ++k) {
      YearMonth ym = s.steps[k].month;
      seen[ym.year][static_cast<std::size_t>(ym.month)] = true;
      if (months[static_cast<std::size_t>(ym.month)]) steps[ym.year].push_back(k);
    }
  }
  // The chosen months of a year without a step.
  Months missing(int year) const {
    Months lacking{};
    auto it = seen.find(year);
    for (std::size_t m = 1; m <= 12; ++m)
      lacking[m] = months[m] && (it == seen.end() || !it->second[m]);
    return lacking;
  }
  bool complete(int year) const { return missing(year) == Months{}; }
};

// No year is complete: for yearly data, or a single step, the advice to
// take the month of the steps as the year.
[[noreturn]] void no_complete_year(const Series& s, const Tally& t,
                                   const std::optional<std::array<int, 2>>& asked) {
  const std::string& name = s.files.front()->name();
  const std::string span = year_month(s.first_step) + " to " + year_month(s.last_step);
  if (!asked) {
    std::map<int, int> months_seen;  // month -> years with a step in it
    bool single = true;
    for (const auto& [year, months] : t.seen) {
      int n = 0;
      for (int m = 1; m <= 12; ++m)
        if (months[static_cast<std::size_t>(m)]) ++n, ++months_seen[m];
      single &= n == 1;
    }
    if (single) {
      auto most = std::max_element(months_seen.begin(), months_seen.end(),
                                   [](auto& x, auto& y) { return x.second < y.second; });
      throw Failure("no complete year: each year of " + name + " (" + span +
                    ") has a single time step; give --months " + std::to_string(most->first) +
                    " to take the step of month " + std::to_string(most->first) +
                    " as the year's value");
    }
  }
  throw Failure("no complete year: no year " +
                (asked ? "of " + std::to_string((*asked)[0]) + ":" + std::to_string((*asked)[1]) + " "
                       : std::string()) +
                "in " + name + " (" + span + ") has a time step in each of its " +
                months_text(t.months));
}

// A year inside the range that lacks a month: the error names the months
// and, for several files, the files around them.
[[noreturn]] void gap(const Series& s, const Tally& t, int y) {
  Months lacking = t.missing(y);
  std::string around;
  if (s.files.size() > 1) {
    YearMonth from{y, 1}, to{y, 12};
    for (int m = 1; m <= 12; ++m)
      if (lacking[static_cast<std::size_t>(m)]) to.month = m;
    for (int m = 12; m >= 1; --m)
      if (lacking[static_cast<std::size_t>(m)]) from.month = m;
    const Field* before = nullptr;
    const Field* after = nullptr;
    for (const Step& st : s.steps) {
      if (st.month < from) before = s.files[st.file].get();
      if (st.month > to && after == nullptr) after = s.files[st.file].get();
    }
    if (before != nullptr && after != nullptr)
      around = before == after ? " (inside " + before->path() + ")"
                               : " (between " + before->path() + " and " + after->path() + ")";
  }
  throw Failure("year " + std::to_string(y) + " lacks a time step in " + months_text(lacking) +
                around + ", one of its " + months_text(t.months) +
                ", and brix_eli needs years that follow each other: give --years to write only "
                "the years before it or after it");
}

void check_fit(const Years& r) {
  int n = r.last - r.first + 1;
  if (n > input::max_years)
    throw Failure(std::to_string(n) + " years to write (" + std::to_string(r.first) + " to " +
                  std::to_string(r.last) + "), more than the " + std::to_string(input::max_years) +
                  " brix_eli takes: choose fewer with --years");
  if (r.first < records::kYearMin || r.last > records::kYearMax)
    throw Failure("year " + std::to_string(r.first < records::kYearMin ? r.first : r.last) +
                  " does not fit the " + std::to_string(records::kYearWidth) +
                  " columns of brix_eli's year field");
}

}  // namespace

Years select_years(const Series& s, const Months& months,
                   const std::optional<std::array<int, 2>>& asked) {
  Tally t(s, months);
  if (s.steps.empty()) throw Failure(s.files.front()->name() + " has no time step with a valid time");
  Years r;
  long long a = asked ? (*asked)[0] : s.first_step.year;
  long long b = asked ? (*asked)[1] : s.last_step.year;
  std::vector<int> written;
  for (long long y = std::max<long long>(a, s.first_step.year);
       y <= std::min<long long>(b, s.last_step.year); ++y)
    (t.complete(static_cast<int>(y)) ? written : r.incomplete).push_back(static_cast<int>(y));
  if (written.empty()) no_complete_year(s, t, asked);
  r.first = written.front();
  r.last = written.back();
  r.fewer_than_asked = asked && (r.first != a || r.last != b);
  if (r.last - r.first + 1 < 4)
    r.warnings.push_back(
        "only " + count(r.last - r.first + 1, "year") +
        " written: brix_eli's spline needs 4 years or more, so its smoothed table will hold the "
        "spline's refusal markers");
  for (int y : r.incomplete)
    if (y > r.first && y < r.last) gap(s, t, y);
  check_fit(r);
  for (int y = r.first; y <= r.last; ++y) r.steps.push_back(t.steps[y]);
  return r;
}

}  // namespace brix::importer
