// Synthetic inputs for brix_eli: a coordinate file and a reconstruction file
// of any size, the same bytes on every machine for a given seed.
//
// The field holds a warm pool (about 29-30 degrees at its centre) whose centre
// longitude wanders east and west from one year to the next, cooler water
// elsewhere (about 24-28) and noise. Values are produced as whole thousandths,
// so every value field is written exactly as "%10.3f" would write it, and no
// libm function takes part: only exactly rounded arithmetic.
//
// Optional "messy" features exercise the readers: comma-separated lines, short
// lines, fields without a decimal point, blank fields, unreadable lines, tabs
// and CR LF line ends. Every feature keeps the meaning of the data: a reader
// that follows the file rules stores exactly the values of Dataset::milli.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace brix::gen {

enum class Grid {
  kRandom,   // random tropical points, 20S-20N, all longitudes, 0.5-degree steps
  kRegular,  // a regular grid: lat_min..lat_max by lon_min..lon_max, step apart
};

enum class Order { kLatLon, kLonLat };

// Fractions (0 to 1) of lines or fields carrying each reader-testing feature.
struct Messy {
  double comma = 0;    // lines: comma-separated instead of fixed columns
  double shorter = 0;  // lines: year lines cut short, coordinate pairs split over two lines
  double implied = 0;  // fields: written without a decimal point ("29512" for 29.512)
  double blank = 0;    // fields: all blanks (read as 0.0)
  double bad = 0;      // extra lines that cannot be read ("  29.5x", "lat lon")
  double tabs = 0;     // lines: runs of blanks before a tab stop written as a tab
  double crlf = 0;     // lines: ending in CR LF

  // Every feature at a modest rate: what --messy turns on.
  static Messy all();
  bool any() const;
};

struct Options {
  int points = 1000;  // random grid only; a regular grid has as many as it holds
  int years = 100;
  int first_year = 1900;
  std::uint64_t seed = 1;
  Grid grid = Grid::kRandom;
  // Regular grid, in degrees. Longitudes may run past 180 (120 to 280 crosses
  // the dateline); they are written from -180 to 180, so 182 becomes -178.
  double lat_min = -15, lat_max = 15;
  double lon_min = 120, lon_max = 280;
  double step = 2;
  Order order = Order::kLatLon;
  Messy messy;
};

// Empty when the options can be generated, else what is wrong with them.
std::string check(const Options& options);

// The grid points in file order, in hundredths of a degree as written (so
// longitudes lie in -180..180). Throws std::invalid_argument on bad options.
struct GridPoints {
  std::vector<std::int32_t> lat;
  std::vector<std::int32_t> lon;
};
GridPoints grid_points(const Options& options);

// A whole data set in memory, for small sizes.
struct Dataset {
  std::string xy;     // the coordinate file
  std::string recon;  // the reconstruction file
  GridPoints grid;
  // What a correct reader stores, in thousandths: value p (from 0) of year
  // record y (from 0) at milli[y * points + p]. Blank fields and the missing
  // fields of short lines are 0.
  std::vector<std::int32_t> milli;
  int points = 0;
  int years = 0;
  int bad_lines = 0;       // unreadable lines inserted into the reconstruction file
  int xy_extra_lines = 0;  // coordinate file lines beyond one per pair: words, empty, split
};
Dataset make(const Options& options);

// Writes the two files through large buffers; nothing is kept in memory but
// one line. Returns an empty string, or the reason for a failure.
struct Written {
  std::uint64_t xy_bytes = 0;
  std::uint64_t recon_bytes = 0;
};
std::string write_files(const Options& options, const std::string& xy_path,
                        const std::string& recon_path, Written* written = nullptr);

}  // namespace brix::gen
