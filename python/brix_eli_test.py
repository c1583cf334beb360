"""The Python module against the programs: the bundled example equals
brix_eli's tables; a netCDF file through brix_eli.xarray equals brix_import
and brix_eli on the same file, loaded whole or in Dask chunks; input that
makes no analysis raises a clear exception."""
import os
import re
import shutil
import subprocess

import pytest

SETUP = "tools/setup installs python3-numpy, python3-xarray, python3-dask and python3-netcdf4"
np = pytest.importorskip("numpy", reason=f"numpy is missing ({SETUP})")
xr = pytest.importorskip("xarray", reason=f"xarray is missing ({SETUP})")
pytest.importorskip("dask", reason=f"dask is missing ({SETUP})")
pytest.importorskip("netCDF4", reason=f"netCDF4 is missing ({SETUP})")

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


# Six years of months on a 4 by 5 grid across the dateline, in kelvin, with
# land (a fill value) at one cell and a row outside the band; values grow
# through the years and differ by cell, so that a point or a month taken
# for another shows.
def fixture_cdl():
    lats, lons = [-7.5, -2.5, 2.5, 7.5], [150.0, 170.0, -170.0, -150.0, -130.0]
    months = range(6 * 12)
    values = ["-999" if (i, j) == (1, 3) else "%.4f" % (
        273.15 + 27 + 0.9 * i + 0.37 * j + 0.004 * k + 0.6 * ((k * 7 + j) % 12 == 3))
        for k in months for i in range(len(lats)) for j in range(len(lons))]
    return ("netcdf f {\ndimensions: time = UNLIMITED ; lat = 4 ; lon = 5 ;\nvariables:\n"
            '  double time(time) ; time:units = "days since 2001-01-01" ;\n'
            '  float lat(lat) ; lat:units = "degrees_north" ;\n'
            '  float lon(lon) ; lon:units = "degrees_east" ;\n'
            '  float sst(time, lat, lon) ; sst:units = "K" ; sst:_FillValue = -999.f ;\n'
            "data:\n  lat = " + ", ".join(map(str, lats)) + " ;\n  lon = "
            + ", ".join(map(str, lons)) + " ;\n  time = "
            + ", ".join("%.4f" % (15 + 30.4375 * k) for k in months)
            + " ;\n  sst = " + ", ".join(values) + " ;\n}\n")


@pytest.fixture(scope="module")
def netcdf(tmp_path_factory):
    if shutil.which("ncgen") is None:
        pytest.skip("ncgen is missing (tools/setup installs netcdf-bin)")
    for tool in ("BRIX_IMPORT", "BRIX_ELI"):
        if not os.environ.get(tool):
            pytest.skip(f"{tool} is not set: the programs to compare with are not built")
    box = tmp_path_factory.mktemp("xarray")
    (box / "f.cdl").write_text(fixture_cdl())
    subprocess.run(["ncgen", "-k", "nc4", "-o", str(box / "f.nc"), str(box / "f.cdl")], check=True)
    out = subprocess.run([os.environ["BRIX_IMPORT"], "f.nc"], cwd=box, check=True,
                         capture_output=True, text=True).stdout
    answers = out[out.index("\n", out.index("Answers for brix_eli")) + 1:] + "28.5\n5\n"
    subprocess.run([os.environ["BRIX_ELI"]], cwd=box, input=answers, check=True,
                   capture_output=True, text=True)
    return box / "f.nc", [(box / name).read_text() for name, _ in TABLES]


@pytest.mark.parametrize("chunks", [None, {"time": 7}])
def test_xarray_equals_brix_import_and_brix_eli(netcdf, chunks):
    path, texts = netcdf
    with xr.open_dataset(path, chunks=chunks) as ds:
        if chunks:
            assert ds["sst"].chunks is not None
        out = brix_eli.xarray.eli(ds["sst"], threshold=28.5, period=5)
    assert list(out["year"].values) == list(range(2001, 2007))
    assert out.attrs["points_in_band"] == 9 and out.attrs["dateline"] == 1
    for (_, names), text in zip(TABLES, texts, strict=True):
        check_columns({"Year": out["year"].values, **{n: out[n].values for n in names[1:]}},
                      names, text)
    assert out["MN_Lon"].attrs["units"] == "degrees_east" and out.attrs["threshold"] == 28.5


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
