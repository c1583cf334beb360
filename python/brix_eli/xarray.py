"""brix_eli's analysis on an SST DataArray, through brix_import's own rules.

    import xarray as xr, brix_eli.xarray
    sst = xr.open_dataset("sst.mnmean.nc")["sst"]
    ds = brix_eli.xarray.eli(sst, threshold=28.5, period=10, months="6-8")

The DataArray is handed to brix_import's stages as a file's variable would
be: its dimensions, its coordinates with their attributes, and its values,
of which only the blocks of the region are read (so a Dask-backed array
computes the region alone). The same rules then place the steps in months,
choose the complete years, find the grid, turn kelvin into degrees Celsius,
leave out fill values and values that cannot be data, and take the yearly
means, with the same warnings (as Python warnings) and the same errors (as
``ImportFailure``, whose text is brix_import's). The means are then what
brix_eli reads from brix_import's files, to the bit.

The keywords are brix_import's options, as text or as Python values:
``months="6-8"`` or ``range(6, 9)`` (in the order given), ``years="1983:1990"``
or ``(1983, 1990)``, ``lat="-10:10"`` or ``(-10, 10)``, ``lon="150:-90"``,
``coarsen=2``, ``units="K"``.
"""
import numbers
import warnings

import numpy as np
import xarray as xr

from . import SMOOTHED_COLUMNS, YEARLY_COLUMNS, _core, analyse

__all__ = ["eli", "ImportFailure", "BrixImportWarning"]

ImportFailure = _core.ImportFailure


class BrixImportWarning(UserWarning):
    """What brix_import would print as a warning."""


def _pair(name, value):
    """"A:B" from a text or a pair of numbers."""
    if isinstance(value, str):
        return value
    try:
        a, b = value
    except (TypeError, ValueError):
        raise TypeError(f"{name} takes a text \"A:B\" or a pair (A, B), not {value!r}") from None
    return f"{a!r}:{b!r}" if isinstance(a, float) or isinstance(b, float) else f"{a}:{b}"


def _options(months, years, lat, lon, coarsen, units):
    """brix_import's options, as the texts its command line takes."""
    o = {}
    if isinstance(months, numbers.Integral):
        months = [months]
    if months is not None:
        o["--months"] = months if isinstance(months, str) else ",".join(str(int(m)) for m in months)
    for option, value in (("--years", years), ("--lat", lat), ("--lon", lon)):
        if value is not None:
            o[option] = _pair(option[2:], value)
    if coarsen is not None:
        o["--coarsen"] = str(coarsen) if isinstance(coarsen, (str, numbers.Integral)) else repr(coarsen)
    if units is not None:
        o["--units"] = str(units)
    return o


def _attribute(name, value):
    """(name, type, value) for the header, or None for a value of no such type."""
    if isinstance(value, str):
        return (name, "char", value)
    a = np.asarray(value)
    if a.dtype.kind in "iuf" and a.size:
        return (name, a.dtype.name, [float(x) for x in a.ravel()])
    return None


def _attributes(attrs):
    return [a for a in (_attribute(str(k), v) for k, v in attrs.items()) if a is not None]


def _encoded_times(t, units=None, calendar=None):
    """Times as numbers with their "UNIT since DATE" units and calendar: those
    the file had where xarray kept them, else of its own choosing."""
    values = np.asarray(t)
    if np.issubdtype(values.dtype, np.datetime64) or values.dtype == object:
        numbers_, units, calendar = xr.coding.times.encode_cf_datetime(values, units, calendar)
        return np.asarray(numbers_, dtype=np.float64), units, calendar
    return values.astype(np.float64), units, calendar


