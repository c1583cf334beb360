#include "import/implausible.h"

#include <cmath>

#include "import/text.h"

namespace brix::importer {

void Flags::add(double v, std::size_t cell, std::size_t step) {
  ++values_;
  if (!cell_seen_[cell]) cell_seen_[cell] = 1, ++cells_;
  if (step != last_step_) last_step_ = step, ++steps_;
  auto it = by_value_.find(v);
  if (it == by_value_.end() && by_value_.size() < kShown) it = by_value_.emplace(v, Tally{}).first;
  if (it == by_value_.end()) return;
  it->second.cells.insert(cell);
  if (step != it->second.last_step) it->second.last_step = step, ++it->second.steps;
  ++it->second.values;
}

std::string Flags::warning() const {
  if (values_ == 0) return "";
  std::string s = count(static_cast<long long>(values_), "value") + " " + what_ +
                  " taken as missing (" + count(static_cast<long long>(cells_), "cell") + ", " +
                  count(static_cast<long long>(steps_), "time step") + "): ";
  std::size_t shown = 0;
  for (const auto& [v, t] : by_value_)
    s += (shown++ ? ", " : "") + brief(v) + " in " +
         count(static_cast<long long>(t.cells.size()), "cell") + " at " +
         count(static_cast<long long>(t.steps), "time step");
  std::size_t others = 0;
  for (const auto& [v, t] : by_value_) others += t.values;
  if (others < values_) s += ", and other values";
  return s;
}

Plausibility::Plausibility(bool temperature, bool sst, std::size_t cells)
    : temperature_(temperature),
      sst_(sst),
      below_zero_("below absolute zero (flags, such as sea ice's, not declared missing)", cells),
      off_range_("outside " + number(kSstMin) + " to " + number(kSstMax) +
                     " degrees Celsius, which no sea-surface temperature reaches,",
                 cells) {}

void Plausibility::check(double* step, const std::vector<std::size_t>& at,
                         std::size_t step_index) {
  for (std::size_t c = 0; c < at.size(); ++c) {
    double& v = step[at[c]];
    if (std::isnan(v)) continue;
    ++values_;
    kelvin_like_ += v >= 170 && v <= 350;
    if (temperature_ && v < kAbsoluteZero) {
      below_zero_.add(v, c, step_index);
      v = std::nan("");
    } else if (sst_ && (v < kSstMin || v > kSstMax)) {
      off_range_.add(v, c, step_index);
      v = std::nan("");
    }
  }
}

std::vector<std::string> Plausibility::warnings() const {
  std::vector<std::string> w;
  for (const std::string& s : {below_zero_.warning(), off_range_.warning()})
    if (!s.empty()) w.push_back(s);
  return w;
}

long long Plausibility::kelvin_like_percent(Scale scale) const {
  if (scale != Scale::kCelsius || values_ == 0 || kelvin_like_ * 10 < values_ * 9) return -1;
  return static_cast<long long>(kelvin_like_ * 100 / values_);
}

}  // namespace brix::importer
