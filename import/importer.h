// brix_import: turns the monthly SST field of a CF dataset, one file or
// many, into the coordinate file and the reconstruction file that brix_eli
// reads. An import is a list of stages: the series of files, the years, the
// grid, the region, the means, the files written.
#pragma once

#include <string>
#include <vector>

#include "import/grid.h"
#include "import/means.h"
#include "import/region.h"
#include "import/request.h"
#include "import/series.h"

namespace brix::importer {

// How the steps were placed in months.
struct Placement {
  std::size_t files = 0, with_bounds = 0;  // files, and those whose steps have time bounds
  std::string bounds_name;                 // of the first file used that has them
  bool climatology = false;                // they are climatology bounds
};

// What an import read and wrote, for its summary.
struct Report {
  std::string variable, units, file_units, title, calendar;
  std::vector<std::string> warnings;
  std::vector<FileSpan> files;  // in time order
  std::vector<bool> used;       // of each file: some of its steps were used
  std::vector<TwinSpan> twins;  // steps found in two files, taken once
  Placement placement;
  GridKind kind = GridKind::kRectilinear;
  std::string grid_dims;  // the horizontal dimensions' names
  std::size_t grid_rows = 0, grid_columns = 0, n_time = 0;
  YearMonth first_step, last_step;
  int rows = 0, columns = 0;  // rectilinear grids: of the region
  int cells = 0;              // of the region
  int repeated = 0;           // cells of the region at the position of another one, dropped
  int points = 0;             // of the region, after coarsening
  int kept = 0, left_out = 0;
  int in_band = 0;  // of those kept, in the analysis' band as brix_eli reads their latitude
  int first_year = 0, last_year = 0;
  std::vector<int> incomplete;    // years of the range left out for a missing month
  std::vector<std::vector<YearMonth>> lacking;  // of each of them, the months without a step
  bool fewer_than_asked = false;  // fewer years written than --years asked for
  bool dateline = false;          // brix_eli should shift negative longitudes by 360
  bool direct = false;            // values read straight from netCDF-4 chunks
  // Processor time in seconds: of the calling thread reading the steps
  // (through netCDF-C, or the chunks as stored and its share of their
  // decoding), of every thread decoding chunks, of the yearly means and of
  // writing the files.
  struct Times {
    double reading = 0, reading_chunks = 0, decoding = 0, averaging = 0, writing = 0;
  } times;
};

// An import's result before anything is written: what it read, the points
// of the region, and their yearly means.
struct Imported {
  Report report;
  Selection selection;
  Means means;
};

// Opens each path as a netCDF file, reading chunks as the options say.
Opener netcdf_opener(const Options& options);

// Reads the dataset from the sources `open` gives for options.inputs, and
// takes the yearly means of its points; writes nothing. Throws Failure.
Imported import_dataset(const Options& options, const Opener& open);

// import_dataset, then the files written; or throws Failure and leaves
// every file as it was.
Report run(const Options& options, const Opener& open);

}  // namespace brix::importer
