"""brix_eli.xarray.eli against brix_import and brix_eli on real files that
nobody here wrote (Debian's libncarg-data and ferret-datasets, fetched by
tools/realdata --fetch): both tables equal to the byte, and the warnings
alike, for each keyword, with time bounds, loaded whole, in Dask chunks and
over files split by year; and each error brix_import gives, with its text.
ctest passes BRIX_IMPORT and BRIX_ELI."""
import os
import subprocess
import warnings

import pytest

np = pytest.importorskip("numpy")
xr = pytest.importorskip("xarray")
pytest.importorskip("dask")

import brix_eli.xarray  # noqa: E402

ROOT = os.environ.get("BRIX_SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
IMPORT, ELI = os.environ.get("BRIX_IMPORT"), os.environ.get("BRIX_ELI")
TABLES = ("Brix_ELI_5N-5S.txt", "Brix_ELI_5N-5S_Spline.txt")


@pytest.fixture(scope="module")
def data():
    if not (IMPORT and ELI):
        pytest.skip("BRIX_IMPORT and BRIX_ELI are not set: the programs are not built")
    run = subprocess.run([os.path.join(ROOT, "tools", "realdata"), "--fetch"], capture_output=True,
                         text=True)
    if run.returncode != 0:
        pytest.skip("Debian's data packages cannot be fetched: " + run.stderr.strip())
    d = run.stdout.strip()
    files = os.path.join(d, "files", "usr", "share")
    return {"winds": os.path.join(files, "ferret-vis", "data", "monthly_navy_winds.cdf"),
            "bipolar": os.path.join(files, "ncarg", "data", "nug", "tos_ocean_bipolar_grid.nc"),
            "tas": os.path.join(files, "ncarg", "data", "nug", "tas_mod1_hist_rectilin_grid_2D.nc"),
            "atlas": os.path.join(files, "ferret-vis", "data", "ocean_atlas_subset.nc"),
            "sstdata": os.path.join(files, "ncarg", "data", "cdf", "sstdata_netcdf.nc"),
            "split": sorted(os.path.join(d, "split", f) for f in os.listdir(os.path.join(d, "split"))
                            if f.endswith(".nc")) if os.path.isdir(os.path.join(d, "split")) else []}


def programs(folder, files, args, threshold):
    """brix_import then brix_eli: both tables and the warnings, or the error's text."""
    run = subprocess.run([IMPORT, *args, *files], cwd=folder, capture_output=True, text=True)
    said = [w.removeprefix("brix_import: warning: ") for w in run.stderr.splitlines()]
    if run.returncode != 0:
        return None, said[-1].removeprefix("brix_import: ").removesuffix(" (see brix_import --help)")
    answers = "\n".join(run.stdout.splitlines()[-4:] + [str(threshold), "10"]) + "\n"
    subprocess.run([ELI], cwd=folder, input=answers, check=True, capture_output=True, text=True)
    tables = [open(os.path.join(folder, t)).read() for t in TABLES]
    for name in TABLES + ("xy_coordinates.txt", "recon_sst.txt"):
        os.remove(os.path.join(folder, name))
    return tables, said


def python(da, threshold, **keywords):
    """eli on the DataArray: both tables and the warnings, or the error's text."""
    with warnings.catch_warnings(record=True) as said:
        warnings.simplefilter("always")
        try:
            out = brix_eli.xarray.eli(da, threshold=threshold, period=10, **keywords)
        except ValueError as e:
            return None, str(e)
    return ([out.attrs["yearly_table"], out.attrs["smoothed_table"]],
            [str(w.message) for w in said if w.category is brix_eli.xarray.BrixImportWarning])


def end_stamps(data, folder):
    """The winds stamped at the end of each month (as some models write their
    means), with time bounds from the month's start to the next's."""
    path = os.path.join(folder, "ends.nc")
    with xr.open_dataset(data["winds"]) as ds:
        start = ds["TIME"].values.astype("datetime64[M]")
        ds = ds.assign_coords(TIME=(start + 1).astype("datetime64[ns]"))
        ds["TIME"].attrs["bounds"] = "time_bnds"
        ds["time_bnds"] = (("TIME", "nv"), np.stack([start, start + 1], 1).astype("datetime64[ns]"))
        ds.to_netcdf(path)
    return path


def east_west(data, folder):
    """The winds with their longitudes from -180 to 180, so that a region
    across 180 makes brix_eli count the negative ones from 180 to 360."""
    path = os.path.join(folder, "ew.nc")
    with xr.open_dataset(data["winds"]) as ds:
        lon = ds["FNOCX"]
        ds = ds.assign_coords(FNOCX=((lon + 180) % 360 - 180).assign_attrs(lon.attrs))
        ds.sortby("FNOCX").to_netcdf(path)
    return path


# name, data file (or a function making it), variable, threshold, brix_import's options,
# eli's keywords
RUNS = [
    ("winds", "winds", "UWND", 1, [], {}),
    ("months", "winds", "UWND", 1, ["--months", "6-8"], {"months": "6-8"}),
    ("months as values", "winds", "UWND", 1, ["--months", "6,7,8"], {"months": range(6, 9)}),
    ("years", "winds", "UWND", 1, ["--years", "1983:1990"], {"years": (1983, 1990)}),
    ("latitudes", "winds", "UWND", 1, ["--lat", "-10:10"], {"lat": (-10, 10)}),
    ("longitudes", "winds", "VWND", 0, ["--lon", "150:-90"], {"lon": "150:-90"}),
    ("coarsened", "winds", "UWND", 1, ["--coarsen", "2"], {"coarsen": 2}),
    ("units", "winds", "UWND", 1, ["--units", "degC"], {"units": "degC"}),
    ("a season across the year end", "winds", "UWND", 1, ["--months", "12-2"], {"months": "12-2"}),
    ("a season as values", "winds", "UWND", 1, ["--months", "11,12,1,2,3"],
     {"months": [11, 12, 1, 2, 3]}),
    ("curvilinear, time bounds", "bipolar", "tos", 28.5, ["--months", "1"], {"months": [1]}),
    ("yearly means, time bounds", "tas", "tas", 25, ["--months", "7", "--lat", "-90:90"],
     {"months": 7, "lat": "-90:90"}),
    ("stamps at the month's end, time bounds", end_stamps, "UWND", 1, ["--months", "1"],
     {"months": 1}),
    ("across the dateline", east_west, "UWND", 1, ["--lon", "150:-90"], {"lon": (150, -90)}),
]


def dataarray(path, var, chunks=None):
    ds = xr.open_dataset(path, chunks=chunks)
    bounds = ds["time_bnds"] if "time_bnds" in ds else None
    return ds[var], bounds


@pytest.mark.parametrize("name,file,var,threshold,args,keywords", RUNS, ids=[r[0] for r in RUNS])
def test_eli_equals_the_programs(data, tmp_path, name, file, var, threshold, args, keywords):
    path = file(data, str(tmp_path)) if callable(file) else data[file]
    want = programs(str(tmp_path), [path], ["--var", var, *args], threshold)
    assert want[0] is not None, want[1]
    for chunks in (None, {d: 5 for d in xr.open_dataset(path)[var].dims[:1]}):
        da, bounds = dataarray(path, var, chunks)
        assert python(da, threshold, time_bounds=bounds, **keywords) == want, (name, chunks)


def test_files_split_by_year_as_one_dataset(data, tmp_path):
    if not data["split"]:
        pytest.skip("cdo is missing: there are no files split by year")
    for args, keywords in (([], {}), (["--months", "6-8", "--years", "1983:1990"],
                                      {"months": "6-8", "years": "1983:1990"})):
        want = programs(str(tmp_path), data["split"], ["--var", "UWND", *args], 1)
        with xr.open_mfdataset(data["split"]) as ds:
            assert ds["UWND"].chunks is not None
            assert python(ds["UWND"], 1, **keywords) == want


def gap(data, folder):
    """The winds without one month (1984-07)."""
    path = os.path.join(folder, "gap.nc")
    with xr.open_dataset(data["winds"]) as ds:
        ds.isel(TIME=[k for k in range(ds.sizes["TIME"]) if k != 30]).to_netcdf(path)
    return path


# data file (or a function making it), variable, brix_import's options, eli's keywords
ERRORS = [
    ("winds", "UWND", ["--months", "13"], {"months": "13"}),
    ("winds", "UWND", ["--years", "1970:1975"], {"years": (1970, 1975)}),
    ("winds", "UWND", ["--lat", "88:89", "--lon", "1:2"], {"lat": "88:89", "lon": (1, 2)}),
    ("winds", "UWND", ["--coarsen", "0"], {"coarsen": 0}),
    ("bipolar", "tos", ["--months", "1", "--coarsen", "2"], {"months": 1, "coarsen": 2}),
    ("bipolar", "tos", ["--months", "1", "--units", "degC"], {"months": 1, "units": "degC"}),
    ("atlas", "TEMP", [], {}),
    ("sstdata", "sst", [], {}),
    (gap, "UWND", [], {}),
]


@pytest.mark.parametrize("file,var,args,keywords", ERRORS)
def test_each_error_reaches_python_with_its_text(data, tmp_path, file, var, args, keywords):
    path = file(data, str(tmp_path)) if callable(file) else data[file]
    tables, text = programs(str(tmp_path), [path], ["--var", var, *args], 28.5)
    assert tables is None
    # Times that xarray cannot decode (year 0) are handed over as numbers.
    with xr.open_dataset(path, decode_times=file != "atlas") as ds:
        assert python(ds[var], 28.5, **keywords) == (None, text)
