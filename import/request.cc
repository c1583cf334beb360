#include "import/request.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string_view>

#include "import/source.h"
#include "records/band.h"
#include "records/threads.h"

namespace brix::importer {
namespace {

constexpr const char* kUsage =
    "Usage: brix_import [options] FILE.nc...\n"
    "Turns the monthly SST field of a CF netCDF dataset into the coordinate file and\n"
    "the reconstruction file that brix_eli reads. Any grid whose cells have a\n"
    "latitude and a longitude will do: rectilinear, curvilinear, rotated pole or\n"
    "unstructured; each cell of the region is a point. A dataset of several files\n"
    "(spans of years, one file a month) is given as all its files, in any order.\n"
    "\n"
    "  --files-from LIST  the files of the dataset, one path a line, besides any given\n"
    "  --var NAME      the SST variable (default: the variable whose standard_name is\n"
    "                  sea_surface_temperature; else one named sst, tos or SST)\n"
    "  --units U       the values' units, in place of the file's (such as K)\n"
    "  --lat S:N       latitudes to keep, degrees north, both limits included\n"
    "                  (default BAND, the band the analysis uses)\n"
    "  --lon W:E       longitudes to keep, degrees east, both limits included;\n"
    "                  W > E crosses the dateline (default: all)\n"
    "  --years A:B     calendar years to write (default: every complete year)\n"
    "  --months LIST   the months whose mean makes a year's value, in increasing\n"
    "                  order within one calendar year: 1-12 (default), 6-8, 1,2,3;\n"
    "                  or a season across the year end, in its order: 12-2 or 12,1,2\n"
    "                  (DJF: December of the year before, January, February), 11-3;\n"
    "                  the year is the year of the season's last month. A list that\n"
    "                  wraps round, such as 12,1,2, is such a season, not three months\n"
    "                  of one calendar year\n"
    "  --coarsen N     rectilinear grids: average blocks of N by N cells into one\n"
    "                  point, for high-resolution grids (default 1: every cell)\n"
    "  --xy FILE       coordinate file to write (default xy_coordinates.txt)\n"
    "  --recon FILE    reconstruction file to write (default recon_sst.txt)\n"
    "  --summary-json FILE  the summary as JSON too, into FILE\n"
    "  --force         replace output files that exist\n"
    "  -j N            threads for inflating netCDF-4 chunks (default: BRIX_THREADS,\n"
    "                  else one a core)\n"
    "  -h, --help      this text;   --version  the version\n"
    "\n"
    "brix_import --inputs XY RECON [--order 1|2] reads brix_eli's two input files as\n"
    "brix_eli does (pairs lat lon, or lon lat with --order 2) and prints what they\n"
    "hold as JSON: the grid points, those in the band, the first and last year.\n";

bool to_double(std::string_view text, double& v) {
  std::string s(text);
  char* end = nullptr;
  errno = 0;
  v = std::strtod(s.c_str(), &end);
  return !s.empty() && *end == '\0' && errno == 0;
}

bool to_int(std::string_view text, int& v) {
  std::string s(text);
  char* end = nullptr;
  errno = 0;
  long n = std::strtol(s.c_str(), &end, 10);
  v = static_cast<int>(n);
  return !s.empty() && *end == '\0' && errno == 0 && n == v;
}

// "A:B" with A <= B, unless `any_order`.
Range to_range(std::string_view option, std::string_view text, bool any_order) {
  std::size_t colon = text.find(':');
  Range r;
  if (colon == std::string_view::npos || !to_double(text.substr(0, colon), r.lo) ||
      !to_double(text.substr(colon + 1), r.hi))
    throw UsageError(std::string(option) + " takes two numbers as FROM:TO, not \"" +
                     std::string(text) + "\"");
  if (!any_order && r.lo > r.hi) throw UsageError(std::string(option) + " needs FROM <= TO");
  return r;
}

std::array<int, 2> to_years(std::string_view option, std::string_view text) {
  Range r = to_range(option, text, false);
  int first = static_cast<int>(r.lo), last = static_cast<int>(r.hi);
  if (first != r.lo || last != r.hi) throw UsageError("--years takes whole years, as 1950:2020");
  return {first, last};
}

Season to_months(std::string_view text) {
  try {
    return Season::parse(text);
  } catch (const std::invalid_argument& e) {
    throw UsageError(e.what());
  }
}

// The paths of LIST, one a line; blank lines are skipped.
void files_from(std::string_view list, std::vector<std::string>& paths) {
  std::ifstream in{std::string(list)};
  if (!in)
    throw Failure("cannot read the list of files " + std::string(list) + ": " +
                  std::strerror(errno));
  std::size_t before = paths.size();
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") != std::string::npos) paths.push_back(line);
  }
  if (paths.size() == before) throw UsageError("the list of files " + std::string(list) + " is empty");
}

void read_environment(Options& o) {
  o.threads = records::worker_threads();  // BRIX_THREADS, as brix_eli takes it
  const char* chunks = std::getenv("BRIX_IMPORT_CHUNKS");
  o.direct_chunks = chunks == nullptr || std::string_view(chunks) != "netcdf";
  const char* profile = std::getenv("BRIX_IMPORT_PROFILE");
  o.profile = profile != nullptr && *profile != '\0';
}

}  // namespace

