// brix_gen: writes a synthetic coordinate file and reconstruction file.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "generate/generate.h"

namespace {

constexpr const char* kUsage =
    "Usage: brix_gen [options]\n"
    "Writes a synthetic XY coordinate file and SST reconstruction file; the same\n"
    "options and seed give the same bytes on every machine.\n"
    "\n"
    "  --points N        grid points of the random grid (default 1000)\n"
    "  --years N         year records (default 100)\n"
    "  --first-year Y    year of the first record (default 1900)\n"
    "  --seed S          seed, an unsigned 64-bit integer (default 1)\n"
    "  --grid KIND       random: points anywhere in 20S-20N with the band edges\n"
    "                    5S and 5N and points just outside them (default);\n"
    "                    regular: the grid below\n"
    "  --lat-min D       regular grid: southern edge (default -15)\n"
    "  --lat-max D       regular grid: northern edge (default 15)\n"
    "  --lon-min D       regular grid: western edge (default 120)\n"
    "  --lon-max D       regular grid: eastern edge, may pass 180 (default 280;\n"
    "                    longitudes past 180 are written as negative: 182 -> -178)\n"
    "  --step D          regular grid: spacing in degrees (default 2)\n"
    "  --order ORDER     latlon (default) or lonlat pairs in the coordinate file\n"
    "  --messy           add reader-testing features: comma-separated and short\n"
    "                    lines, fields without a decimal point, blank fields,\n"
    "                    unreadable lines, tabs, CR LF line ends\n"
    "  --xy FILE         coordinate file (default xy_coordinates.txt)\n"
    "  --recon FILE      reconstruction file (default recon_sst.txt)\n"
    "  --help            this text\n";

[[noreturn]] void fail(const std::string& message) {
  std::fprintf(stderr, "brix_gen: %s\n", message.c_str());
  std::exit(2);
}

long long to_integer(std::string_view option, const char* text) {
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0')
    fail(std::string(option) + " needs an integer, not \"" + text + "\"");
  return v;
}

int to_int(std::string_view option, const char* text) {
  long long v = to_integer(option, text);
  if (v < -2147483647LL || v > 2147483647LL) fail(std::string(option) + " is out of range");
  return static_cast<int>(v);
}

double to_number(std::string_view option, const char* text) {
  char* end = nullptr;
  double v = std::strtod(text, &end);
  if (end == text || *end != '\0') fail(std::string(option) + " needs a number, not \"" + text + "\"");
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  brix::gen::Options o;
  std::string xy = "xy_coordinates.txt";
  std::string recon = "recon_sst.txt";
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a == "--messy") {
      o.messy = brix::gen::Messy::all();
      continue;
    }
    if (i + 1 >= argc) fail(std::string(a) + " needs a value (see --help)");
    const char* v = argv[++i];
    if (a == "--points") o.points = to_int(a, v);
    else if (a == "--years") o.years = to_int(a, v);
    else if (a == "--first-year") o.first_year = to_int(a, v);
    else if (a == "--seed") {
      if (v[0] == '-') fail("--seed needs an unsigned integer");
      errno = 0;
      char* end = nullptr;
      o.seed = std::strtoull(v, &end, 10);
      if (errno != 0 || end == v || *end != '\0') fail("--seed needs an unsigned integer");
    } else if (a == "--grid") {
      std::string_view g = v;
      if (g == "random") o.grid = brix::gen::Grid::kRandom;
      else if (g == "regular") o.grid = brix::gen::Grid::kRegular;
      else fail("--grid takes random or regular");
    } else if (a == "--lat-min") o.lat_min = to_number(a, v);
    else if (a == "--lat-max") o.lat_max = to_number(a, v);
    else if (a == "--lon-min") o.lon_min = to_number(a, v);
    else if (a == "--lon-max") o.lon_max = to_number(a, v);
    else if (a == "--step") o.step = to_number(a, v);
    else if (a == "--order") {
      std::string_view r = v;
      if (r == "latlon") o.order = brix::gen::Order::kLatLon;
      else if (r == "lonlat") o.order = brix::gen::Order::kLonLat;
      else fail("--order takes latlon or lonlat");
    } else if (a == "--xy") xy = v;
    else if (a == "--recon") recon = v;
    else fail("unknown option " + std::string(a) + " (see --help)");
  }

  if (std::string why = brix::gen::check(o); !why.empty()) fail(why);
  brix::gen::Written w;
  if (std::string why = brix::gen::write_files(o, xy, recon, &w); !why.empty()) fail(why);
  int points = static_cast<int>(brix::gen::grid_points(o).lat.size());
  std::fprintf(stderr, "brix_gen: %d points, %d years from %d: %s (%llu bytes), %s (%llu bytes)\n",
               points, o.years, o.first_year, xy.c_str(),
               static_cast<unsigned long long>(w.xy_bytes), recon.c_str(),
               static_cast<unsigned long long>(w.recon_bytes));
  if (points > 12000 || o.years > 2500)
    std::fprintf(stderr, "brix_gen: note: beyond the program's capacity (12000 points, 2500 years)\n");
  return 0;
}
