// The request: what an import is asked to do, from the command line and the
// environment, read once at the start and passed down.
#pragma once

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "import/region.h"
#include "import/seasons.h"
#include "import/years.h"

namespace brix::importer {

// "brix_import 1.0".
std::string version_text();

struct Options {
  std::vector<std::string> inputs;  // the files of the dataset, in any order
  std::string var;                  // empty: found by standard_name or name
  std::string units;                // the values' units, in place of the file's; empty: the file's
  RegionRequest region;             // latitudes, longitudes and coarsening
  std::optional<std::array<int, 2>> years;  // first:last; none: every complete year
  Season months;                   // whose mean makes a year's value: every month
  std::string xy = "xy_coordinates.txt";
  std::string recon = "recon_sst.txt";
  std::string summary_json;  // where the summary goes as JSON too; empty: nowhere
  bool force = false;        // replace output files that exist
  // From the environment unless given: threads for decoding chunks
  // (BRIX_THREADS, -j), whether chunks are read straight from netCDF-4 files
  // (BRIX_IMPORT_CHUNKS=netcdf: no), and whether processor times are shown
  // (BRIX_IMPORT_PROFILE).
  int threads = 1;
  bool direct_chunks = true;
  bool profile = false;

  Options();  // the band's latitudes, every month
};

// A command line that asks for nothing brix_import can do; what() says why.
struct UsageError : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

// What the command line asks: an import, the usage text, the version, or
// what brix_eli's two input files hold (--inputs XY RECON [--order 1|2]).
struct Command {
  enum class Kind { kImport, kHelp, kVersion, kInputs } kind = Kind::kImport;
  Options options;
  std::string xy, recon;  // --inputs
  int order = 1;
};

// The environment's settings into `o`, then the command line's. Throws
// UsageError; Failure when a list of files cannot be read.
Command parse_command_line(int argc, const char* const* argv);

// Takes `value` for the option (as "--months"), as the command line does.
// Throws UsageError.
void set_option(Options& o, std::string_view option, std::string_view value);

// The usage text that --help prints.
std::string usage_text();

}  // namespace brix::importer
