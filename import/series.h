// The series: the files of a dataset, each with its field and time axis,
// checked to make one dataset, and their steps merged in time order. A step
// that two files hold is taken once (its twin is checked against it when
// the values are read); two steps of one file at one time are an error.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "import/field.h"

namespace brix::importer {

// Opens the source of a path given (a file, or a name of arrays in memory).
using Opener = std::function<std::unique_ptr<Source>(const std::string& path)>;

// A step of the dataset: its month and time, and where it is stored.
struct Step {
  YearMonth month;
  double instant;
  std::size_t file, index;
};

// A file of the dataset: its steps with a valid time and their months.
struct FileSpan {
  std::string path;
  std::size_t steps = 0;
  YearMonth first, last;
};

// Steps that two files hold, by the pair of files (as places in `files`).
struct TwinSpan {
  std::size_t kept_file = 0, other_file = 0;
  std::vector<YearMonth> months;
};

struct Series {
  std::vector<std::unique_ptr<Field>> files;  // in time order
  std::vector<FileSpan> spans;                // of `files`, in the same order
  std::vector<Step> steps;                    // in time order, each once
  // The step's place in `steps`, and its twin in another file.
  std::vector<std::pair<std::size_t, Step>> twins;
  std::vector<TwinSpan> twin_spans;
  YearMonth first_step, last_step;  // of `steps`, when there are any
};

// Opens each path, reads the variable `var` (empty: found) and its time
// axis, checks that the files make one dataset, and merges their steps in
// time order. Throws Failure.
Series open_series(const std::vector<std::string>& paths, const std::string& var,
                   const Opener& open);

}  // namespace brix::importer
