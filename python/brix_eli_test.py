"""The Python module against the programs: the bundled example equals
brix_eli's tables; input that makes no analysis raises a clear exception.
brix_eli.xarray against brix_import and brix_eli on real files is
realdata_test.py's."""
import os
import re

import pytest

SETUP = "tools/setup installs python3-numpy and python3-xarray"
np = pytest.importorskip("numpy", reason=f"numpy is missing ({SETUP})")
xr = pytest.importorskip("xarray", reason=f"xarray is missing ({SETUP})")

import brix_eli  # noqa: E402
import brix_eli.xarray  # noqa: E402

SOURCE = os.environ.get("BRIX_SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
EXAMPLE = os.path.join(SOURCE, "examples")
TABLES = (("Brix_ELI_5N-5S.txt", brix_eli.YEARLY_COLUMNS),
          ("Brix_ELI_5N-5S_Spline.txt", brix_eli.SMOOTHED_COLUMNS))


def check_columns(columns, names, text):
    """Each column's values as the table prints them, cut where each heading
    ends its field: within half a unit of the last digit printed, NaN where it
    prints NaN. The headings must be the names, in order."""
    heading, *lines = text.splitlines()
    cuts = [(m[0].strip(), m.start(), m.end()) for m in re.finditer(r" *\S+", heading)]
    assert [n for n, _, _ in cuts] == list(names) and len(lines) == len(columns["Year"])
    for k, line in enumerate(lines):
        for name, a, b in cuts:
            field, value = line[a:b], float(columns[name][k])
            if "NaN" in field:
                assert np.isnan(value), (name, k, line)
            else:
                unit = 10.0 ** -len(field.partition(".")[2])
                assert abs(value - float(field)) <= 0.5 * unit * (1 + 1e-6), (name, k, line)


def test_example_equals_the_programs_tables():
    lat, lon, values, first = brix_eli.read_inputs(os.path.join(EXAMPLE, "xy_coordinates.txt"),
                                                   os.path.join(EXAMPLE, "recon_sst.txt"))
    t = brix_eli.analyse(lat, lon, values, first, threshold=28.5, period=10, dateline=True)
    for (name, names), columns, text in zip(TABLES, (t.yearly, t.smoothed),
                                            (t.yearly_text, t.smoothed_text), strict=True):
        with open(os.path.join(EXAMPLE, "expected", name)) as f:
            assert text == f.read()
        check_columns(columns, names, text)
    assert t.spline_outcomes == ["smoothed"] * 5


def test_input_that_makes_no_analysis_raises():
    lat, lon = np.array([0.0, 1.0]), np.array([10.0, 20.0])
    good = np.full((5, 2), 29.0)
    cases = [
        (TypeError, lambda: brix_eli.analyse(lat, lon, np.full((5, 2), "x"), 1900)),
        (ValueError, lambda: brix_eli.analyse(lat, lon, np.ones((5, 3)), 1900)),
        (ValueError, lambda: brix_eli.analyse(lat, lon, np.ones(10), 1900)),
        (ValueError, lambda: brix_eli.analyse(lat, lon[:1], good, 1900)),
        (ValueError, lambda: brix_eli.analyse(lat + 30, lon, good, 1900)),  # none in the band
        (ValueError, lambda: brix_eli.analyse(lat, lon, good, 1900, period=0)),
        (TypeError, lambda: brix_eli.xarray.eli(good)),
        (ValueError, lambda: brix_eli.xarray.eli(xr.DataArray(good, dims=["a", "b"]))),
    ]
    for error, call in cases:
        with pytest.raises(error):
            call()
    assert isinstance(brix_eli.BadInput("x"), ValueError)
    # Fewer than 4 years make tables whose smoothed series hold the spline's
    # refusal markers, as brix_eli's do.
    t = brix_eli.analyse(lat, lon, good[:3], 1900)
    assert t.spline_outcomes == ["too few years"] * 5 and t.smoothed["NPSpl"][0] == -9998.0
    t = brix_eli.analyse(lat, lon, good, 1900)
    assert t.yearly["NPeak"].dtype == np.float32 and list(t.yearly["Year"]) == list(range(1900, 1905))
