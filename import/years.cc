#include "import/years.h"

#include <algorithm>
#include <map>

#include "import/text.h"
#include "input/capacity.h"
#include "records/year_layout.h"

namespace brix::importer {
namespace {

// Each year's steps in the season's months, and the months with a step.
struct Tally {
  std::map<int, std::vector<std::size_t>> steps;  // by the year the season is labelled by
  std::map<int, std::array<bool, 13>> seen;       // by calendar year
  const Season& season;

  Tally(const Series& s, const Season& chosen) : season(chosen) {
    for (std::size_t k = 0; k < s.steps.size(); ++k) {
      YearMonth ym = s.steps[k].month;
      seen[ym.year][static_cast<std::size_t>(ym.month)] = true;
      if (season.has(ym.month)) steps[label(ym)].push_back(k);
    }
  }
  // The year whose season a month of the calendar belongs to: the next one
  // for the months of a season before the year end.
  int label(YearMonth ym) const {
    return season.wraps() && ym.month >= season.months().front() ? ym.year + 1 : ym.year;
  }
  // The months of the year's season without a step, in the season's order.
  std::vector<YearMonth> missing(int year) const {
    std::vector<YearMonth> lacking;
    for (int m : season.months()) {
      YearMonth ym{season.year_of(m, year), m};
      auto it = seen.find(ym.year);
      if (it == seen.end() || !it->second[static_cast<std::size_t>(m)]) lacking.push_back(ym);
    }
    return lacking;
  }
  bool complete(int year) const { return missing(year).empty(); }
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
                t.season.text());
}

// "month 7", "months 1-3": the months of a year lacking, as numbers; for a
// season across the year end, as months of the calendar ("1984-12").
std::string lacking_text(const Season& season, const std::vector<YearMonth>& lacking) {
  if (season.wraps()) {
    std::string s;
    for (YearMonth ym : lacking) s += (s.empty() ? "" : ", ") + year_month(ym);
    return s;
  }
  std::array<bool, 13> months{};
  for (YearMonth ym : lacking) months[static_cast<std::size_t>(ym.month)] = true;
  return months_text(months);
}

// A year inside the range that lacks a month: the error names the months
// and, for several files, the files around them.
[[noreturn]] void gap(const Series& s, const Tally& t, int y) {
  std::vector<YearMonth> lacking = t.missing(y);
  std::string around;
  if (s.files.size() > 1) {
    YearMonth from = lacking.front(), to = lacking.back();
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
  throw Failure("year " + std::to_string(y) + " lacks a time step in " +
                lacking_text(t.season, lacking) + around + ", one of its " + t.season.text() +
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

Years select_years(const Series& s, const Season& season,
                   const std::optional<std::array<int, 2>>& asked) {
  Tally t(s, season);
  if (s.steps.empty()) throw Failure(s.files.front()->name() + " has no time step with a valid time");
  Years r;
  long long a = asked ? (*asked)[0] : t.label(s.first_step);
  long long b = asked ? (*asked)[1] : t.label(s.last_step);
  std::vector<int> written;
  for (long long y = std::max<long long>(a, t.label(s.first_step));
       y <= std::min<long long>(b, t.label(s.last_step)); ++y)
    (t.complete(static_cast<int>(y)) ? written : r.incomplete).push_back(static_cast<int>(y));
  if (written.empty()) no_complete_year(s, t, asked);
  r.first = written.front();
  r.last = written.back();
  r.fewer_than_asked = asked && (r.first != a || r.last != b);
  for (int y : r.incomplete) r.lacking.push_back(t.missing(y));
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
