#include "import/means.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "import/chunks.h"
#include "import/implausible.h"
#include "import/text.h"
#include "records/fixed.h"
#include "records/year_layout.h"

namespace brix::importer {
namespace {

// The values are written in thousandths, to the value field's decimals.
constexpr double kThousand = 1000;
static_assert(records::kValueDecimals == 3, "the means are kept in thousandths");

// Steps read in slices of consecutive steps of one file at a time, and
// the file closed when the slices move on to another.
class StepReader {
 public:
  StepReader(Series& s, const Bounds& b, std::size_t slice_steps)
      : s_(s), bounds_(b), slice_(slice_steps) {}
  ~StepReader() {
    if (file_ != nullptr) file_->close();
  }
  StepReader(const StepReader&) = delete;
  StepReader& operator=(const StepReader&) = delete;
  // The values of the step, in a slice that reaches as far as step `last`
  // of the same file when it has to be read.
  double* step(const Step& st, std::size_t last) {
    Field* f = s_.files[st.file].get();
    if (f != file_ || st.index < t0_ || st.index >= t0_ + nt_) {
      if (file_ != nullptr && file_ != f) file_->close();
      file_ = f;
      t0_ = st.index;
      nt_ = std::min(std::max(last, t0_) - t0_ + 1, slice_);
      f->read({{t0_, nt_}, {bounds_.i0, bounds_.ni}, {bounds_.j0, bounds_.nj}}, block_);
    }
    return block_.data() + (st.index - t0_) * bounds_.ni * bounds_.nj;
  }

 private:
  Series& s_;
  Bounds bounds_;
  std::size_t slice_;
  Field* file_ = nullptr;
  std::size_t t0_ = 0, nt_ = 0;
  std::vector<double> block_;
};

// How far a read that starts at a step may reach in its file: to the
// year's last step there, and on over the used steps that follow it one by
// one (years of every month, read several at a time, give the threads
// that decode chunks more to share).
std::vector<std::size_t> reaches(const Series& series, const Years& years) {
  std::vector<std::size_t> reach(series.steps.size());
  std::vector<std::size_t> order;
  for (const auto& year : years.steps) order.insert(order.end(), year.begin(), year.end());
  for (std::size_t n = order.size(); n-- > 0;) {
    const Step& a = series.steps[order[n]];
    reach[order[n]] = a.index;
    if (n + 1 < order.size()) {
      const Step& b = series.steps[order[n + 1]];
      if (b.file == a.file && b.index == a.index + 1) reach[order[n]] = reach[order[n + 1]];
    }
  }
  for (const auto& year : years.steps) {
    std::map<std::size_t, std::size_t> last;  // file -> the year's last step in it
    for (std::size_t k : year) {
      std::size_t& l = last[series.steps[k].file];
      l = std::max(l, series.steps[k].index);
    }
    for (std::size_t k : year) reach[k] = std::max(reach[k], last[series.steps[k].file]);
  }
  return reach;
}

// The yearly means and the kept points, with the reading and checking of
// each step, and the comparison of each step with its twins.
class Averager {
 public:
  Averager(Series& series, const Years& years, const Selection& s, const Field& ref)
      : series_(series), years_(years), s_(s), ref_(ref), bounds_(bounds_of(s)),
        reader_(series, bounds_, slice_steps(bounds_)), twin_reader_(series, bounds_, 1),
        check_(ref.unpacking().kind != Scale::kOther,
               ref.unpacking().kind != Scale::kOther && ref.is_sst(), s.cells.size()),
        twins_(series.steps.size()), sum_(s.points.size()) {
    for (const Cell& c : s.cells) at_.push_back((c.i - bounds_.i0) * bounds_.nj + (c.j - bounds_.j0));
    for (const auto& [at_step, twin] : series.twins) twins_[at_step].push_back(twin);
  }

  Means run() {
    const double began = thread_seconds();
    Means m;
    m.points = s_.points.size();
    m.milli.resize(years_.steps.size() * m.points);
    m.kept.assign(m.points, 1);
    const std::vector<std::size_t> reach = reaches(series_, years_);
    for (std::size_t y = 0; y < years_.steps.size(); ++y) {
      std::fill(sum_.begin(), sum_.end(), 0.0);
      for (std::size_t k : years_.steps[y]) add_step(k, reach[k]);
      year_means(y, m);
    }
    m.warnings = check_.warnings();
    m.reading = reading_;
    m.averaging = thread_seconds() - began - reading_;
    return m;
  }

  const Plausibility& plausibility() const { return check_; }

 private:
  // Steps are read in slices of at most this many values.
  static std::size_t slice_steps(const Bounds& b) {
    constexpr std::size_t kSlice = std::size_t{1} << 22;
    return std::max<std::size_t>(1, kSlice / (b.ni * b.nj));
  }

