#include "import/summary.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "import/text.h"

namespace brix::importer {
namespace {

using Json = nlohmann::ordered_json;

const char* kind_name(GridKind kind) {
  switch (kind) {
    case GridKind::kRectilinear:
      return "rectilinear";
    case GridKind::kRotated:
      return "rotated pole";
    case GridKind::kCurvilinear:
      return "curvilinear";
    case GridKind::kUnstructured:
      return "unstructured";
  }
  return "";
}

std::string files_text(const Report& r) {
  std::string s;
  for (const FileSpan& f : r.files)
    s += "                 " + f.path + ": " +
         (f.steps == 0 ? "no time step with a valid time"
                       : count(static_cast<long long>(f.steps), "time step") + ", " +
                             year_month(f.first) +
                             (f.last == f.first ? "" : " to " + year_month(f.last))) +
         (r.used[static_cast<std::size_t>(&f - r.files.data())] ? "" : ", none used") + "\n";
  return s;
}

std::string twin_text(const Report& r, const TwinSpan& t) {
  return count(static_cast<long long>(t.months.size()), "time step") + " (" +
         year_month(t.months.front()) +
         (t.months.size() > 1 ? " to " + year_month(t.months.back()) : "") + ") in both " +
         r.files[t.kept_file].path + " and " + r.files[t.other_file].path + ", taken once";
}

std::string grid_text(const Report& r) {
  long long rows = static_cast<long long>(r.grid_rows),
            columns = static_cast<long long>(r.grid_columns);
  std::string size = r.kind == GridKind::kUnstructured
                         ? count(columns, "cell")
                         : count(rows, "row") + " by " + count(columns, "column");
  return std::string(kind_name(r.kind)) + ", " + size + " (" + r.grid_dims + "), " +
         count(static_cast<long long>(r.n_time), "time step") + " from " +
         year_month(r.first_step) + " to " + year_month(r.last_step) + " (calendar " + r.calendar +
         ")";
}

std::string region_text(const Options& o, const Report& r) {
  const RegionRequest& q = o.region;
  std::string region = "latitudes " + range_text(q.lat) + ", longitudes " +
                       (q.lon ? range_text(*q.lon) : "all") + ": " + count(r.cells, "cell");
  if (r.kind == GridKind::kRectilinear)
    region += " (" + count(r.rows, "latitude") + " by " + count(r.columns, "longitude") + ")";
  if (r.repeated > 0)
    region += "; " + std::to_string(r.repeated) +
              " at the position of another (a longitude stored twice, such as 0 "
              "and 360) dropped";
  if (q.coarsen > 1)
    region += "; blocks of " + std::to_string(q.coarsen) + " by " + std::to_string(q.coarsen) +
              ": " + count(r.points, "point");
  return region;
}

std::string years_text(const Options& o, const Report& r) {
  std::string incomplete;
  for (std::size_t k = 0; k < r.incomplete.size(); ++k) {
    incomplete += (incomplete.empty() ? "" : ", ") + std::to_string(r.incomplete[k]);
    if (o.months.wraps()) {  // which months of which years, since a season spans two
      std::string months;
      for (YearMonth ym : r.lacking[k]) months += (months.empty() ? "" : ", ") + year_month(ym);
      incomplete += " (no " + months + ")";
    }
  }
  std::string note;
  if (r.fewer_than_asked)
    note = "; --years " + std::to_string((*o.years)[0]) + ":" + std::to_string((*o.years)[1]) +
           " asked for, but the time steps run from " + year_month(r.first_step) + " to " +
           year_month(r.last_step) + (r.incomplete.empty() ? "" : ", and some years lack a month");
  return std::to_string(r.first_year) + " to " + std::to_string(r.last_year) + " (" +
         count(r.last_year - r.first_year + 1, "year") + "), each " + o.months.mean_text() +
         (incomplete.empty() ? "" : "; left out for a missing month: " + incomplete) + note;
}

std::string units_text(const Options& o, const Report& r) {
  std::string units = r.units.empty() ? "" : ", units " + r.units;
  if (!o.units.empty())
    units += r.file_units.empty() ? " (given with --units; the file has none)"
                                  : " (given with --units; the file says \"" + r.file_units + "\")";
  return units;
}

}  // namespace

std::string placement_text(const Placement& p) {
  if (p.with_bounds == 0) return "each step in the month of its time stamp (no time bounds)";
  return std::string("each step in the month that holds the middle of its ") +
         (p.climatology ? "first year's climatology bounds (" : "time bounds (") + p.bounds_name +
         ")" +
         (p.with_bounds < p.files
              ? "; in " + count(static_cast<long long>(p.files - p.with_bounds), "file") +
                    " without bounds, of its time stamp"
              : "");
}

std::string describe(const Options& o, const Report& r) {
  std::string name = r.files.front().path;
  if (r.files.size() > 1)
    name = count(static_cast<long long>(r.files.size()), "file") + ", " + name + " to " +
           r.files.back().path;
  std::string s = "brix_import: " + name + (r.title.empty() ? "" : " (" + r.title + ")") + "\n";
  auto row = [&s](const char* what, const std::string& text) {
    char label[24];
    std::snprintf(label, sizeof label, "  %-13s", what);
    s += label + text + "\n";
  };
  if (r.files.size() > 1) {
    row("files", count(static_cast<long long>(r.files.size()), "file") + ", in time order:");
    s += files_text(r);
  }
  for (const TwinSpan& t : r.twins) row("repeated", twin_text(r, t));
  row("variable", r.variable + units_text(o, r));
  row("grid", grid_text(r));
  row("time", placement_text(r.placement));
  row("region", region_text(o, r));
  row("grid points",
      std::to_string(r.kept) + " written, " + std::to_string(r.left_out) +
          " left out for lack of a value at some time step used (land, sea ice, gaps)");
  row("years", years_text(o, r));
  row("wrote", o.xy + " and " + o.recon);
  s += "Answers for brix_eli, followed by a threshold (such as 28.5) and a spline period (such as "
       "10):\n";
  s += o.xy + "\n1\n" + (r.dateline ? "y" : "n") + "\n" + o.recon + "\n";
  return s;
}

namespace {

Json range_json(const Range& r) { return Json::array({r.lo, r.hi}); }

Json files_json(const Report& r) {
  Json files = Json::array();
  for (std::size_t k = 0; k < r.files.size(); ++k) {
    const FileSpan& f = r.files[k];
    Json file = {{"path", f.path}, {"time_steps", f.steps}};
    file["first"] = f.steps == 0 ? Json() : Json(year_month(f.first));
    file["last"] = f.steps == 0 ? Json() : Json(year_month(f.last));
    file["used"] = static_cast<bool>(r.used[k]);
    files.push_back(file);
  }
  return files;
}

Json twins_json(const Report& r) {
  Json twins = Json::array();
  for (const TwinSpan& t : r.twins)
    twins.push_back({{"files", {r.files[t.kept_file].path, r.files[t.other_file].path}},
                     {"time_steps", t.months.size()},
                     {"first", year_month(t.months.front())},
                     {"last", year_month(t.months.back())}});
  return twins;
}

Json grid_json(const Report& r) {
  Json dims = Json::array();
  for (std::size_t at = 0; at <= r.grid_dims.size();) {
    std::size_t end = std::min(r.grid_dims.find(", ", at), r.grid_dims.size());
    dims.push_back(r.grid_dims.substr(at, end - at));
    at = end + 2;
  }
  return {{"kind", kind_name(r.kind)},
          {"dimensions", dims},
          {"rows", r.grid_rows},
          {"columns", r.grid_columns}};
}

Json time_json(const Report& r) {
  const Placement& p = r.placement;
  return {{"steps", r.n_time},
          {"first", year_month(r.first_step)},
          {"last", year_month(r.last_step)},
          {"calendar", r.calendar},
          {"placement",
           {{"by", p.with_bounds == 0 ? "time stamps" : "time bounds"},
            {"bounds", p.with_bounds == 0 ? Json() : Json(p.bounds_name)},
            {"climatology", p.climatology},
            {"files_with_bounds", p.with_bounds},
            {"text", placement_text(p)}}}};
}

Json region_json(const Options& o, const Report& r) {
  const RegionRequest& q = o.region;
  Json region = {{"latitudes", range_json(q.lat)},
                 {"longitudes", q.lon ? range_json(*q.lon) : Json()},
                 {"coarsen", q.coarsen},
                 {"cells", r.cells},
                 {"repeated_dropped", r.repeated},
                 {"points", r.points}};
  if (r.kind == GridKind::kRectilinear) {
    region["latitude_count"] = r.rows;
    region["longitude_count"] = r.columns;
  }
  return region;
}

Json years_json(const Options& o, const Report& r) {
  return {{"first", r.first_year},
          {"last", r.last_year},
          {"count", r.last_year - r.first_year + 1},
          {"months", o.months.months()},
          {"across_year_end", o.months.wraps()},
          {"asked", o.years ? Json::array({(*o.years)[0], (*o.years)[1]}) : Json()},
          {"incomplete", r.incomplete},
          {"fewer_than_asked", r.fewer_than_asked}};
}

}  // namespace

std::string inputs_json(const input::InputFacts& f) {
  Json j = {{"points", f.points}, {"in_band", f.band_points}, {"first_year", f.first_year},
            {"last_year", f.last_year}, {"years", f.years}};
  return j.dump(2) + "\n";
}

std::string summary_json(const Options& o, const Report& r) {
  Json j;
  j["program"] = "brix_import";
  j["version"] = version_text().substr(version_text().find(' ') + 1);
  j["files"] = files_json(r);
  j["repeated_steps"] = twins_json(r);
  j["title"] = r.title;
  j["variable"] = {{"name", r.variable},
                   {"units", r.units},
                   {"file_units", r.file_units},
                   {"units_given", !o.units.empty()}};
  j["grid"] = grid_json(r);
  j["time"] = time_json(r);
  j["region"] = region_json(o, r);
  j["points"] = {{"written", r.kept}, {"left_out", r.left_out}, {"in_band", r.in_band}};
  j["years"] = years_json(o, r);
  j["dateline"] = r.dateline;
  j["outputs"] = {{"xy", o.xy}, {"recon", o.recon}};
  j["answers"] = {o.xy, "1", r.dateline ? "y" : "n", o.recon};
  j["warnings"] = r.warnings;
  // Text that is not UTF-8 (a title in Latin-1) is kept, its bad bytes replaced.
  return j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace brix::importer
