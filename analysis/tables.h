// The two tables' columns, each defined once: its heading, its field and
// the value of a row it shows. The heading line and the row format of each
// table are built from them, and checked at compile time against the
// formats the program writes (the texts below).
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "records/unit.h"
#include "stats/series.h"

namespace brix::analysis {

template <typename Row>
struct Column {
  std::string_view heading;  // right-justified over the field
  int width;
  int decimals;       // Fw.d; the year is Iw
  float Row::*value;  // nullptr for the year
};

using stats::SmoothedRow;
using stats::YearRow;

inline constexpr Column<YearRow> kYearlyColumns[] = {
    {"Year", 5, 0, nullptr},
    {"NPeak", 7, 3, &YearRow::npeak},
    {"MN_Lon", 8, 2, &YearRow::lon_mean},
    {"SD_Lon", 8, 2, &YearRow::lon_sd},
    {"SE_Lon", 8, 2, &YearRow::lon_se},
    {"MN_Tmp", 8, 3, &YearRow::tmp_mean},
    {"SD_Tmp", 8, 3, &YearRow::tmp_sd},
    {"SE_Tmp", 8, 3, &YearRow::tmp_se},
};

inline constexpr Column<SmoothedRow> kSmoothedColumns[] = {
    {"Year", 5, 0, nullptr},
    {"NPeak", 7, 3, &SmoothedRow::npeak},
    {"NPSpl", 7, 3, &SmoothedRow::npeak_smooth},
    {"NPKMn", 7, 3, &SmoothedRow::npeak_overall},
    {"LonMN1", 8, 2, &SmoothedRow::lon_mean},
    {"LonMN2", 8, 2, &SmoothedRow::lon_mean_smooth},
    {"LonMN3", 8, 2, &SmoothedRow::lon_mean_overall},
    {"LonSD1", 8, 3, &SmoothedRow::lon_sd},
    {"LonSD2", 8, 3, &SmoothedRow::lon_sd_smooth},
    {"TmpMN1", 8, 3, &SmoothedRow::tmp_mean},
    {"TmpMN2", 8, 3, &SmoothedRow::tmp_mean_smooth},
    {"TmpMN3", 8, 3, &SmoothedRow::tmp_mean_overall},
    {"TmpSD1", 8, 3, &SmoothedRow::tmp_sd},
    {"TmpSD2", 8, 3, &SmoothedRow::tmp_sd_smooth},
};

// The formats of the tables as the program writes them.
inline constexpr std::string_view kYearlyHeading =
    "(' Year  NPeak  MN_Lon  SD_Lon  SE_Lon  MN_Tmp  SD_Tmp  SE_Tmp')";
inline constexpr std::string_view kYearlyRow = "(i5,f7.3,3f8.2,3f8.3)";
inline constexpr std::string_view kSmoothedHeading =
    "(' Year  NPeak  NPSpl  NPKMn  LonMN1  LonMN2  LonMN3  LonSD1  LonSD2  ',"
    "'TmpMN1  TmpMN2  TmpMN3  TmpSD1  TmpSD2')";
inline constexpr std::string_view kSmoothedRow = "(i5,3f7.3,3f8.2,7f8.3)";

// A short text built at compile time.
struct Text {
  std::array<char, 256> chars{};
  std::size_t size = 0;
  constexpr void add(std::string_view s) {
    for (char c : s) chars[size++] = c;
  }
  constexpr void add(int n) {
    if (n >= 10) add(n / 10);
    chars[size++] = static_cast<char>('0' + n % 10);
  }
  constexpr std::string_view view() const { return {chars.data(), size}; }
};

// The heading line: each heading right-justified over its field.
template <typename Row, std::size_t N>
constexpr Text heading_line(const Column<Row> (&columns)[N]) {
  Text t;
  for (const Column<Row>& c : columns) {
    for (std::size_t k = c.heading.size(); k < static_cast<std::size_t>(c.width); ++k) t.add(" ");
    t.add(c.heading);
  }
  return t;
}

// The row format: "(i5,f7.3,3f8.2,...)", equal fields next to each other
// counted as one.
template <typename Row, std::size_t N>
constexpr Text row_format(const Column<Row> (&columns)[N]) {
  Text t;
  t.add("(");
  for (std::size_t k = 0; k < N;) {
    std::size_t same = 1;
    while (k + same < N && columns[k + same].width == columns[k].width &&
           columns[k + same].decimals == columns[k].decimals &&
           (columns[k + same].value == nullptr) == (columns[k].value == nullptr))
      ++same;
    if (k > 0) t.add(",");
    if (same > 1) t.add(static_cast<int>(same));
    t.add(columns[k].value == nullptr ? "i" : "f");
    t.add(columns[k].width);
    if (columns[k].value != nullptr) {
      t.add(".");
      t.add(columns[k].decimals);
    }
    k += same;
  }
  t.add(")");
  return t;
}

// The text of a format's quoted strings, one after another.
constexpr Text quoted(std::string_view format) {
  Text t;
  bool inside = false;
  for (char c : format) {
    if (c == '\'')
      inside = !inside;
    else if (inside)
      t.chars[t.size++] = c;
  }
  return t;
}

static_assert(heading_line(kYearlyColumns).view() == quoted(kYearlyHeading).view());
static_assert(row_format(kYearlyColumns).view() == kYearlyRow);
static_assert(heading_line(kSmoothedColumns).view() == quoted(kSmoothedHeading).view());
static_assert(row_format(kSmoothedColumns).view() == kSmoothedRow);

// Writes each table's heading line, or its rows, on the unit.
void write_yearly_heading(records::Unit& unit);
void write_yearly_rows(records::Unit& unit, std::span<const YearRow> rows);
void write_smoothed_heading(records::Unit& unit);
void write_smoothed_rows(records::Unit& unit, std::span<const SmoothedRow> rows);

// A whole table as text, as brix_eli writes it to its file.
std::string yearly_table(std::span<const YearRow> rows);
std::string smoothed_table(std::span<const SmoothedRow> rows);

}  // namespace brix::analysis
