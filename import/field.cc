#include "import/field.h"

#include <cstdio>

#include "import/axes.h"

namespace brix::importer {
namespace {

std::string join(const std::vector<std::string>& names) {
  std::string s;
  for (const auto& n : names) s += (s.empty() ? "" : ", ") + n;
  return s.empty() ? "none" : s;
}

constexpr const char* kSstStandardName = "sea_surface_temperature";

}  // namespace

Field::Field(std::unique_ptr<Source> source, const std::string& name)
    : source_(std::move(source)) {
  const Header& h = source_->header();
  title_ = h.text(Header::kGlobal, "title");
  find_variable(name);
  for (int d : h.dims(var_)) shape_.push_back(h.dimensions[static_cast<std::size_t>(d)].length);
  time_ = read_time_axis(*source_, var_, name_);
  warnings_ = time_.warnings;
}

void Field::find_variable(const std::string& name) {
  const Header& h = source_->header();
  // Data variables: those of two dimensions or more (time and cells at least).
  std::vector<std::string> candidates, standard;
  for (std::size_t v = 0; v < h.variables.size(); ++v) {
    const VariableHeader& var = h.variables[v];
    if (var.dims.size() < 2 || axis_of(h, static_cast<int>(v)) != Axis::kOther) continue;
    candidates.push_back(var.name);
    if (h.text(static_cast<int>(v), "standard_name") == kSstStandardName)
      standard.push_back(var.name);
  }
  const std::string& path = source_->path();
  if (!name.empty()) {
    var_ = h.variable(name);
    if (var_ < 0)
      throw Failure(path + " has no variable " + name + "; its data variables: " + join(candidates));
  } else if (standard.size() > 1) {
    throw Failure(path + " has several variables with standard_name sea_surface_temperature (" +
                  join(standard) + "); choose one with --var");
  } else if (standard.size() == 1) {
    var_ = h.variable(standard[0]);
  } else {
    for (const char* guess : {"sst", "tos", "SST"})
      if ((var_ = h.variable(guess)) >= 0) break;
    if (var_ < 0)
      throw Failure(path +
                    " has no variable with standard_name sea_surface_temperature and none named "
                    "sst, tos or SST; choose one with --var among its data variables: " +
                    join(candidates));
  }
  name_ = h.name(var_);
  is_sst_ = h.text(var_, "standard_name") == kSstStandardName || one_of(name_, {"sst", "tos", "SST"});
  Type type = h.variables[static_cast<std::size_t>(var_)].type;
  if (holds_text(type) || type == Type::kOther)
    throw Failure("variable " + name_ + " does not hold numbers");
}

void Field::load_grid(const std::string& units) {
  grid_ = read_grid(*source_, var_, time_.dim, name_);
  unpacking_ = read_unpacking(source_->header(), var_, name_, units, warnings_);
}

void Field::release_grid() {
  for (auto* v : {&grid_.cell_lat, &grid_.cell_lon, &grid_.lat, &grid_.lon})
    std::vector<double>().swap(*v);
  close();
}

void Field::read(const Block& b, std::vector<double>& out) {
  start_.assign(shape_.size(), 0);
  count_.assign(shape_.size(), 1);
  auto set = [&](int pos, Span s) {
    start_[static_cast<std::size_t>(pos)] = s.first;
    count_[static_cast<std::size_t>(pos)] = s.count;
  };
  set(time_.dim, b.time);
  if (grid_.row_dim >= 0) set(grid_.row_dim, b.rows);
  set(grid_.column_dim, b.columns);
  try {
    source_->read(var_, start_, count_, raw_);
  } catch (const ReadError& e) {
    read_failed(e, b);
  }
  // Strides of time, rows and columns in the block as stored.
  const std::size_t n = shape_.size();
  std::vector<std::size_t> stride(n, 1);
  for (std::size_t k = n - 1; k > 0; --k) stride[k - 1] = stride[k] * count_[k];
  const std::size_t st = stride[static_cast<std::size_t>(time_.dim)];
  const std::size_t si = grid_.row_dim < 0 ? 0 : stride[static_cast<std::size_t>(grid_.row_dim)];
  const std::size_t sj = stride[static_cast<std::size_t>(grid_.column_dim)];
  out.resize(b.size());
  double* o = out.data();
  for (std::size_t t = 0; t < b.time.count; ++t)
    for (std::size_t i = 0; i < b.rows.count; ++i)
      for (std::size_t j = 0; j < b.columns.count; ++j)
        *o++ = unpacking_.celsius(raw_[t * st + i * si + j * sj]);
}

void Field::read_failed(const ReadError& e, const Block& b) const {
  if (!e.chunk)
    throw Failure("cannot read " + name_ + " from " + path() + " (time steps " +
                  std::to_string(b.time.first + 1) + " to " +
                  std::to_string(b.time.first + b.time.count) + "): " + e.what());
  // A chunk that cannot be decoded: the step it starts at, when time is the
  // first dimension, else the block's first.
  std::size_t step = time_.dim == 0 ? *e.chunk : b.time.first;
  char month[16] = "";
  if (step < time_.stamps.size() && time_.stamps[step].month) {
    const YearMonth& ym = *time_.stamps[step].month;
    std::snprintf(month, sizeof month, " (%04d-%02d)", ym.year, ym.month);
  }
  throw Failure("cannot read " + name_ + " from " + path() + " at time step " +
                std::to_string(step + 1) + month + ": " + e.what());
}

}  // namespace brix::importer
