// Where the importer's rules meet the data: a dataset's header (its
// dimensions, variables and attributes) and the values of its variables.
// Every rule of the importer (which variable, which time axis, which grid,
// which units) reads the header alone and asks the source for values; a
// netCDF file and arrays held in memory are two sources, and the rules are
// the same for both.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace brix::importer {

// Anything that stops the import; the message says what and where.
struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The element types of variables and attributes, as netCDF has them.
enum class Type {
  kByte, kChar, kShort, kInt, kFloat, kDouble, kUByte, kUShort, kUInt, kInt64, kUInt64, kString,
  kOther,  // compound, enumerated and other types of no number
};
bool holds_text(Type type);

struct Attribute {
  std::string name;
  Type type = Type::kChar;
  std::string text;             // text types: the text, up to any NUL (of strings, the first)
  std::vector<double> numbers;  // numeric types: the values
};

struct Dimension {
  std::string name;
  std::size_t length = 0;
};

struct VariableHeader {
  std::string name;
  Type type = Type::kDouble;
  std::vector<int> dims;  // indices into Header::dimensions
  std::vector<Attribute> attributes;
};

struct Header {
  std::vector<Dimension> dimensions;
  std::vector<VariableHeader> variables;
  std::vector<Attribute> globals;
  int unlimited = -1;  // the unlimited dimension, if any

  // -1 when there is none of that name.
  int variable(std::string_view name) const;
  // The attribute `name` of variable `var` (kGlobal: of the dataset), or null.
  const Attribute* attribute(int var, std::string_view name) const;
  // A text attribute, or "" when there is none or it holds numbers.
  std::string text(int var, std::string_view name) const;
  // A numeric attribute's values, empty when there is none or it holds text.
  std::vector<double> numbers(int var, std::string_view name, Type* type = nullptr) const;
  const std::vector<int>& dims(int var) const { return variables[static_cast<std::size_t>(var)].dims; }
  const std::string& name(int var) const { return variables[static_cast<std::size_t>(var)].name; }
  const std::string& dim_name(int dim) const { return dimensions[static_cast<std::size_t>(dim)].name; }
  static constexpr int kGlobal = -1;
};

// A read that failed: what() is the reason, as the message's last part
// ("NetCDF: HDF error; the file may be damaged ..."). `chunk` is set for a
// stored chunk that could not be decoded, with its first index along the
// variable's first dimension.
struct ReadError : std::runtime_error {
  ReadError(const std::string& why, std::optional<std::size_t> chunk = std::nullopt)
      : std::runtime_error(why), chunk(chunk) {}
  std::optional<std::size_t> chunk;
};

// How values were read: processor seconds of reading chunks as stored and of
// decoding them on every thread, and whether any came straight from chunks.
struct ReadStats {
  double reading_chunks = 0, decoding = 0;
  bool direct = false;
};

class Source {
 public:
  virtual ~Source() = default;
  // The name in messages: the file's path as given.
  virtual const std::string& path() const = 0;
  virtual const Header& header() const = 0;
  // Every value of variable `var` as doubles, in C order. Throws ReadError,
  // or Failure for a file too short to hold them.
  virtual void read(int var, std::vector<double>& out) = 0;
  // The values of `count` elements from `start` along each dimension of
  // `var`, in C order. Throws as read().
  virtual void read(int var, std::span<const std::size_t> start,
                    std::span<const std::size_t> count, std::vector<double>& out) = 0;
  // Gives up what the source holds open until it is read again, so that a
  // dataset of thousands of files never holds more than a few open.
  virtual void close() {}
  virtual ReadStats stats() const { return {}; }
};

}  // namespace brix::importer
