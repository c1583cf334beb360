#include "import/memory_source.h"

namespace brix::importer {

std::vector<std::size_t> MemorySource::shape(int var) const {
  std::vector<std::size_t> s;
  for (int d : header_.dims(var)) s.push_back(header_.dimensions[static_cast<std::size_t>(d)].length);
  return s;
}

void MemorySource::set_values(int var, std::vector<double> values) {
  std::size_t n = 1;
  for (std::size_t length : shape(var)) n *= length;
  if (values.size() != n)
    throw Failure(header_.name(var) + " has " + std::to_string(n) + " elements by its dimensions, " +
                  "but " + std::to_string(values.size()) + " values were given");
  values_[var] = std::move(values);
}

void MemorySource::set_reader(int var, BlockReader reader) { readers_[var] = std::move(reader); }

void MemorySource::read(int var, std::vector<double>& out) {
  std::vector<std::size_t> count = shape(var), start(count.size(), 0);
  read(var, start, count, out);
}

void MemorySource::read(int var, std::span<const std::size_t> start,
                        std::span<const std::size_t> count, std::vector<double>& out) {
  std::size_t n = 1;
  for (std::size_t c : count) n *= c;
  out.resize(n);
  if (auto r = readers_.find(var); r != readers_.end()) return r->second(start, count, out.data());
  auto it = values_.find(var);
  if (it == values_.end()) throw ReadError("no values were given for " + header_.name(var));
  if (n == 0) return;
  // The block's elements in C order: the last dimension varies fastest.
  const std::vector<std::size_t> s = shape(var);
  const std::size_t rank = s.size();
  std::vector<std::size_t> at(start.begin(), start.end());
  for (std::size_t k = 0; k < n; ++k) {
    std::size_t flat = 0;
    for (std::size_t d = 0; d < rank; ++d) flat = flat * s[d] + at[d];
    out[k] = it->second[flat];
    for (std::size_t d = rank; d-- > 0;) {
      if (++at[d] < start[d] + count[d]) break;
      at[d] = start[d];
    }
  }
}

}  // namespace brix::importer
