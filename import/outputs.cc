#include "import/outputs.h"

#include <memory>

#include "import/staged.h"
#include "import/text.h"
#include "records/fixed.h"
#include "records/year_layout.h"

namespace brix::importer {
namespace {

void write_coordinates(Staged& xy, const Selection& s, const Means& m) {
  for (std::size_t p = 0; p < m.points; ++p)
    if (m.kept[p]) xy.write(coordinate_line(s.points[p]));
}

void write_years(Staged& recon, const Report& r, const Means& m) {
  std::vector<char> line(records::year_line_length(m.n_kept) + 1);
  std::vector<std::int32_t> row;
  row.reserve(static_cast<std::size_t>(m.n_kept));
  const std::size_t years = m.points == 0 ? 0 : m.milli.size() / m.points;
  for (std::size_t y = 0; y < years; ++y) recon.write(line.data(), year_record(r, m, y, line.data(), row));
}

}  // namespace

std::string coordinate_line(const Point& p) {
  return number(static_cast<float>(p.lat)) + " " + number(static_cast<float>(p.lon)) + "\n";
}

std::size_t year_record(const Report& r, const Means& m, std::size_t y, char* line,
                        std::vector<std::int32_t>& row) {
  row.clear();
  for (std::size_t p = 0; p < m.points; ++p)
    if (m.kept[p]) row.push_back(m.milli[y * m.points + p]);
  return records::put_fixed_line(line, records::kYearWidth, r.first_year + static_cast<int>(y),
                                 records::kValueWidth, records::kValueDecimals, row);
}

std::string header_line(const Options& o, const Report& r) {
  std::string title = r.title.empty() ? "" : " (" + r.title + ")";
  std::string source = base_name(r.files.front().path);
  if (r.files.size() > 1)
    source += " to " + base_name(r.files.back().path) + " (" +
              count(static_cast<long long>(r.files.size()), "file") + ")";
  const int n = o.region.coarsen;
  return source + title + ": " + r.variable + ", mean of " + o.months.text() +
         ", latitudes " + range_text(o.region.lat) + ", longitudes " +
         (o.region.lon ? range_text(*o.region.lon) : "all") +
         (n > 1 ? ", blocks of " + std::to_string(n) + " by " + std::to_string(n) : "");
}

void write_outputs(const Options& o, const Report& r, const Selection& s, const Means& m,
                   const std::string& json) {
  Staged xy(o.xy), recon(o.recon);
  std::unique_ptr<Staged> summary;
  if (!o.summary_json.empty()) summary = std::make_unique<Staged>(o.summary_json);
  write_coordinates(xy, s, m);
  recon.write(header_line(o, r) + "\n");
  write_years(recon, r, m);
  xy.close();
  recon.close();
  if (summary) {
    summary->write(json);
    summary->close();
  }
  // Put in place one after another; a failure takes back those put in place
  // (unless they replaced files, which are gone by then).
  std::vector<Staged*> order{&xy, &recon};
  if (summary) order.push_back(summary.get());
  for (std::size_t k = 0; k < order.size(); ++k) {
    try {
      order[k]->publish(o.force);
    } catch (const Failure&) {
      if (!o.force)
        for (std::size_t j = 0; j < k; ++j) order[j]->withdraw();
      throw;
    }
  }
}

}  // namespace brix::importer
