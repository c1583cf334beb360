// The SST field of one source: its variable, its time axis, and once loaded
// its grid and unpacking; blocks of its values as degrees Celsius with the
// missing ones as NaN.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "import/grid.h"
#include "import/source.h"
#include "import/time_axis.h"
#include "import/unpacking.h"

namespace brix::importer {

// A range of places along one dimension.
struct Span {
  std::size_t first = 0, count = 0;
};

// Time steps by rows by columns of a field.
struct Block {
  Span time, rows, columns;
  std::size_t size() const { return time.count * rows.count * columns.count; }
};

class Field {
 public:
  // Finds the variable (`name`, or when it is empty the variable whose
  // standard_name is sea_surface_temperature, else one named sst, tos or
  // SST) and reads its time axis. Throws Failure.
  Field(std::unique_ptr<Source> source, const std::string& name);

  // Reads the grid's coordinates and the values' packing and units; `units`,
  // when not empty, stands for the variable's own units. Throws Failure.
  void load_grid(const std::string& units);
  // Frees the coordinates (of a file whose grid was found the same as
  // another's) and closes the source; read() opens it again.
  void release_grid();
  void close() { source_->close(); }

  const std::string& path() const { return source_->path(); }
  const std::string& name() const { return name_; }
  // standard_name sea_surface_temperature, or the name sst, tos or SST.
  bool is_sst() const { return is_sst_; }
  const std::string& title() const { return title_; }  // the global "title", or empty
  const TimeAxis& time() const { return time_; }
  const Grid& grid() const { return grid_; }
  const Unpacking& unpacking() const { return unpacking_; }
  // What could not be taken as it is (bounds, units neither kelvin nor Celsius).
  const std::vector<std::string>& warnings() const { return warnings_; }
  ReadStats stats() const { return source_->stats(); }

  // The values of the block in degrees Celsius (for a temperature) with
  // missing values as NaN, at out[((t - t0) * ni + (i - i0)) * nj + (j - j0)].
  void read(const Block& block, std::vector<double>& out);

 private:
  void find_variable(const std::string& name);
  [[noreturn]] void read_failed(const ReadError& e, const Block& block) const;

  std::unique_ptr<Source> source_;
  int var_ = -1;
  std::string name_, title_;
  bool is_sst_ = false;
  std::vector<std::size_t> shape_;
  TimeAxis time_;
  Grid grid_;
  Unpacking unpacking_;
  std::vector<std::string> warnings_;
  std::vector<std::size_t> start_, count_;  // of the block read, along every dimension
  std::vector<double> raw_;                 // the block as stored
};

}  // namespace brix::importer
