// brix_import: the command around the importer library.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "import/importer.h"
#include "records/threads.h"

namespace {

using brix::importer::Options;
using brix::importer::Range;

constexpr const char* kVersion = "brix_import 1.0";

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
    "                  (default -5:5, the band the analysis uses)\n"
    "  --lon W:E       longitudes to keep, degrees east, both limits included;\n"
    "                  W > E crosses the dateline (default: all)\n"
    "  --years A:B     calendar years to write (default: every complete year)\n"
    "  --months LIST   the months whose mean makes a year's value, within one\n"
    "                  calendar year: 1-12 (default), 6-8, 1,2,3\n"
    "  --coarsen N     rectilinear grids: average blocks of N by N cells into one\n"
    "                  point, for high-resolution grids (default 1: every cell)\n"
    "  --xy FILE       coordinate file to write (default xy_coordinates.txt)\n"
    "  --recon FILE    reconstruction file to write (default recon_sst.txt)\n"
    "  --force         replace output files that exist\n"
    "  -j N            threads for inflating netCDF-4 chunks (default: BRIX_THREADS,\n"
    "                  else one a core)\n"
    "  -h, --help      this text;   --version  the version\n";

[[noreturn]] void usage_error(const std::string& message) {
  std::fprintf(stderr, "brix_import: %s (see brix_import --help)\n", message.c_str());
  std::exit(2);
}

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
    usage_error(std::string(option) + " takes two numbers as FROM:TO, not \"" + std::string(text) +
                "\"");
  if (!any_order && r.lo > r.hi) usage_error(std::string(option) + " needs FROM <= TO");
  return r;
}

std::array<bool, 13> to_months(std::string_view text) {
  std::array<bool, 13> months{};
  std::string_view rest = text;
  while (true) {
    std::size_t comma = rest.find(',');
    std::string_view item = rest.substr(0, comma);
    std::size_t dash = item.find('-');
    int a = 0, b = 0;
    bool ok = to_int(item.substr(0, dash), a) &&
              (dash == std::string_view::npos ? (b = a, true) : to_int(item.substr(dash + 1), b));
    if (!ok || a < 1 || b > 12 || a > b)
      usage_error("--months takes months 1 to 12 within one year, as 1-12, 6-8 or 1,2,3, not \"" +
                  std::string(text) + "\"");
    for (int m = a; m <= b; ++m) months[static_cast<std::size_t>(m)] = true;
    if (comma == std::string_view::npos) break;
    rest = rest.substr(comma + 1);
  }
  return months;
}

// The paths of LIST, one a line; blank lines are skipped.
void files_from(std::string_view list, std::vector<std::string>& paths) {
  std::ifstream in{std::string(list)};
  if (!in) {
    std::fprintf(stderr, "brix_import: cannot read the list of files %s: %s\n",
                 std::string(list).c_str(), std::strerror(errno));
    std::exit(1);
  }
  std::size_t before = paths.size();
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") != std::string::npos) paths.push_back(line);
  }
  if (paths.size() == before) usage_error("the list of files " + std::string(list) + " is empty");
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  o.threads = brix::records::worker_threads();  // BRIX_THREADS, as brix_eli takes it
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a == "--version") {
      std::puts(kVersion);
      return 0;
    }
    if (a == "--force") {
      o.force = true;
      continue;
    }
    if (a.size() > 1 && a[0] == '-') {
      if (a != "--var" && a != "--lat" && a != "--lon" && a != "--years" && a != "--months" &&
          a != "--xy" && a != "--recon" && a != "--coarsen" && a != "--units" &&
          a != "--files-from" && a != "-j")
        usage_error("unknown option " + std::string(a));
      if (i + 1 >= argc) usage_error(std::string(a) + " needs a value");
      std::string_view v = argv[++i];
      if (a == "--var")
        o.var = v;
      else if (a == "-j") {
        if (!to_int(v, o.threads) || o.threads < 1 || o.threads > 256)
          usage_error("-j takes a number of threads, 1 to 256");
      } else if (a == "--units") {
        if (v.empty()) usage_error("--units needs a unit, such as K or degC");
        o.units = v;
      } else if (a == "--files-from")
        files_from(v, o.inputs);
      else if (a == "--lat")
        o.lat = to_range(a, v, false);
      else if (a == "--lon")
        o.lon = to_range(a, v, true);
      else if (a == "--years") {
        Range r = to_range(a, v, false);
        int first = static_cast<int>(r.lo), last = static_cast<int>(r.hi);
        if (first != r.lo || last != r.hi) usage_error("--years takes whole years, as 1950:2020");
        o.years = std::array<int, 2>{first, last};
      } else if (a == "--months")
        o.months = to_months(v);
      else if (a == "--coarsen") {
        if (!to_int(v, o.coarsen) || o.coarsen < 1)
          usage_error("--coarsen takes a whole number of cells, 1 or more");
      } else if (a == "--xy")
        o.xy = v;
      else
        o.recon = v;
      continue;
    }
    o.inputs.emplace_back(a);
  }
  if (o.inputs.empty()) usage_error("no netCDF file given");
  if (o.xy == o.recon) usage_error("--xy and --recon name the same file");

  try {
    brix::importer::Report r = brix::importer::run(o);
    for (const std::string& w : r.warnings)
      std::fprintf(stderr, "brix_import: warning: %s\n", w.c_str());
    std::fputs(brix::importer::describe(o, r).c_str(), stdout);
    if (const char* profile = std::getenv("BRIX_IMPORT_PROFILE"); profile && *profile) {
      const auto& t = r.times;
      std::fprintf(stderr,
                   "brix_import: processor seconds: reading %.3f (of which chunks as stored "
                   "%.3f), decompressing %.3f on up to %d threads, averaging %.3f, writing %.3f; "
                   "%s\n",
                   t.reading, t.reading_chunks, t.decoding, o.threads, t.averaging, t.writing,
                   r.direct ? "chunks read directly" : "read through netCDF-C");
    }
  } catch (const brix::importer::Failure& e) {
    std::fprintf(stderr, "brix_import: %s\n", e.what());
    return 1;
  }
  return 0;
}
