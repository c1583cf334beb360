// brix_import's stages for Python: a dataset described by the caller (its
// dimensions, variables and attributes, as a file's header would give them)
// and its values, read through the same rules as a netCDF file. The data
// variable's blocks are read by a Python function, so that a lazily loaded
// array reads only the blocks of the region.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "import/as_read.h"
#include "import/importer.h"
#include "import/memory_source.h"
#include "import/summary.h"
#include "records/band.h"

namespace py = pybind11;
namespace imp = brix::importer;

namespace {

using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;

imp::Type type_named(const std::string& name) {
  static const std::map<std::string, imp::Type> kTypes = {
      {"int8", imp::Type::kByte},     {"char", imp::Type::kChar},     {"int16", imp::Type::kShort},
      {"int32", imp::Type::kInt},     {"float32", imp::Type::kFloat}, {"float64", imp::Type::kDouble},
      {"uint8", imp::Type::kUByte},   {"uint16", imp::Type::kUShort}, {"uint32", imp::Type::kUInt},
      {"int64", imp::Type::kInt64},   {"uint64", imp::Type::kUInt64}, {"string", imp::Type::kString}};
  auto it = kTypes.find(name);
  if (it == kTypes.end()) throw py::value_error("no element type " + name);
  return it->second;
}

// An attribute from (name, type, value): a text for "char" and "string",
// else numbers.
imp::Attribute attribute_of(const py::tuple& t) {
  imp::Attribute a;
  a.name = t[0].cast<std::string>();
  a.type = type_named(t[1].cast<std::string>());
  if (imp::holds_text(a.type))
    a.text = t[2].cast<std::string>();
  else
    a.numbers = t[2].cast<std::vector<double>>();
  return a;
}

// The header from dimensions [(name, length)] and variables
// [(name, type, [dimension], [attribute])].
imp::Header header_of(const py::list& dimensions, const py::list& variables,
                      const py::list& globals) {
  imp::Header h;
  for (const auto& d : dimensions) {
    auto t = d.cast<py::tuple>();
    h.dimensions.push_back({t[0].cast<std::string>(), t[1].cast<std::size_t>()});
  }
  for (const auto& v : variables) {
    auto t = v.cast<py::tuple>();
    imp::VariableHeader var{t[0].cast<std::string>(), type_named(t[1].cast<std::string>()),
                            t[2].cast<std::vector<int>>(), {}};
    for (int d : var.dims)
      if (d < 0 || static_cast<std::size_t>(d) >= h.dimensions.size())
        throw py::value_error("variable " + var.name + " lies along no dimension " +
                              std::to_string(d));
    for (const auto& a : t[3].cast<py::list>()) var.attributes.push_back(attribute_of(a.cast<py::tuple>()));
    h.variables.push_back(std::move(var));
  }
  for (const auto& a : globals) h.globals.push_back(attribute_of(a.cast<py::tuple>()));
  return h;
}

// The data variable's blocks through `reader(start, count)`, which gives an
// array of the block's shape.
imp::MemorySource::BlockReader block_reader(py::function reader) {
  return [reader](std::span<const std::size_t> start, std::span<const std::size_t> count,
                  double* out) {
    py::tuple s(start.size()), c(count.size());
    std::size_t n = 1;
    for (std::size_t k = 0; k < start.size(); ++k) {
      s[k] = start[k];
      c[k] = count[k];
      n *= count[k];
    }
    Doubles block = reader(s, c);
    if (static_cast<std::size_t>(block.size()) != n)
      throw py::value_error("the reader gave " + std::to_string(block.size()) +
                            " values for a block of " + std::to_string(n));
    std::copy(block.data(), block.data() + n, out);
  };
}

template <typename T>
py::array_t<T> array_of(const std::vector<T>& v, std::vector<py::ssize_t> shape) {
  py::array_t<T> a(shape);
  std::copy(v.begin(), v.end(), a.mutable_data());
  return a;
}

// The import of the dataset with the options ({"--months": "6-8", ...}):
// the points and values as brix_eli reads them, the warnings, and the
// summary as text and as JSON.
py::dict import_arrays(const std::string& name, const py::list& dimensions,
                       const py::list& variables, const py::list& globals,
                       const std::map<int, Doubles>& values, int data, py::function reader,
                       const std::map<std::string, std::string>& options) {
  imp::Options o;
  o.inputs = {name};
  for (const auto& [option, value] : options) imp::set_option(o, option, value);
  auto source = std::make_unique<imp::MemorySource>(name, header_of(dimensions, variables, globals));
  for (const auto& [var, a] : values)
    source->set_values(var, std::vector<double>(a.data(), a.data() + a.size()));
  source->set_reader(data, block_reader(std::move(reader)));
  imp::Imported d = imp::import_dataset(o, [&](const std::string&) { return std::move(source); });
  imp::AsRead r = imp::as_read(d);
  py::dict out;
  const auto n = static_cast<py::ssize_t>(r.lat.size());
  out["lat"] = array_of(r.lat, {n});
  out["lon"] = array_of(r.lon, {n});
  out["values"] = array_of(r.values, {r.n_years, n});
  out["first_year"] = r.first_year;
  out["dateline"] = r.dateline;
  out["band_points"] = d.report.in_band;
  out["warnings"] = d.report.warnings;
  out["summary"] = imp::describe(o, d.report);
  out["summary_json"] = imp::summary_json(o, d.report);
  return out;
}

}  // namespace

void bind_import(py::module_& m) {
  py::register_exception<imp::Failure>(m, "ImportFailure", PyExc_ValueError);
  py::register_exception<imp::UsageError>(m, "OptionError", PyExc_ValueError);
  m.def("import_arrays", &import_arrays, py::arg("name"), py::arg("dimensions"),
        py::arg("variables"), py::arg("globals"), py::arg("values"), py::arg("data"),
        py::arg("reader"), py::arg("options"));
  m.attr("BAND") = py::make_tuple(brix::records::kBandSouth, brix::records::kBandNorth);
  m.def(
      "in_band",
      [](const py::array_t<float, py::array::c_style | py::array::forcecast>& lat) {
        py::array_t<bool> out(lat.size());
        for (py::ssize_t k = 0; k < lat.size(); ++k) out.mutable_data()[k] = brix::records::in_band(lat.data()[k]);
        return out;
      },
      py::arg("lat"), "Whether each single-precision latitude lies in the band, both limits included");
  m.attr("__version__") = BRIX_VERSION;
}
