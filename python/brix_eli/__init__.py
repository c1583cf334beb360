"""brix_eli's analysis from Python.

The warm points of the equatorial band (5S to 5N) year by year: their share
of the band, the mean, standard deviation and standard error of their
longitudes and of their temperatures, and five of those series smoothed by
a cubic smoothing spline, the same numbers to the bit as the console
program's tables.

    import brix_eli
    t = brix_eli.analyse(lat, lon, values, first_year=1950, threshold=28.5, period=10)
    t.yearly["MN_Lon"], t.smoothed["LonMN2"], print(t.yearly_text)

``brix_eli.xarray.eli`` does the same on an SST DataArray (see there).
"""
from dataclasses import dataclass

import numpy as np

from . import _core

__all__ = ["Tables", "analyse", "analyse_band", "read_inputs", "YEARLY_COLUMNS",
           "SMOOTHED_COLUMNS", "BAND", "in_band", "BadInput", "__version__"]

BadInput = _core.BadInput
__version__ = _core.__version__

# The tables' columns under the headings the program writes, and the band's
# southern and northern limits (both included), as the C++ code has them.
YEARLY_COLUMNS = _core.YEARLY_COLUMNS
SMOOTHED_COLUMNS = _core.SMOOTHED_COLUMNS
BAND = _core.BAND
in_band = _core.in_band


@dataclass
class Tables:
    """Both tables, a numpy array a column, and their text as brix_eli writes it."""
    yearly: dict
    smoothed: dict
    spline_outcomes: list  # per smoothed series: "smoothed", "too few years", ...
    spline_factor: float
    yearly_text: str
    smoothed_text: str


def _reals(name, a, ndim):
    a = np.asarray(a)
    if a.dtype.kind not in "fiu":
        raise TypeError(f"{name} must hold real numbers, not {a.dtype}")
    if a.ndim != ndim:
        raise ValueError(f"{name} must have {ndim} dimension{'s' if ndim > 1 else ''}, "
                         f"not {a.ndim}")
    return np.ascontiguousarray(a, dtype=np.float32)


def _settings(threshold, period, first_year, threads):
    if not np.isfinite(threshold):
        raise ValueError(f"threshold must be a number, not {threshold!r}")
    if int(period) != period or period < 1:
        raise ValueError(f"period must be a whole number of years, 1 or more, not {period!r}")
    if int(first_year) != first_year:
        raise ValueError(f"first_year must be a whole year, not {first_year!r}")
    return float(threshold), int(period), int(first_year), max(int(threads), 1)


def analyse(lat, lon, values, first_year, threshold=28.5, period=10, dateline=False, threads=1):
    """Both tables from grid points: lat and lon of n points, values of years by n.

    The band is the points from 5S to 5N (both included); with dateline=True,
    negative longitudes count from 180 to 360, as the dialogue's answer "y".
    Values are taken as single-precision numbers, as the program reads them.
    """
    lat, lon, values = _reals("lat", lat, 1), _reals("lon", lon, 1), _reals("values", values, 2)
    threshold, period, first_year, threads = _settings(threshold, period, first_year, threads)
    return Tables(**_core.analyse(lat, lon, values, first_year, threshold, period, bool(dateline),
                                  threads))


def analyse_band(band_lon, values, first_year, threshold=28.5, period=10, threads=1):
    """Both tables from the band's points alone: their longitudes and values (years by points)."""
    band_lon, values = _reals("band_lon", band_lon, 1), _reals("values", values, 2)
    threshold, period, first_year, threads = _settings(threshold, period, first_year, threads)
    return Tables(**_core.analyse_band(band_lon, values, first_year, threshold, period, threads))


def _single(text):
    """The nearest single to a decimal text, as the program reads it."""
    text = text.strip()
    whole, _, decimals = text.partition(".")
    digits = (whole + decimals).lstrip("+-")
    if digits.isdigit() and len(decimals) <= 10 and int(digits) < 2**24:
        m = np.float32(int(digits)) / np.float32(10 ** len(decimals))
        return -m if whole.startswith("-") else m
    return np.float32(float(text))


def read_inputs(xy_path, recon_path, order=1):
    """The coordinate file (pairs, lat lon for order 1, lon lat for 2) and a
    reconstruction file of plain fields (a header line, then the year in 5
    columns and a value in 10 a point): lat, lon, values (years by points)
    and the first year, each number the single the program reads."""
    with open(xy_path) as f:
        numbers = [_single(x) for x in f.read().replace(",", " ").split()]
    first, second = numbers[0::2], numbers[1::2]
    lat, lon = (first, second) if order == 1 else (second, first)
    rows, first_year = [], None
    with open(recon_path) as f:
        next(f)
        for line in f:
            line = line.rstrip("\r\n")
            if first_year is None:
                first_year = int(line[:5])
            rows.append([_single(line[5 + 10 * p:15 + 10 * p] or "0") for p in range(len(lat))])
    return (np.array(lat, dtype=np.float32), np.array(lon, dtype=np.float32),
            np.array(rows, dtype=np.float32), first_year)
