// Arrays held in memory as a source: a header made by the caller, and each
// variable's values as a whole array or through a function that reads a
// block of them (so that a caller holding a lazily read array reads only
// the blocks asked for).
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "import/source.h"

namespace brix::importer {

class MemorySource final : public Source {
 public:
  // Reads the block from `start` of `count` elements along each dimension
  // into `out` (sized to the block), in C order.
  using BlockReader = std::function<void(std::span<const std::size_t> start,
                                         std::span<const std::size_t> count, double* out)>;

  MemorySource(std::string name, Header header) : name_(std::move(name)), header_(std::move(header)) {}

  // The values of variable `var`, in C order, as many as its dimensions hold.
  void set_values(int var, std::vector<double> values);
  void set_reader(int var, BlockReader reader);

  const std::string& path() const override { return name_; }
  const Header& header() const override { return header_; }
  void read(int var, std::vector<double>& out) override;
  void read(int var, std::span<const std::size_t> start, std::span<const std::size_t> count,
            std::vector<double>& out) override;

 private:
  std::vector<std::size_t> shape(int var) const;

  std::string name_;
  Header header_;
  std::map<int, std::vector<double>> values_;
  std::map<int, BlockReader> readers_;
};

}  // namespace brix::importer
