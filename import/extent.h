// How long a netCDF file must be, by its own header: where a classic file's
// header puts each variable's data and how many records it counts, and the
// end of data that an HDF5 (netCDF-4) file's superblock states. A download
// cut short keeps the header whole while the data end early, and netCDF-C
// reads the missing bytes of a classic file as zeros without an error.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace brix::importer {

struct Extent {
  enum class Kind { kClassic, kHdf5 };
  Kind kind = Kind::kClassic;
  std::uint64_t length = 0;  // the file's length in bytes
  // The bytes the header needs: for a classic file, the header itself; for
  // HDF5, the end of its data. When the header itself is cut, at least
  // as many bytes as were read of it, more than the length.
  std::uint64_t needed = 0;
  bool header_cut = false;
  // Classic files: each variable's data.
  struct Data {
    std::uint64_t begin = 0;  // offset of its first byte
    std::uint64_t size = 0;   // bytes of the whole variable, or of one record's slab
    bool record = false;
  };
  std::map<std::string, Data> variables;
  std::uint64_t records = 0;      // records the header counts
  std::uint64_t record_size = 0;  // bytes from a record to the next
  bool streaming = false;         // the record count is left to the file's length
};

// The extent of the file at `path`: nullopt when it is neither a classic nor
// an HDF5 file (netCDF-C then says what it is not) or cannot be read.
std::optional<Extent> read_extent(const std::string& path);

// The bytes the file must hold for variable `name` up to and including
// record `last` (ignored for a variable without records); 0 when the
// extent does not place that variable.
std::uint64_t bytes_needed(const Extent& e, const std::string& name, std::uint64_t last);

}  // namespace brix::importer