void set_option(Options& o, std::string_view a, std::string_view v) {
  if (a == "--var") {
    o.var = v;
  } else if (a == "-j") {
    if (!to_int(v, o.threads) || o.threads < 1 || o.threads > 256)
      throw UsageError("-j takes a number of threads, 1 to 256");
  } else if (a == "--units") {
    if (v.empty()) throw UsageError("--units needs a unit, such as K or degC");
    o.units = v;
  } else if (a == "--files-from") {
    files_from(v, o.inputs);
  } else if (a == "--lat") {
    o.region.lat = to_range(a, v, false);
  } else if (a == "--lon") {
    o.region.lon = to_range(a, v, true);
  } else if (a == "--years") {
    o.years = to_years(a, v);
  } else if (a == "--months") {
    o.months = to_months(v);
  } else if (a == "--coarsen") {
    if (!to_int(v, o.region.coarsen) || o.region.coarsen < 1)
      throw UsageError("--coarsen takes a whole number of cells, 1 or more");
  } else if (a == "--xy") {
    o.xy = v;
  } else if (a == "--recon") {
    o.recon = v;
  } else {
    o.summary_json = v;
  }
}

namespace {

bool takes_value(std::string_view a) {
  for (std::string_view option : {"--var", "--lat", "--lon", "--years", "--months", "--xy",
                                  "--recon", "--coarsen", "--units", "--files-from", "-j",
                                  "--summary-json"})
    if (a == option) return true;
  return false;
}

}  // namespace

std::string version_text() { return std::string("brix_import ") + BRIX_VERSION; }

std::string usage_text() {
  std::string s = kUsage;
  return s.replace(s.find("BAND"), 4, range_text(Options().region.lat));
}

Options::Options() { region.lat = {records::kBandSouth, records::kBandNorth}; }

namespace {

Command inputs_command(int argc, const char* const* argv) {
  Command c;
  c.kind = Command::Kind::kInputs;
  if (argc != 4 && argc != 6) throw UsageError("--inputs takes XY RECON [--order 1|2]");
  c.xy = argv[2];
  c.recon = argv[3];
  if (argc == 6 && (std::string_view(argv[4]) != "--order" ||
                    !(std::string_view(argv[5]) == "1" || std::string_view(argv[5]) == "2")))
    throw UsageError("--inputs takes XY RECON [--order 1|2]");
  if (argc == 6) c.order = argv[5][0] - '0';
  return c;
}

}  // namespace

Command parse_command_line(int argc, const char* const* argv) {
  if (argc > 1 && std::string_view(argv[1]) == "--inputs") return inputs_command(argc, argv);
  Command c;
  Options& o = c.options;
  read_environment(o);
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    if (a == "-h" || a == "--help") return {Command::Kind::kHelp, o, "", "", 1};
    if (a == "--version") return {Command::Kind::kVersion, o, "", "", 1};
    if (a == "--force") {
      o.force = true;
    } else if (a.size() > 1 && a[0] == '-') {
      if (!takes_value(a)) throw UsageError("unknown option " + std::string(a));
      if (i + 1 >= argc) throw UsageError(std::string(a) + " needs a value");
      set_option(o, a, argv[++i]);
    } else {
      o.inputs.emplace_back(a);
    }
  }
  if (o.inputs.empty()) throw UsageError("no netCDF file given");
  if (o.xy == o.recon) throw UsageError("--xy and --recon name the same file");
  if (o.summary_json == o.xy || o.summary_json == o.recon)
    throw UsageError("--summary-json names the file of --xy or --recon");
  return c;
}

}  // namespace brix::importer
