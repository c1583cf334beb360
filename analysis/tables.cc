#include "analysis/tables.h"

#include <vector>

#include "records/format.h"
#include "records/write.h"

namespace brix::analysis {
namespace {

template <typename Row, std::size_t N>
void write_rows(records::Unit& unit, const records::Format& format, const Column<Row> (&columns)[N],
                std::span<const Row> rows) {
  std::vector<records::Value> values;
  values.reserve(N);
  for (const Row& row : rows) {
    values.clear();
    for (const Column<Row>& c : columns) {
      if (c.value == nullptr)
        values.emplace_back(row.year);
      else
        values.emplace_back(row.*c.value);
    }
    records::write(unit, format, values);
  }
}

}  // namespace

void write_yearly_heading(records::Unit& unit) {
  static const records::Format kHeading(kYearlyHeading);
  records::write(unit, kHeading);
}

void write_yearly_rows(records::Unit& unit, std::span<const YearRow> rows) {
  static const records::Format kRow(kYearlyRow);
  write_rows(unit, kRow, kYearlyColumns, rows);
}

void write_smoothed_heading(records::Unit& unit) {
  static const records::Format kHeading(kSmoothedHeading);
  records::write(unit, kHeading);
}

void write_smoothed_rows(records::Unit& unit, std::span<const SmoothedRow> rows) {
  static const records::Format kRow(kSmoothedRow);
  write_rows(unit, kRow, kSmoothedColumns, rows);
}

std::string yearly_table(std::span<const YearRow> rows) {
  std::string text;
  records::Unit unit(&text);
  write_yearly_heading(unit);
  write_yearly_rows(unit, rows);
  return text;
}

std::string smoothed_table(std::span<const SmoothedRow> rows) {
  std::string text;
  records::Unit unit(&text);
  write_smoothed_heading(unit);
  write_smoothed_rows(unit, rows);
  return text;
}

}  // namespace brix::analysis
