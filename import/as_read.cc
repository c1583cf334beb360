#include "import/as_read.h"

#include <string>

#include "import/outputs.h"
#include "input/year_record.h"
#include "records/get.h"
#include "records/year_layout.h"

namespace brix::importer {
// The line's two numbers, each read as a free-form value is.
void read_coordinates(const Point& p, float& lat, float& lon) {
  const std::string line = coordinate_line(p);
  const std::size_t blank = line.find(' ');
  std::string_view text(line);
  records::get_real(text.substr(0, blank), 0, lat);
  records::get_real(text.substr(blank + 1, line.size() - blank - 2), 0, lon);
}

AsRead as_read(const Imported& d) {
  const Means& m = d.means;
  AsRead r;
  r.first_year = d.report.first_year;
  r.n_years = d.report.last_year - d.report.first_year + 1;
  r.dateline = d.report.dateline;
  for (std::size_t p = 0; p < m.points; ++p) {
    if (!m.kept[p]) continue;
    float lat = 0, lon = 0;
    read_coordinates(d.selection.points[p], lat, lon);
    r.lat.push_back(lat);
    r.lon.push_back(lon);
  }
  const std::size_t n = r.lat.size();
  std::vector<char> line(records::year_line_length(static_cast<int>(n)) + 1);
  std::vector<std::int32_t> row;
  const std::vector<std::uint8_t> keep(n, 1);
  const input::KeptPoints fields{static_cast<int>(n), keep.data(), static_cast<int>(n)};
  r.values.resize(static_cast<std::size_t>(r.n_years) * n);
  for (std::int32_t y = 0; y < r.n_years; ++y) {
    std::size_t length = year_record(d.report, m, static_cast<std::size_t>(y), line.data(), row);
    std::int32_t year = 0;
    input::read_year_record({line.data(), length - 1}, fields, input::FieldKernel::kGeneral, year,
                            r.values.data() + static_cast<std::size_t>(y) * n);
  }
  return r;
}

}  // namespace brix::importer
