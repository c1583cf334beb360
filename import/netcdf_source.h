// A netCDF file as a source: its header read through netCDF-C, its values
// through netCDF-C or, for the blocks of a netCDF-4 variable stored in
// chunks this reader knows, straight from the chunks on several threads.
// A file shorter than its header says is refused before anything is read
// from beyond its end: netCDF-C would read the missing bytes of a classic
// file as zeros.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "import/chunks.h"
#include "import/extent.h"
#include "import/source.h"

namespace brix::importer {

struct NetcdfSettings {
  int threads = 1;            // for decoding chunks (1: the calling thread alone)
  bool direct_chunks = true;  // false: every read through netCDF-C
};

class NetcdfSource final : public Source {
 public:
  // Opens the file and reads its header. Throws Failure.
  NetcdfSource(const std::string& path, const NetcdfSettings& settings);
  ~NetcdfSource() override;
  NetcdfSource(const NetcdfSource&) = delete;
  NetcdfSource& operator=(const NetcdfSource&) = delete;

  const std::string& path() const override { return path_; }
  const Header& header() const override { return header_; }
  void read(int var, std::vector<double>& out) override;
  void read(int var, std::span<const std::size_t> start, std::span<const std::size_t> count,
            std::vector<double>& out) override;
  void close() override;
  ReadStats stats() const override;

 private:
  void open();
  // Throws Failure when the file is too short to hold variable `var` up to
  // its record `last`, or all its records.
  void need(int var, std::optional<std::size_t> last = std::nullopt) const;
  bool read_chunks(int var, std::span<const std::size_t> start,
                   std::span<const std::size_t> count, std::vector<double>& out);

  std::string path_;
  NetcdfSettings settings_;
  std::optional<Extent> extent_;
  Header header_;
  int ncid_ = -1;
  // The chunk reader of variable chunk_var_, tried once a time the file is open.
  int chunk_var_ = -1;
  std::unique_ptr<ChunkReader> chunks_;
  ChunkTimes closed_times_;  // of the chunk readers closed with the file
  bool direct_ = false;
};

}  // namespace brix::importer
