"""brix_eli's analysis on an SST DataArray, as brix_import and brix_eli make it.

    import xarray as xr, brix_eli.xarray
    sst = xr.open_dataset("sst.mnmean.nc")["sst"]
    ds = brix_eli.xarray.eli(sst, threshold=28.5, period=10)

The DataArray has a time dimension and a rectilinear grid (lat, lon) or a
curvilinear one (y, x with two-dimensional latitude and longitude
coordinates). As brix_import does: each complete year (every listed month
has a step) is the mean, in double precision, of its steps in those months,
rounded to thousandths; the incomplete years at either end are left out
(one between complete years is an error); a point without a value at some
step used is left out; kelvin is turned into degrees Celsius; temperatures
below absolute zero, and for a sea-surface temperature values outside -5 to
45 degrees, are missing. Only the cells of the band are read, so a lazily
loaded (Dask-backed) array computes the band alone.
"""
import numpy as np
import xarray as xr

from . import SMOOTHED_COLUMNS, YEARLY_COLUMNS, analyse_band

__all__ = ["eli"]

_KELVIN = {"k", "kelvin", "kelvins", "degk", "deg_k", "degrees_k", "degree_k"}
_CELSIUS = {"degc", "celsius", "deg_c", "c", "degree_c", "degrees_c", "degreec", "degreesc",
            "degree_celsius", "degrees_celsius", "deg.c", "°c"}
_NORTH = {"degrees_north", "degree_north", "degrees_n", "degree_n", "degreesn", "degreen"}
_EAST = {"degrees_east", "degree_east", "degrees_e", "degree_e", "degreese", "degreee"}


def _squeezed(text):
    return str(text).lower().replace(" ", "")


def _axis(c):
    """'lat', 'lon' or None for a coordinate, by its units or standard_name, else its name."""
    units, standard = _squeezed(c.attrs.get("units", "")), c.attrs.get("standard_name", "")
    if units in _NORTH or standard == "latitude":
        return "lat"
    if units in _EAST or standard == "longitude":
        return "lon"
    name = str(c.name).lower()
    if name in ("lat", "latitude", "nav_lat"):
        return "lat"
    if name in ("lon", "longitude", "nav_lon"):
        return "lon"
    return None


def _time_dim(da):
    for d in da.dims:
        if d in da.coords:
            values = da[d].values
            if np.issubdtype(values.dtype, np.datetime64) or (
                    values.dtype == object and len(values) and hasattr(values[0], "month")):
                return d
    raise ValueError(f"no time dimension among {da.dims}: one with dates as its coordinate")


def _grid(da, time):
    """The latitude and longitude coordinates and the horizontal dimensions."""
    horizontal = [d for d in da.dims if d != time and (da.sizes[d] > 1 or d in da.coords)]
    lat = lon = None
    for c in da.coords.values():
        axis = _axis(c)
        if axis == "lat" and lat is None and set(c.dims) <= set(horizontal) and c.dims:
            lat = c
        elif axis == "lon" and lon is None and set(c.dims) <= set(horizontal) and c.dims:
            lon = c
    if lat is None or lon is None:
        raise ValueError(f"no latitude and longitude coordinates over {horizontal}")
    if lat.ndim == 1 and lon.ndim == 1 and lat.dims != lon.dims:
        horizontal = [d for d in da.dims if d in lat.dims + lon.dims]
    elif lat.ndim == 2 and lon.ndim == 2 and set(lat.dims) == set(lon.dims):
        horizontal = [d for d in da.dims if d in lat.dims]
    else:
        raise ValueError("the grid must be rectilinear (lat, lon) or curvilinear (y, x with "
                         "two-dimensional latitude and longitude)")
    return lat, lon, horizontal


def _months_of(da, time, time_bounds):
    stamps = da[time]
    if time_bounds is not None:
        b = time_bounds.values
        stamps = xr.DataArray(b[:, 0] + (b[:, 1] - b[:, 0]) / 2, dims=[time])
    return stamps.dt.year.values.astype(int), stamps.dt.month.values.astype(int)


def _crosses_dateline(lons):
    """Both signs, and the widest empty stretch of the circle between them holds 0."""
    if not (np.any(lons < 0) and np.any(lons >= 0)):
        return False
    circle = np.sort(np.fmod(np.fmod(lons, 360) + 360, 360))
    wrap = circle[0] + 360 - circle[-1]
    return not np.any(np.diff(circle) > wrap)


def _as_read(milli):
    """Thousandths as brix_eli reads them from the file: the nearest single to
    each decimal (a division of exact singles rounds so below 2**24)."""
    out = (milli.astype(np.float32) / np.float32(1000)).astype(np.float32)
    big = ~(np.abs(milli) < 2**24)
    for index in zip(*np.nonzero(big)):
        out[index] = np.float32(float(f"{milli[index] / 1000:.3f}"))
    return out


