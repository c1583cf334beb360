// The months whose mean makes a year's value, in the order they are given.
// Months that increase (1-12, 6-8, 1,2,12) are months of one calendar year.
// Months that increase up to December and go on from January to a month
// below the first (12,1,2; 11-3) are a season across the year end: its months
// up to December are of the year before, and the season is labelled by the
// year of its last month (DJF 1997/98 is 1998). No other order is taken.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace brix::importer {

class Season {
 public:
  Season();  // every month of the calendar year

  // The months of a list as --months takes it ("6-8", "12,1,2", "11-3"), or
  // std::invalid_argument saying what is wrong and how to write it.
  static Season parse(std::string_view text);

  const std::vector<int>& months() const { return months_; }
  bool has(int month) const;
  // Whether the season runs across the year end.
  bool wraps() const { return wrap_ > 0; }
  // The calendar year of `month` in the season labelled `label`.
  int year_of(int month, int label) const;

  // "months 1-12", "month 7", "months 1-3,12", "months 12-2".
  std::string text() const;
  // How a year's value is made: "the mean of months 6-8", or for a season
  // "the mean of December of the year before and January to February".
  std::string mean_text() const;

 private:
  explicit Season(std::vector<int> months);
  std::vector<int> months_;  // in order
  std::size_t wrap_ = 0;     // the place of the first month of the label's own year; 0: none
};

}  // namespace brix::importer