  void add_step(std::size_t k, std::size_t last) {
    const Step& st = series_.steps[k];
    double read_began = thread_seconds();
    double* step = reader_.step(st, last);
    reading_ += thread_seconds() - read_began;
    for (const Step& twin : twins_[k]) compare_twin(st, step, twin);
    check_.check(step, at_, k);
    for (std::size_t p = 0; p < s_.points.size(); ++p) {
      const Point& pt = s_.points[p];
      double v = step[at_[pt.first]];
      if (pt.n > 1) {
        double cells = 0, with_value = 0;
        for (std::size_t c = pt.first; c < pt.first + pt.n; ++c)
          if (!std::isnan(step[at_[c]])) cells += step[at_[c]], ++with_value;
        v = with_value > 0 ? cells / with_value : std::nan("");
      }
      sum_[p] += v;
    }
  }

  void compare_twin(const Step& st, const double* step, const Step& twin) {
    const double* copy = twin_reader_.step(twin, twin.index);
    for (std::size_t c = 0; c < s_.cells.size(); ++c) {
      double a = step[at_[c]], b = copy[at_[c]];
      if (a == b || (std::isnan(a) && std::isnan(b))) continue;
      const Grid& g = ref_.grid();
      const std::size_t cell = s_.cells[c].i * g.columns + s_.cells[c].j;
      throw Failure(series_.files[st.file]->path() + " and " + series_.files[twin.file]->path() +
                    " both hold the step of " + date_text(ref_.time().units.calendar, st.instant) +
                    " with different values (at latitude " + number(g.cell_lat[cell]) +
                    ", longitude " + number(g.cell_lon[cell]) + ": " + brief(a) + " and " +
                    brief(b) + ")");
    }
  }

  void year_means(std::size_t y, Means& m) {
    const double steps = static_cast<double>(years_.steps[y].size());
    for (std::size_t p = 0; p < m.points; ++p) {
      double mean = sum_[p] / steps;
      std::int32_t& v = m.milli[y * m.points + p];
      if (std::isnan(mean)) {
        v = Means::kMissing;
        m.kept[p] = 0;
      } else {
        double t = std::nearbyint(mean * kThousand);
        v = t >= records::kValueMinThousandths && t <= records::kValueMaxThousandths
                ? static_cast<std::int32_t>(t)
                : Means::kTooWide;
      }
    }
  }

  Series& series_;
  const Years& years_;
  const Selection& s_;
  const Field& ref_;
  Bounds bounds_;
  StepReader reader_, twin_reader_;
  Plausibility check_;
  std::vector<std::size_t> at_;  // each cell's place in a step of the block read
  std::vector<std::vector<Step>> twins_;  // of each step
  std::vector<double> sum_;
  double reading_ = 0;
};

// "the 10 columns of brix_eli's value field (-99999.999 to 999999.999)".
std::string value_field_text() {
  char lo[16], hi[16];
  std::string low(lo, records::put_fixed(lo, records::kValueMinThousandths, records::kValueDecimals));
  std::string high(hi, records::put_fixed(hi, records::kValueMaxThousandths, records::kValueDecimals));
  return "the " + std::to_string(records::kValueWidth) + " columns of brix_eli's value field (" +
         low + " to " + high + ")";
}

void check_means(const Means& m, const Selection& s, const Field& ref, const Years& years,
                 const Plausibility& p) {
  // Nearly all values of kelvin's range under a Celsius label.
  if (long long percent = p.kelvin_like_percent(ref.unpacking().kind); percent >= 0)
    throw Failure(ref.name() + " is labelled \"" + ref.unpacking().units + "\", but " +
                  std::to_string(percent) +
                  " % of its values in the region lie between 170 and 350, as temperatures in "
                  "kelvin do: its units look like kelvin (give --units K if they are)");
  for (std::size_t pt = 0; pt < m.points; ++pt) {
    if (!m.kept[pt]) continue;
    for (std::size_t y = 0; y < years.steps.size(); ++y)
      if (m.milli[y * m.points + pt] == Means::kTooWide)
        throw Failure("the " + std::to_string(years.first + static_cast<int>(y)) +
                      " value at latitude " + number(s.points[pt].lat) + ", longitude " +
                      number(s.points[pt].lon) + " does not fit " + value_field_text());
  }
  if (m.n_kept == 0)
    throw Failure("no grid point of the region has a value at every time step from " +
                  std::to_string(years.first) + " to " + std::to_string(years.last));
}

}  // namespace

Means yearly_means(Series& series, const Years& years, const Selection& s, const Field& ref) {
  Averager averager(series, years, s, ref);
  Means m = averager.run();
  for (char k : m.kept) m.n_kept += k;
  check_means(m, s, ref, years, averager.plausibility());
  return m;
}

}  // namespace brix::importer
