// The analysis library for Python: numpy arrays of single-precision values
// in, the rows of both tables out as one numpy array a column. The work is
// done without the interpreter's lock, so analyses on several Python
// threads run at once.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/tables.h"

namespace py = pybind11;
using brix::analysis::Column;

namespace {

using Floats = py::array_t<float, py::array::c_style | py::array::forcecast>;

// Each column of the rows as an array under its heading.
template <typename Row, std::size_t N>
py::dict columns(const std::vector<Row>& rows, const Column<Row> (&list)[N]) {
  py::dict out;
  for (const Column<Row>& c : list) {
    py::str name(std::string(c.heading));
    if (c.value == nullptr) {
      py::array_t<std::int32_t> a(static_cast<py::ssize_t>(rows.size()));
      auto v = a.mutable_unchecked<1>();
      for (std::size_t k = 0; k < rows.size(); ++k) v(static_cast<py::ssize_t>(k)) = rows[k].year;
      out[name] = a;
    } else {
      py::array_t<float> a(static_cast<py::ssize_t>(rows.size()));
      auto v = a.mutable_unchecked<1>();
      for (std::size_t k = 0; k < rows.size(); ++k)
        v(static_cast<py::ssize_t>(k)) = rows[k].*c.value;
      out[name] = a;
    }
  }
  return out;
}

const char* outcome_name(brix::analysis::SplineOutcome o) {
  switch (o) {
    case brix::analysis::SplineOutcome::kSmoothed:
      return "smoothed";
    case brix::analysis::SplineOutcome::kTooFew:
      return "too few years";
    case brix::analysis::SplineOutcome::kNotPositive:
      return "not positive definite";
  }
  return "";
}

py::dict result_dict(const brix::analysis::Result& r) {
  py::dict out;
  out["yearly"] = columns(r.yearly, brix::analysis::kYearlyColumns);
  out["smoothed"] = columns(r.smoothed, brix::analysis::kSmoothedColumns);
  py::list outcomes;
  for (auto o : r.spline_outcomes) outcomes.append(outcome_name(o));
  out["spline_outcomes"] = outcomes;
  out["spline_factor"] = r.spline_factor;
  out["yearly_text"] = brix::analysis::yearly_table(r.yearly);
  out["smoothed_text"] = brix::analysis::smoothed_table(r.smoothed);
  return out;
}

std::span<const float> span_of(const Floats& a) {
  return {a.data(), static_cast<std::size_t>(a.size())};
}

py::dict analyse_band(const Floats& band_lon, const Floats& values, std::int32_t first_year,
                      float threshold, std::int32_t period, int threads) {
  if (band_lon.ndim() != 1) throw py::value_error("band_lon must be one-dimensional");
  if (values.ndim() != 2 || values.shape(1) != band_lon.shape(0))
    throw py::value_error("values must be years by band points (" +
                          std::to_string(band_lon.shape(0)) + " of them)");
  brix::analysis::Result r;
  {
    py::gil_scoped_release free;
    r = brix::analysis::analyse_band(span_of(band_lon), span_of(values),
                                     static_cast<std::int32_t>(values.shape(0)), first_year,
                                     {threshold, period, threads});
  }
  return result_dict(r);
}

py::dict analyse(const Floats& lat, const Floats& lon, const Floats& values,
                 std::int32_t first_year, float threshold, std::int32_t period, bool dateline,
                 int threads) {
  if (lat.ndim() != 1 || lon.ndim() != 1)
    throw py::value_error("lat and lon must be one-dimensional");
  if (values.ndim() != 2 || values.shape(1) != lat.shape(0))
    throw py::value_error("values must be years by grid points (" + std::to_string(lat.shape(0)) +
                          " of them)");
  brix::analysis::Result r;
  {
    py::gil_scoped_release free;
    r = brix::analysis::analyse(span_of(lat), span_of(lon), span_of(values), first_year, dateline,
                                {threshold, period, threads});
  }
  return result_dict(r);
}

template <typename Row, std::size_t N>
py::tuple headings(const Column<Row> (&list)[N]) {
  py::tuple t(N);
  for (std::size_t k = 0; k < N; ++k) t[k] = std::string(list[k].heading);
  return t;
}

}  // namespace

void bind_import(py::module_& m);  // importing.cc

PYBIND11_MODULE(_core, m) {
  m.doc() = "brix_eli's analysis: warm points of the equatorial band, their statistics, smoothed";
  py::register_exception<brix::analysis::BadInput>(m, "BadInput", PyExc_ValueError);
  m.def("analyse", &analyse, py::arg("lat"), py::arg("lon"), py::arg("values"),
        py::arg("first_year"), py::arg("threshold"), py::arg("period"), py::arg("dateline"),
        py::arg("threads") = 1);
  m.def("analyse_band", &analyse_band, py::arg("band_lon"), py::arg("values"),
        py::arg("first_year"), py::arg("threshold"), py::arg("period"), py::arg("threads") = 1);
  m.attr("YEARLY_COLUMNS") = headings(brix::analysis::kYearlyColumns);
  m.attr("SMOOTHED_COLUMNS") = headings(brix::analysis::kSmoothedColumns);
  bind_import(m);
}
