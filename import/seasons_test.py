"""Seasons across the year end (DJF, NDJFM) equal a numpy reference computed
here, year by year, on real winds (tools/realdata --fetch) and on CMIP-like
files made here (bounds, month-end stamps, land, a season across a join) in
every calendar; the first season without its December is said; a gap inside
a season is an error; brix_eli runs on the results. ctest passes BRIX_IMPORT
and BRIX_ELI."""
import os
import subprocess

import pytest

np = pytest.importorskip("numpy")
netCDF4 = pytest.importorskip("netCDF4")
cftime = pytest.importorskip("cftime")

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
IMPORT, ELI = os.environ.get("BRIX_IMPORT"), os.environ.get("BRIX_ELI")
pytestmark = pytest.mark.skipif(not (IMPORT and ELI), reason="BRIX_IMPORT and BRIX_ELI are not set")
SEASONS = {"12-2": [(12, -1), (1, 0), (2, 0)],
           "11-3": [(11, -1), (12, -1), (1, 0), (2, 0), (3, 0)]}


def imported(folder, *args):
    """brix_import's printed summary, and the values written (thousandths) by year."""
    run = subprocess.run([IMPORT, "--force", *args], cwd=folder, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    lines = open(os.path.join(folder, "recon_sst.txt")).read().splitlines()[1:]
    values = {int(line[:5]): [int(line[k:k + 10].replace(".", "")) for k in range(5, len(line), 10)]
              for line in lines}
    answers = "\n".join(run.stdout.splitlines()[-4:] + ["1", "10"]) + "\n"
    eli = subprocess.run([ELI], cwd=folder, input=answers, capture_output=True, text=True)
    assert eli.returncode == 0 and eli.stderr == " End Brix_ELI\n"
    assert len(open(os.path.join(folder, "Brix_ELI_5N-5S.txt")).readlines()) == len(lines) + 1
    return run.stdout, values


def reference(values, months, season):
    """Each season's mean at each cell, in thousandths, of the steps of its
    months (added in time order): {label: [cell...]}, for the cells with a
    value in every season written; values are steps by cells, months the
    (year, month) of each step."""
    at = {ym: k for k, ym in enumerate(months)}
    labels = sorted({y + 1 for y, _ in months} | {y for y, _ in months})
    out = {}
    for label in labels:
        steps = [at.get((label + dy, m)) for m, dy in SEASONS[season]]
        if None in steps:
            continue
        total = values[steps[0]].astype(np.float64)
        for k in steps[1:]:
            total = total + values[k]
        out[label] = np.rint(total / len(steps) * 1000)
    kept = ~np.any(np.isnan(np.array(list(out.values()))), axis=0)
    return {y: [int(v) for v in row[kept]] for y, row in out.items()}


@pytest.fixture(scope="module")
def winds():
    run = subprocess.run([os.path.join(ROOT, "tools", "realdata"), "--fetch"], capture_output=True,
                         text=True)
    if run.returncode != 0:
        pytest.skip("Debian's data packages cannot be fetched: " + run.stderr.strip())
    return os.path.join(run.stdout.strip(), "files", "usr", "share", "ferret-vis", "data",
                        "monthly_navy_winds.cdf")


@pytest.mark.parametrize("season", SEASONS)
def test_seasons_of_real_monthly_winds(winds, tmp_path, season):
    with netCDF4.Dataset(winds) as f:
        lat = f["FNOCY"][:]
        u = np.ma.filled(f["UWND"][:, (lat >= -5) & (lat <= 5), :].astype(np.float64), np.nan)
        t = f["TIME"]
        dates = cftime.num2date(t[:], t.units, "standard")
    months = [(d.year, d.month) for d in dates]
    said, got = imported(str(tmp_path), "--var", "UWND", "--months", season, winds)
    assert got == reference(u.reshape(len(months), -1), months, season)
    before = {"12-2": "1981-12", "11-3": "1981-11, 1981-12"}[season]  # the data start in 1982-01
    assert min(got) == 1983 and f"left out for a missing month: 1982 (no {before})" in said


def cmip_like(folder, calendar, pieces, drop=()):
    """Monthly tos from 1850-01 in kelvin on 2 by 3 cells (one of them land),
    stamped at each month's end with bounds, in files of the pieces' months
    (first, last, from 0), without the months in `drop`; the values written,
    steps by cells in degrees Celsius, and the (year, month) of each."""
    n = max(last for _, last in pieces) + 1
    starts = [cftime.datetime(1850 + k // 12, k % 12 + 1, 1, calendar=calendar) for k in range(n + 1)]
    days = cftime.date2num(starts, "days since 1850-01-01", calendar)
    cells = np.arange(6)
    kelvin = np.array([[273.15 + 20 + 5 * np.sin(0.5 * k + c) + 0.01 * k for c in cells]
                       for k in range(n)], dtype=np.float32)
    kelvin[:, 4] = 1e20  # land
    paths = []
    for p, (first, last) in enumerate(pieces):
        path = os.path.join(folder, "abcd"[p] + ".nc")
        keep = [k for k in range(first, last + 1) if k not in drop]
        with netCDF4.Dataset(path, "w") as f:
            f.createDimension("time", None), f.createDimension("lat", 2)
            f.createDimension("lon", 3), f.createDimension("nv", 2)
            t = f.createVariable("time", "f8", ("time",))
            t.units, t.calendar, t.bounds = "days since 1850-01-01", calendar, "time_bnds"
            t[:] = [days[k + 1] for k in keep]
            f.createVariable("time_bnds", "f8", ("time", "nv"))[:] = [[days[k], days[k + 1]] for k in keep]
            f.createVariable("lat", "f4", ("lat",), fill_value=False)[:] = [-2.5, 2.5]
            f["lat"].units = "degrees_north"
            f.createVariable("lon", "f4", ("lon",), fill_value=False)[:] = [150, 200, 250]
            f["lon"].units = "degrees_east"
            v = f.createVariable("tos", "f4", ("time", "lat", "lon"), fill_value=np.float32(1e20))
            v.units = "K"
            v[:] = kelvin[keep].reshape(len(keep), 2, 3)
        paths.append(path)
    celsius = kelvin.astype(np.float64) - 273.15
    celsius[:, 4] = np.nan
    keep = [k for k in range(n) if k not in drop]
    return paths, celsius[keep], [(1850 + k // 12, k % 12 + 1) for k in keep]


@pytest.mark.parametrize("calendar", ["standard", "proleptic_gregorian", "julian", "noleap",
                                      "all_leap", "360_day"])
def test_seasons_of_cmip_like_files_in_every_calendar(tmp_path, calendar):
    paths, values, months = cmip_like(str(tmp_path), calendar, [(0, 35), (36, 71), (72, 95)])
    for season in SEASONS:
        said, got = imported(str(tmp_path), "--months", season, *paths[::-1])
        assert got == reference(values, months, season), (calendar, season)
        assert "each the mean of " + {"12-2": "December", "11-3": "November to December"}[season] \
            + " of the year before and January to " + {"12-2": "February", "11-3": "March"}[season] in said
        assert sorted(got) == list(range(1851, 1858))  # 1853 spans a.nc and b.nc


def test_a_gap_inside_a_season_is_an_error(tmp_path):
    paths, _, _ = cmip_like(str(tmp_path), "noleap", [(0, 35), (36, 71), (72, 95)], drop=(60,))
    run = subprocess.run([IMPORT, "--months", "12-2", *paths], cwd=tmp_path, capture_output=True,
                         text=True)
    assert run.returncode == 1
    assert f"year 1855 lacks a time step in 1855-01 (inside {paths[1]}), one of its months 12-2" \
        in run.stderr
    assert sorted(os.listdir(tmp_path)) == ["a.nc", "b.nc", "c.nc"]
