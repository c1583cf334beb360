#include "import/series.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "import/text.h"

namespace brix::importer {
namespace {

// Steps less than a minute apart are one step: time axes of the same months
// in other units or types differ by their rounding, never by a minute.
constexpr double kSameStep = 60;

// The field of each file, closed until its values are read; a message
// names the file when there are several and it does not already.
std::vector<std::unique_ptr<Field>> open_fields(const std::vector<std::string>& paths,
                                                const std::string& var, const Opener& open) {
  std::vector<std::unique_ptr<Field>> files;
  for (const std::string& path : paths) {
    try {
      files.push_back(std::make_unique<Field>(open(path), var));
    } catch (const Failure& e) {
      std::string what = e.what();
      if (paths.size() == 1 || what.find(path) != std::string::npos) throw;
      throw Failure(path + ": " + what);
    }
    files.back()->close();
  }
  return files;
}

void check_one_dataset(const std::vector<std::unique_ptr<Field>>& files) {
  const Field& first = *files.front();
  for (const auto& f : files) {
    if (f->name() != first.name())
      throw Failure(first.path() + " holds the variable " + first.name() + ", " + f->path() +
                    " the variable " + f->name() +
                    ": the files of a dataset hold one variable (choose it with --var)");
    if (f->time().units.calendar != first.time().units.calendar)
      throw Failure(first.path() + "'s time is in the calendar " + first.time().calendar_name +
                    ", " + f->path() + "'s in the calendar " + f->time().calendar_name +
                    ": the files of a dataset share one calendar");
  }
}

// Files in the order of their first steps (those without a valid time
// last), then by name, whatever the order they were given in.
void sort_by_first_step(std::vector<std::unique_ptr<Field>>& files) {
  auto start = [](const Field& f) {
    double t = INFINITY;
    for (const Stamp& st : f.time().stamps)
      if (st.month) t = std::min(t, st.instant);
    return t;
  };
  std::stable_sort(files.begin(), files.end(), [&](const auto& a, const auto& b) {
    double ta = start(*a), tb = start(*b);
    return ta != tb ? ta < tb : a->path() < b->path();
  });
}

// Every step with a valid time, in time order (in file order at one time):
// each once, the others at its time among the twins.
void merge_steps(Series& s) {
  std::vector<Step> all;
  for (std::size_t k = 0; k < s.files.size(); ++k) {
    const std::vector<Stamp>& stamps = s.files[k]->time().stamps;
    for (std::size_t t = 0; t < stamps.size(); ++t)
      if (stamps[t].month) all.push_back({*stamps[t].month, stamps[t].instant, k, t});
  }
  std::stable_sort(all.begin(), all.end(), [](const Step& a, const Step& b) {
    return a.instant != b.instant ? a.instant < b.instant : a.file < b.file;
  });
  for (const Step& st : all) {
    if (!s.steps.empty() && st.instant - s.steps.back().instant < kSameStep) {
      const Step& kept = s.steps.back();
      bool same_file = kept.file == st.file;
      for (const auto& [at, twin] : s.twins)
        same_file |= at == s.steps.size() - 1 && twin.file == st.file;
      if (same_file)
        throw Failure(s.files[st.file]->path() + " holds two steps at " +
                      date_text(s.files.front()->time().units.calendar, st.instant) + " (steps " +
                      std::to_string(kept.index + 1) + " and " + std::to_string(st.index + 1) +
                      " of its time axis)");
      s.twins.push_back({s.steps.size() - 1, st});
      continue;
    }
    s.steps.push_back(st);
  }
}

void summarise(Series& s) {
  std::map<std::pair<std::size_t, std::size_t>, std::vector<YearMonth>> pairs;
  for (const auto& [at, twin] : s.twins) pairs[{s.steps[at].file, twin.file}].push_back(twin.month);
  for (auto& [files, months] : pairs) s.twin_spans.push_back({files.first, files.second, months});
  for (const auto& f : s.files) {
    FileSpan span;
    span.path = f->path();
    for (const Stamp& st : f->time().stamps) {
      if (!st.month) continue;
      span.first = span.steps == 0 ? *st.month : std::min(span.first, *st.month);
      span.last = span.steps == 0 ? *st.month : std::max(span.last, *st.month);
      ++span.steps;
    }
    s.spans.push_back(span);
  }
  for (std::size_t k = 0; k < s.steps.size(); ++k) {
    YearMonth ym = s.steps[k].month;
    s.first_step = k == 0 ? ym : std::min(s.first_step, ym);
    s.last_step = k == 0 ? ym : std::max(s.last_step, ym);
  }
}

}  // namespace

Series open_series(const std::vector<std::string>& paths, const std::string& var,
                   const Opener& open) {
  Series s;
  s.files = open_fields(paths, var, open);
  check_one_dataset(s.files);
  sort_by_first_step(s.files);
  merge_steps(s);
  summarise(s);
  return s;
}

}  // namespace brix::importer
