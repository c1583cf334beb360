"""brix_import --summary-json: the file is valid against
import/summary.schema.json and says what the printed summary says, for one
file, for a dataset of files with repeated steps, and for each grid kind of
import/testdata; a run that fails writes no summary. ctest passes
BRIX_IMPORT and NCGEN."""

import json
import os
import re
import subprocess

import jsonschema
import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
IMPORT, NCGEN = os.environ.get("BRIX_IMPORT"), os.environ.get("NCGEN")
with open(os.path.join(HERE, "summary.schema.json")) as f:
    SCHEMA = json.load(f)

pytestmark = pytest.mark.skipif(
    not (IMPORT and NCGEN and os.path.exists(IMPORT) and os.path.exists(NCGEN)),
    reason="needs the built brix_import and ncgen, as BRIX_IMPORT and NCGEN (ctest passes them)")


def ncgen(folder, name, cdl=None):
    source = os.path.join(HERE, "testdata", name + ".cdl")
    if cdl is not None:
        source = os.path.join(folder, name + ".cdl")
        with open(source, "w") as f:
            f.write(cdl)
    subprocess.run([NCGEN, "-k", "classic", "-o", os.path.join(folder, name + ".nc"), source],
                   check=True)


def imported(folder, *args):
    """brix_import's printed summary and its JSON summary, checked against the schema."""
    run = subprocess.run([IMPORT, "--summary-json", "s.json", *args], cwd=folder,
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    with open(os.path.join(folder, "s.json")) as f:
        summary = json.load(f)
    jsonschema.validate(summary, SCHEMA)
    return run.stdout, run.stderr, summary


def row(printed, label):
    return re.search(r"^  " + label + r" +(.*)$", printed, re.M).group(1)


def lines(folder, name):
    with open(os.path.join(folder, name)) as f:
        return f.read().splitlines()


# Each grid kind of the test files, with the options that import it.
RUNS = [("packed", []), ("curvilinear", ["--months", "1"]), ("rotated", ["--months", "1", "--var", "tas", "--lat", "-90:90"]),
        ("mesh", ["--months", "1"]), ("dateline", ["--lon", "150:-90"]),
        ("fine", ["--months", "1", "--coarsen", "2", "--lon", "270:90"])]


@pytest.mark.parametrize("name,args", RUNS)
def test_the_json_says_what_the_summary_says(tmp_path, name, args):
    folder = str(tmp_path)
    ncgen(folder, name)
    printed, stderr, s = imported(folder, *args, name + ".nc")
    assert s["answers"] == printed.splitlines()[-4:]
    assert s["time"]["placement"]["text"] == row(printed, "time")
    assert row(printed, "grid").startswith(s["grid"]["kind"] + ", ")
    assert "(" + ", ".join(s["grid"]["dimensions"]) + ")" in row(printed, "grid")
    assert row(printed, "region").split(": ")[1].startswith(f'{s["region"]["cells"]} cell')
    assert row(printed, "grid points").startswith(
        f'{s["points"]["written"]} written, {s["points"]["left_out"]} left out')
    xy = lines(folder, "xy_coordinates.txt")
    assert len(xy) == s["points"]["written"]
    assert s["points"]["in_band"] == sum(-5 <= float(line.split()[0]) <= 5 for line in xy)
    recon = lines(folder, "recon_sst.txt")
    assert len(recon) - 1 == s["years"]["count"] == s["years"]["last"] - s["years"]["first"] + 1
    assert int(recon[1][:5]) == s["years"]["first"]
    assert [w for w in stderr.splitlines()] == ["brix_import: warning: " + w for w in s["warnings"]]


def piece(name, first, last):
    """Months first..last (0 is 2000-01) of 2 by 2 cells of 20 + 0.1 k."""
    steps = range(first, last + 1)
    return (f"netcdf {name} {{\ndimensions: time = UNLIMITED ; lat = 2 ; lon = 2 ;\nvariables:\n"
            '  double time(time) ; time:units = "days since 2000-01-01" ;\n'
            '  float lat(lat) ; lat:units = "degrees_north" ;\n'
            '  float lon(lon) ; lon:units = "degrees_east" ;\n'
            '  float sst(time, lat, lon) ; sst:units = "degC" ;\n'
            "data:\n  lat = -1, 1 ; lon = 10, 20 ;\n"
            f"  time = {', '.join(str(round(30.4375 * k + 14, 4)) for k in steps)} ;\n"
            f"  sst = {', '.join(str(round(20 + 0.1 * k, 4)) for k in steps for _ in range(4))} ;\n}}\n")


def test_files_of_a_dataset_and_their_repeated_steps(tmp_path):
    folder = str(tmp_path)
    ncgen(folder, "b", piece("b", 10, 47))
    ncgen(folder, "a", piece("a", 0, 14))
    ncgen(folder, "c", piece("c", 60, 71))
    printed, _, s = imported(folder, "--years", "2000:2003", "b.nc", "c.nc", "a.nc")
    assert [(f["path"], f["time_steps"], f["first"], f["last"], f["used"]) for f in s["files"]] == [
        ("a.nc", 15, "2000-01", "2001-03", True), ("b.nc", 38, "2000-11", "2003-12", True),
        ("c.nc", 12, "2005-01", "2005-12", False)]
    assert s["repeated_steps"] == [
        {"files": ["a.nc", "b.nc"], "time_steps": 5, "first": "2000-11", "last": "2001-03"}]
    assert "repeated     5 time steps (2000-11 to 2001-03) in both a.nc and b.nc" in printed
    assert (s["years"]["asked"], s["years"]["first"], s["years"]["last"]) == ([2000, 2003], 2000, 2003)
    assert s["time"]["steps"] == 15 + 38 + 12 - 5


def test_a_failed_run_writes_no_summary(tmp_path):
    folder = str(tmp_path)
    ncgen(folder, "packed")
    for args in (["--years", "1990:1991", "packed.nc"], ["--xy", "s.json", "packed.nc"]):
        run = subprocess.run([IMPORT, "--summary-json", "s.json", *args], cwd=folder,
                             capture_output=True, text=True)
        assert run.returncode != 0 and run.stderr.startswith("brix_import: ")
        assert os.listdir(folder) == ["packed.nc"]
    with open(os.path.join(folder, "s.json"), "w") as f:
        f.write("kept\n")
    run = subprocess.run([IMPORT, "--summary-json", "s.json", "packed.nc"], cwd=folder,
                         capture_output=True, text=True)
    assert run.returncode == 1 and "s.json exists (give --force to replace it)" in run.stderr
    assert lines(folder, "s.json") == ["kept"]