class _Header:
    """The DataArray as a header of dimensions and variables, with values."""

    def __init__(self, da, time_bounds):
        self.da = da
        self.dims = [(str(d), int(n)) for d, n in da.sizes.items()]
        self.variables, self.values = [], {}
        for name, c in da.coords.items():
            if c.ndim >= 1 and (c.dtype.kind in "iufM" or c.dtype == object):
                self._coordinate(str(name), c, time_bounds)
        self.data = len(self.variables)
        name = da.name if da.name is not None else "__xarray_dataarray_variable__"
        self._add(str(name), da.dtype, da.dims, _attributes(da.attrs), None)

    def _add(self, name, dtype, dims, attributes, values):
        if values is not None:
            self.values[len(self.variables)] = np.asarray(values, dtype=np.float64)
        type_ = np.dtype(dtype).name if np.dtype(dtype).kind in "iuf" else "float64"
        self.variables.append((name, type_, [self.index(d) for d in dims], attributes))

    def index(self, dim):
        return [d for d, _ in self.dims].index(dim)

    def _coordinate(self, name, c, time_bounds):
        attrs = dict(c.attrs)
        # A file's time without a calendar attribute is in the standard one.
        calendar = c.encoding.get("calendar", "standard" if "units" in c.encoding else None)
        values, units, calendar = _encoded_times(c.values, c.encoding.get("units"), calendar)
        if units is not None:  # dates, as numbers since a date
            attrs.update(units=units, calendar=calendar)
            if time_bounds is not None and c.ndim == 1:
                attrs["bounds"] = "time_bnds"
                self.dims.append(("nv", 2))
                bounds, _, _ = _encoded_times(time_bounds.transpose(c.dims[0], ...).values, units,
                                              calendar)
                self._add("time_bnds", np.float64, (c.dims[0], "nv"), [], bounds)
        self._add(name, c.dtype, c.dims, _attributes(attrs), values)


def _reader(da):
    """The values of a block of the DataArray, as doubles."""
    def read(start, count):
        block = {d: slice(s, s + n) for d, s, n in zip(da.dims, start, count)}
        return np.ascontiguousarray(da.isel(block).values, dtype=np.float64)
    return read


def _imported(da, options, time_bounds):
    """brix_import's stages on the DataArray: the points and values as
    brix_eli would read them from the files, its warnings said as warnings."""
    h = _Header(da, time_bounds)
    name = str(da.encoding.get("source") or da.name or "DataArray")
    if "--var" not in options:
        options = dict(options, **{"--var": h.variables[h.data][0]})
    r = _core.import_arrays(name, h.dims, h.variables, [], h.values, h.data, _reader(da), options)
    for w in r["warnings"]:
        warnings.warn(w, BrixImportWarning, stacklevel=3)
    return r


def _dataset(t, r, threshold, period, months, dateline):
    units_of = {"NPeak": "1", "NPSpl": "1", "NPKMn": "1"}
    years = np.arange(r["first_year"], r["first_year"] + r["values"].shape[0], dtype=np.int32)
    out = xr.Dataset(coords={"year": years})
    for table, names in ((t.yearly, YEARLY_COLUMNS), (t.smoothed, SMOOTHED_COLUMNS)):
        for name in names[1:]:
            if name not in out:
                unit = units_of.get(name, "degrees_east" if "Lon" in name else "degC")
                out[name] = xr.DataArray(table[name], dims=["year"], attrs={"units": unit})
    out.attrs.update(threshold=float(threshold), period=int(period), months=months,
                     points_in_band=int(r["band_points"]), dateline=int(bool(dateline)),
                     spline_outcomes=", ".join(t.spline_outcomes),
                     yearly_table=t.yearly_text, smoothed_table=t.smoothed_text)
    return out


def eli(da, threshold=28.5, period=10, months=None, years=None, dateline=None, time_bounds=None,
        threads=1, *, lat=None, lon=None, coarsen=None, units=None):
    """Both tables of the analysis as an xarray.Dataset indexed by year.

    months, years, lat, lon, coarsen, units: brix_import's options (see the
    module's text); dateline: count negative longitudes from 180 to 360
    (None: as brix_import advises, when the kept longitudes run across
    180); time_bounds: a (time, 2) DataArray of the steps' intervals, which
    places each step in the month of its interval's middle.
    """
    if not isinstance(da, xr.DataArray):
        raise TypeError(f"eli takes an xarray.DataArray, not {type(da).__name__}")
    options = _options(months, years, lat, lon, coarsen, units)
    r = _imported(da, options, time_bounds)
    dateline = r["dateline"] if dateline is None else bool(dateline)
    t = analyse(r["lat"], r["lon"], r["values"], r["first_year"], threshold, period, dateline,
                threads)
    return _dataset(t, r, threshold, period, options.get("--months", "1-12"), dateline)
