// brix_import: turns the monthly SST field of a CF netCDF dataset, one file
// or many, into the coordinate file and the reconstruction file that
// brix_eli reads.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "import/calendar.h"
#include "import/dataset.h"
#include "input/capacity.h"

namespace brix::importer {

inline constexpr int kMaxPoints = input::max_points;  // brix_eli's capacities
inline constexpr int kMaxYears = input::max_years;

struct Range {
  double lo = 0, hi = 0;
};

struct Options {
  std::vector<std::string> inputs;  // the netCDF files of the dataset, in any order
  std::string var;                  // empty: found by standard_name or name
  std::string units;                // the values' units, in place of the file's; empty: the file's
  Range lat{-5, 5};
  std::optional<Range> lon;  // west:east, crossing the dateline when west > east; none: all
  std::optional<std::array<int, 2>> years;  // first:last; none: every complete year
  std::array<bool, 13> months{false, true, true, true, true, true, true,
                              true,  true, true, true, true, true};  // [1] to [12]
  std::string xy = "xy_coordinates.txt";
  std::string recon = "recon_sst.txt";
  bool force = false;  // replace output files that exist
  int threads = 1;     // for inflating a netCDF-4 file's chunks
  int coarsen = 1;     // rectilinear grids: blocks of coarsen by coarsen cells make one point
};

// A file of the dataset: its steps with a valid time, their months, and
// whether any of them was used.
struct FileSpan {
  std::string path;
  std::size_t steps = 0;
  YearMonth first, last;
  bool used = false;
};

struct Report {
  std::string variable, units, file_units, title, calendar;
  std::vector<std::string> warnings;
  std::vector<FileSpan> files;     // in time order
  std::vector<std::string> twins;  // steps found in two files, taken once
  std::string placement;           // how steps were placed in months
  GridKind kind = GridKind::kRectilinear;
  std::string grid_dims;  // the horizontal dimensions' names
  std::size_t grid_rows = 0, grid_columns = 0, n_time = 0;
  YearMonth first_step, last_step;
  int rows = 0, columns = 0;  // rectilinear grids: of the region
  int cells = 0;              // of the region
  int repeated = 0;           // cells of the region at the position of another one, dropped
  int points = 0;             // of the region, after coarsening
  int kept = 0, left_out = 0;
  int first_year = 0, last_year = 0;
  std::vector<int> incomplete;  // years of the range left out for a missing month
  std::string years_note;       // why fewer years were written than --years asked for
  bool dateline = false;        // brix_eli should shift negative longitudes by 360
  bool direct = false;          // values read straight from netCDF-4 chunks
  // Processor time in seconds: of the calling thread reading the steps
  // (through netCDF-C, or the chunks as stored and its share of their
  // decoding), of every thread decoding chunks, of the yearly means and of
  // writing the files.
  struct Times {
    double reading = 0, reading_chunks = 0, decoding = 0, averaging = 0, writing = 0;
  } times;
};

// Reads the dataset and writes the two files, or throws Failure and leaves
// every file as it was.
Report run(const Options& options);

// What run did, and the answers to give brix_eli.
std::string describe(const Options& options, const Report& report);

// "months 1-12", "months 6-8", "months 1-3,12", "month 7".
std::string months_text(const std::array<bool, 13>& months);

}  // namespace brix::importer
