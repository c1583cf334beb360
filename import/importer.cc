#include "import/importer.h"

#include <algorithm>

#include "import/as_read.h"
#include "import/chunks.h"
#include "import/means.h"
#include "import/netcdf_source.h"
#include "import/outputs.h"
#include "import/staged.h"
#include "import/summary.h"
#include "input/capacity.h"
#include "records/band.h"

namespace brix::importer {
namespace {

// Only the files that hold a step used have their grids read: the first of
// them gives the grid, every other must have the same to the bit. Returns
// the first.
Field& load_grids(Series& series, const Years& years, const std::string& units, Report& r) {
  r.used.assign(series.files.size(), false);
  for (const auto& year : years.steps)
    for (std::size_t k : year) r.used[series.steps[k].file] = true;
  for (const auto& [at, twin] : series.twins)
    if (r.used[series.steps[at].file]) r.used[twin.file] = true;
  Field* ref = nullptr;
  for (std::size_t k = 0; k < series.files.size(); ++k) {
    if (!r.used[k]) continue;
    Field& f = *series.files[k];
    f.load_grid(units);
    if (ref == nullptr) {
      ref = &f;
      f.close();
      continue;
    }
    std::string differs = grid_difference(ref->grid(), ref->path(), f.grid());
    if (!differs.empty())
      throw Failure(f.path() + " is not on the grid of " + ref->path() + ": " + differs);
    if (f.unpacking().units != ref->unpacking().units)
      r.warnings.push_back(f.path() + " gives the units \"" + f.unpacking().units + "\", " +
                           ref->path() + " \"" + ref->unpacking().units +
                           "\"; each file's values are read in its own");
    f.release_grid();
  }
  return *ref;
}

// What the series and its reference field say of themselves.
void describe_series(const Series& s, const Field& f, Report& r) {
  std::vector<std::string> file_warnings;  // each said once, before the others
  for (const auto& file : s.files)
    for (const std::string& w : file->warnings())
      if (std::find(file_warnings.begin(), file_warnings.end(), w) == file_warnings.end())
        file_warnings.push_back(w);
  r.warnings.insert(r.warnings.begin(), file_warnings.begin(), file_warnings.end());
  r.files = s.spans;
  r.twins = s.twin_spans;
  r.variable = f.name();
  r.units = f.unpacking().units;
  r.file_units = f.unpacking().file_units;
  r.title = s.files.front()->title();
  r.calendar = f.time().calendar_name;
  r.kind = f.grid().kind;
  r.grid_dims = f.grid().dims;
  r.grid_rows = f.grid().rows;
  r.grid_columns = f.grid().columns;
  r.n_time = s.steps.size();
  r.first_step = s.first_step;
  r.last_step = s.last_step;
  Placement& p = r.placement;
  p.files = s.files.size();
  const Field* with = f.time().bounds_name.empty() ? nullptr : &f;
  for (const auto& file : s.files) {
    p.with_bounds += !file->time().bounds_name.empty();
    if (with == nullptr && !file->time().bounds_name.empty()) with = file.get();
  }
  if (with != nullptr) p.bounds_name = with->time().bounds_name, p.climatology = with->time().climatology;
}

void describe_years(const Years& y, Report& r) {
  r.first_year = y.first;
  r.last_year = y.last;
  r.incomplete = y.incomplete;
  r.lacking = y.lacking;
  r.fewer_than_asked = y.fewer_than_asked;
  r.warnings.insert(r.warnings.end(), y.warnings.begin(), y.warnings.end());
}

void describe_points(const Selection& s, const Means& m, Report& r) {
  r.cells = s.cells_in_region;
  r.repeated = s.repeated;
  r.rows = s.rows;
  r.columns = s.columns;
  r.points = static_cast<int>(s.points.size());
  r.kept = m.n_kept;
  r.left_out = r.points - m.n_kept;
  r.warnings.insert(r.warnings.end(), m.warnings.begin(), m.warnings.end());
  std::vector<double> kept_lon;
  for (std::size_t p = 0; p < m.points; ++p) {
    if (!m.kept[p]) continue;
    kept_lon.push_back(s.points[p].lon);
    float lat = 0, lon = 0;
    read_coordinates(s.points[p], lat, lon);
    r.in_band += records::in_band(lat);
  }
  r.dateline = crosses_dateline(kept_lon);
}

void describe_reading(const Series& s, const Means& m, Report& r) {
  r.times.reading = m.reading;
  r.times.averaging = m.averaging;
  for (const auto& file : s.files) {
    ReadStats st = file->stats();
    r.times.decoding += st.decoding;
    r.times.reading_chunks += st.reading_chunks;
    r.direct |= st.direct;
  }
}

}  // namespace

Opener netcdf_opener(const Options& o) {
  NetcdfSettings settings{o.threads, o.direct_chunks};
  return [settings](const std::string& path) -> std::unique_ptr<Source> {
    return std::make_unique<NetcdfSource>(path, settings);
  };
}

Imported import_dataset(const Options& o, const Opener& open) {
  Report r;
  Series series = open_series(o.inputs, o.var, open);
  Years years = select_years(series, o.months, o.years);
  describe_years(years, r);
  Field& field = load_grids(series, years, o.units, r);
  describe_series(series, field, r);
  Selection selection = select_region(field.grid(), o.region, field.name());
  Means means = yearly_means(series, years, selection, field);
  describe_points(selection, means, r);
  if (r.kept > input::max_points) throw Failure(too_many(field.grid(), o.region, selection, r.kept));
  describe_reading(series, means, r);
  return {std::move(r), std::move(selection), std::move(means)};
}

Report run(const Options& o, const Opener& open) {
  for (const std::string* path : {&o.xy, &o.recon, &o.summary_json})
    if (!path->empty()) check_output(*path, o.force);
  Imported d = import_dataset(o, open);
  const double writing_began = thread_seconds();
  const std::string json = o.summary_json.empty() ? "" : summary_json(o, d.report);
  write_outputs(o, d.report, d.selection, d.means, json);
  d.report.times.writing = thread_seconds() - writing_began;
  return d.report;
}

}  // namespace brix::importer