def eli(da, threshold=28.5, period=10, months=range(1, 13), years=None, dateline=None,
        time_bounds=None, threads=1):
    """Both tables of the analysis as an xarray.Dataset indexed by year.

    months: the months whose mean makes a year's value (1 to 12); years:
    (first, last) to keep; dateline: count negative longitudes from 180 to
    360 (None: when the kept longitudes run across 180, as brix_import
    advises); time_bounds: a (time, 2) DataArray of the steps' intervals, when
    the stamps are not inside their months (a step then belongs to the month
    of its interval's middle).
    """
    if not isinstance(da, xr.DataArray):
        raise TypeError(f"eli takes an xarray.DataArray, not {type(da).__name__}")
    months = sorted(set(int(m) for m in months))
    if not months or months[0] < 1 or months[-1] > 12:
        raise ValueError(f"months must lie in 1 to 12, not {months}")
    time = _time_dim(da)
    lat, lon, horizontal = _grid(da, time)
    extra = [d for d in da.dims if d != time and d not in horizontal]
    da = da.isel({d: 0 for d in extra}).transpose(time, *horizontal)

    # The band's cells: only their bounding rows and columns are read.
    lat_v = np.asarray(lat.values, dtype=np.float64)
    lon_v = np.asarray(lon.values, dtype=np.float64)
    if lat.ndim == 1:
        lat2, lon2 = np.meshgrid(lat_v, lon_v, indexing="ij")
        if lat.dims[0] != horizontal[0]:
            lat2, lon2 = lat2.T, lon2.T
    else:
        lat2, lon2 = (np.asarray(c.transpose(*horizontal).values, dtype=np.float64)
                      for c in (lat, lon))
    inside = (lat2 >= -5) & (lat2 <= 5) & np.isfinite(lon2)
    if not inside.any():
        raise ValueError("no cell lies in the band, 5S to 5N")
    rows, columns = np.nonzero(np.any(inside, axis=1))[0], np.nonzero(np.any(inside, axis=0))[0]
    r0, r1, c0, c1 = rows[0], rows[-1] + 1, columns[0], columns[-1] + 1
    block = da.isel({horizontal[0]: slice(r0, r1), horizontal[1]: slice(c0, c1)})
    cells, seen = [], set()
    for i, j in zip(*np.nonzero(inside[r0:r1, c0:c1])):
        key = (lat2[r0 + i, c0 + j], np.fmod(np.fmod(lon2[r0 + i, c0 + j], 360) + 360, 360) % 360)
        if key not in seen:  # a longitude stored twice, such as 0 and 360
            seen.add(key)
            cells.append((i, j))
    ci, cj = np.array([c[0] for c in cells]), np.array([c[1] for c in cells])

    # Complete years of the listed months.
    year_of, month_of = _months_of(da, time, time_bounds)
    steps = {}
    have = {}
    for t, (y, m) in enumerate(zip(year_of, month_of)):
        have.setdefault(y, set()).add(m)
        if m in months:
            steps.setdefault(y, []).append(t)
    span = [y for y in range(min(have), max(have) + 1)
            if (years is None or years[0] <= y <= years[1])]
    complete = [y for y in span if set(months) <= have.get(y, set())]
    if not complete:
        raise ValueError("no complete year: no year has a time step in each listed month")
    for y in span:
        if complete[0] < y < complete[-1] and y not in complete:
            raise ValueError(f"year {y} lacks a time step in some listed month, between complete "
                             "years: choose years before or after it")
    if len(complete) < 4:
        raise ValueError(f"{len(complete)} complete year{'s' if len(complete) != 1 else ''}: "
                         "the smoothing spline needs 4 years or more")

    # Degrees Celsius in double precision, and values that cannot be temperatures.
    units = _squeezed(da.attrs.get("units", ""))
    values = block.astype(np.float64)
    if units in _KELVIN:
        values = values + (-273.15)
    if units in _KELVIN or units in _CELSIUS:
        values = values.where(~(values < -273.15))
        sst = da.attrs.get("standard_name") == "sea_surface_temperature" or da.name in (
            "sst", "tos", "SST")
        if sst:
            values = values.where(~((values < -5) | (values > 45)))
    # Each year's mean, its steps added in time order, then thousandths.
    means = []
    for y in complete:
        total = 0.0
        for t in steps[y]:
            total = total + values.isel({time: t})
        means.append(total / len(steps[y]))
    stacked = xr.concat(means, dim="year").values[:, ci, cj]
    milli = np.rint(stacked * 1000)
    kept = ~np.any(np.isnan(milli), axis=0)
    if not kept.any():
        raise ValueError("no point of the band has a value at every time step used")
    milli = milli[:, kept]
    as_read = _as_read(milli)
    point_lat = lat2[r0 + ci[kept], c0 + cj[kept]]
    point_lon = lon2[r0 + ci[kept], c0 + cj[kept]]
    if dateline is None:
        dateline = _crosses_dateline(point_lon)
    band_lon = point_lon.astype(np.float32)
    if dateline:
        band_lon = np.where(band_lon < 0, band_lon + np.float32(360), band_lon).astype(np.float32)
    band = point_lat.astype(np.float32)
    inside_band = (band >= np.float32(-5)) & (band <= np.float32(5))
    t = analyse_band(band_lon[inside_band], as_read[:, inside_band], complete[0], threshold,
                     period, threads)

    units_of = {"NPeak": "1", "NPSpl": "1", "NPKMn": "1"}
    out = xr.Dataset(coords={"year": np.array(complete, dtype=np.int32)})
    for table, names in ((t.yearly, YEARLY_COLUMNS), (t.smoothed, SMOOTHED_COLUMNS)):
        for name in names[1:]:
            if name in out:
                continue
            unit = units_of.get(name, "degrees_east" if "Lon" in name else "degC")
            out[name] = xr.DataArray(table[name], dims=["year"], attrs={"units": unit})
    out.attrs.update(threshold=float(threshold), period=int(period), months=months,
                     points_in_band=int(inside_band.sum()), dateline=int(bool(dateline)),
                     spline_outcomes=", ".join(t.spline_outcomes))
    return out
