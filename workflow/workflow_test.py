"""Tests of the workflow on three datasets of two members each (netCDF made
with ncgen, one dataset in two files a member; brix_gen's text inputs): it
runs end to end; a broken file fails its own dataset alone and a rerun redoes
only that; the SLURM profile goes through a stand-in sbatch; bad
configurations are refused. ctest passes BRIX_IMPORT, BRIX_ELI, BRIX_GEN."""

import csv
import datetime
import hashlib
import json
import math
import os
import pathlib
import shutil
import subprocess
import sys

import jsonschema
import pytest

sys.dont_write_bytecode = True

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SNAKEFILE = os.path.join(HERE, "Snakefile")
PROFILE = os.path.join(HERE, "profiles", "slurm")
PROGRAMS = {name: os.environ.get(env) for name, env in
            (("brix_import", "BRIX_IMPORT"), ("brix_eli", "BRIX_ELI"), ("brix_gen", "BRIX_GEN"))}
YEARLY, SPLINE = "Brix_ELI_5N-5S.txt", "Brix_ELI_5N-5S_Spline.txt"
RUN_SCHEMA, SUMMARY_SCHEMA = (json.loads(pathlib.Path(ROOT, p).read_text())
                              for p in ("workflow/run.schema.json", "import/summary.schema.json"))


def missing():
    for tool, package in (("snakemake", "it"), ("ncgen", "netcdf-bin")):
        if shutil.which(tool) is None:
            return f"{tool} is not installed (tools/setup installs {package})"
    for name, path in PROGRAMS.items():
        if not path or not os.path.exists(path):
            why = " (it is built where netCDF-C is found)" if name == "brix_import" else ""
            return (f"no built {name}{why}: ctest passes the built programs as BRIX_IMPORT, "
                    "BRIX_ELI and BRIX_GEN")


needs_workflow = pytest.mark.skipif(missing() is not None, reason=str(missing()))

MONTH_START = (0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334)


def netcdf(path, years, seed):
    """A monthly SST field on a 5 by 4 grid, noleap days since 1850."""
    lats, lons = [-6, -3, 0, 3, 6], [140, 160, 180, 200]
    times = [(y - 1850) * 365 + start + 14 for y in years for start in MONTH_START]
    values = [f"{28.9 - 0.03 * abs(lo - 160 - 15 * math.sin(0.9 * y + seed)) - 0.05 * la * la:.3f}"
              for y in years for _ in MONTH_START for la in lats for lo in lons]
    text = f"""netcdf sst {{
dimensions: time = UNLIMITED ; lat = 5 ; lon = 4 ;
variables:
  double time(time) ; time:units = "days since 1850-01-01" ; time:calendar = "noleap" ;
  float lat(lat) ; lat:units = "degrees_north" ;
  float lon(lon) ; lon:units = "degrees_east" ;
  float tos(time, lat, lon) ; tos:units = "degC" ; tos:standard_name = "sea_surface_temperature" ;
data:
  time = {", ".join(map(str, times))} ;
  lat = {", ".join(map(str, lats))} ;
  lon = {", ".join(map(str, lons))} ;
  tos = {", ".join(values)} ;
}}
"""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    subprocess.run(["ncgen", "-o", path], input=text, text=True, check=True)  # CDL on stdin


# run folder: its years
YEARS = {"MULTI/r1": range(1850, 1862), "MULTI/r2": range(1850, 1862),
         "ONE/r1": range(1852, 1864), "ONE/r2": range(1852, 1864),
         "GEN/s1": range(1850, 1870), "GEN/s2": range(1850, 1870)}
SHARED = range(1852, 1862)


def make_datasets(d):
    for k, member in enumerate(("r1", "r2")):
        netcdf(f"{d}/data/multi/{member}_1850-1855.nc", range(1850, 1856), k)
        netcdf(f"{d}/data/multi/{member}_1856-1861.nc", range(1856, 1862), k)
        netcdf(f"{d}/data/one/{member}.nc", range(1852, 1864), 5 + k)
    for seed in ("1", "2"):
        subprocess.run([PROGRAMS["brix_gen"], "--grid", "regular", "--lat-min", "-6",
                        "--lat-max", "6", "--lon-min", "150", "--lon-max", "210", "--step", "3",
                        "--years", "20", "--first-year", "1850", "--seed", seed,
                        "--xy", f"{d}/data/gen{seed}.xy", "--recon", f"{d}/data/gen{seed}.sst"],
                       check=True, capture_output=True)


def config(d, only=("MULTI", "ONE", "GEN"), **top):
    settings = {
        "MULTI": {"experiment": "historical", "import_options": ["--lon", "120:280"],
                  "members": {m: {"files": [f"data/multi/{m}_*.nc"]} for m in ("r1", "r2")}},
        "ONE": {"note": "one file a member",
                "members": {m: {"files": [f"data/one/{m}.nc"]} for m in ("r1", "r2")}},
        "GEN": {"members": {f"s{s}": {"xy": f"data/gen{s}.xy", "recon": f"data/gen{s}.sst",
                                      "order": 1, "dateline": "n"} for s in ("1", "2")}},
    }
    cfg = {"results": "results", "threshold": 28.5, "period": 5, "picture_data": True,
           "programs": {k: v for k, v in PROGRAMS.items() if k != "brix_gen"},
           "datasets": {k: settings[k] for k in only}}
    cfg.update(top)  # a change of a test, datasets: included
    pathlib.Path(d, "config.yaml").write_text(json.dumps(cfg, indent=1))  # JSON is YAML


def snakemake(d, *args, env=None):
    return subprocess.run(["snakemake", "--snakefile", SNAKEFILE, "--configfile", f"{d}/config.yaml",
                           *args], cwd=d, capture_output=True, text=True, env=env)


@pytest.fixture
def tmp(tmp_path):
    make_datasets(tmp_path)
    return str(tmp_path)


@pytest.mark.skipif(not PROGRAMS["brix_eli"], reason="needs the built brix_eli as BRIX_ELI")
def test_a_failing_brix_eli_leaves_its_message_and_no_record(tmp_path):
    d = str(tmp_path)
    pathlib.Path(f"{d}/xy").write_text("0 150\n0 160\n")
    pathlib.Path(f"{d}/sst").write_text("hand-made\n" + "".join(
        f"{y:5d}{29.0:10.3f}{27.0:10.3f}\n" for y in range(1950, 1960)))
    run = [os.path.join(HERE, "brix_run"), "all", "--dir", f"{d}/run", "--xy", f"{d}/xy",
           "--recon", f"{d}/sst", "--threshold", "28.5", "--period", "5",
           "--label", "dataset=D", "--brix-eli", PROGRAMS["brix_eli"]]
    done = subprocess.run(run, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    record = json.loads(pathlib.Path(f"{d}/run/run.json").read_text())
    jsonschema.validate(record, RUN_SCHEMA)
    facts = record["facts"]
    assert facts == {"grid_points": 2, "first_year": 1950, "last_year": 1959, "years": 10,
                     "threshold": 28.5, "period": 5, "band_points": 2}
    open(f"{d}/sst", "w").close()  # an empty reconstruction file ends brix_eli's run
    done = subprocess.run(run, capture_output=True, text=True)
    assert done.returncode == 1
    assert done.stderr.startswith(f"brix_run: {d}/run: eli: brix_eli failed (status 255; ")
    assert "? Attempt to read past end of file" in done.stderr
    assert not set(os.listdir(f"{d}/run")) & {"run.json", YEARLY, SPLINE}


def read_csv(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def table_years(folder, name):
    return [int(line[:5]) for line in pathlib.Path(folder, name).read_text().split("\n")[1:-1]]


def assert_run_complete(d, run):
    folder = f"{d}/results/runs/{run}"
    for name in (YEARLY, SPLINE):
        assert table_years(folder, name) == list(YEARS[run]), (run, name)
    record = json.loads(pathlib.Path(folder, "run.json").read_text())
    assert f'{record["label"]["dataset"]}/{record["label"]["member"]}' == run
    return record


@needs_workflow
def test_three_datasets_of_two_members_run_end_to_end(tmp):
    config(tmp)
    done = snakemake(tmp, "--cores", "2")
    assert done.returncode == 0, done.stderr
    records = {run: assert_run_complete(tmp, run) for run in YEARS}
    for record in records.values():
        assert record["brix_eli"]["answers"][4:] == ["28.5", "5"]
        assert record["facts"]["threshold"] == 28.5 and record["facts"]["period"] == 5
        assert datetime.datetime.fromisoformat(record["date"]).tzinfo is not None
        assert record["timing"]["brix_eli"]["wall_s"] >= 0

    # The record of a member in two files.
    record = records["MULTI/r1"]
    files, imported = record["inputs"]["files"], record["inputs"]["brix_import"]
    assert [os.path.basename(f["path"]) for f in files] == ["r1_1850-1855.nc", "r1_1856-1861.nc"]
    assert [f["sha256"] for f in files] == [
        hashlib.sha256(pathlib.Path(f["path"]).read_bytes()).hexdigest() for f in files]
    version = subprocess.run([PROGRAMS["brix_import"], "--version"], capture_output=True,
                             text=True).stdout.strip()
    assert version and (imported["version"], imported["options"]) == (version, ["--lon", "120:280"])
    assert [f["used"] for f in imported["summary"]["files"]] == [True, True]
    for r in records.values():
        jsonschema.validate(r, RUN_SCHEMA)
        if r["inputs"]["kind"] == "netcdf":
            jsonschema.validate(r["inputs"]["brix_import"]["summary"], SUMMARY_SCHEMA)
    assert record["brix_eli"]["answers"][:4] == ["xy_coordinates.txt", "1", "n", "recon_sst.txt"]
    assert record["label"]["experiment"] == "historical" and record["timing"]["brix_import"]["wall_s"] >= 0
    assert record["facts"]["band_points"] == record["facts"]["grid_points"] == 12
    gen = records["GEN/s1"]
    assert gen["inputs"]["kind"] == "text" and len(gen["inputs"]["files"]) == 2
    assert gen["facts"]["band_points"] == 3 * 21  # latitudes -3, 0 and 3

    tidy = read_csv(f"{tmp}/results/eli_tidy.csv")
    assert len(tidy) == sum(len(y) for y in YEARS.values())
    assert {r["note"] for r in tidy if r["dataset"] == "ONE"} == {"one file a member"}
    ensemble = read_csv(f"{tmp}/results/eli_ensemble.csv")
    assert sorted({int(r["Year"]) for r in ensemble}) == list(SHARED)
    assert {r["count"] for r in ensemble if r["series"] == "NPeak"} == {"6"}
    picture = read_csv(f"{tmp}/results/eli_picture.csv")
    assert len(picture) == 2 * len(SHARED)
    assert pathlib.Path(f"{tmp}/results/eli_ensemble.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


@needs_workflow
def test_a_broken_file_fails_its_dataset_alone_and_a_rerun_redoes_it(tmp):
    config(tmp)
    broken = f"{tmp}/data/one/r2.nc"
    shutil.copyfile(broken, f"{tmp}/whole.nc")
    with open(broken, "r+b") as f:
        f.truncate(os.path.getsize(broken) // 2)  # a download that broke off
    done = snakemake(tmp, "--cores", "2", "--keep-going")
    assert done.returncode != 0
    said = done.stdout + done.stderr
    assert f"{broken} is cut short, perhaps an incomplete download" in said, said
    assert "brix_run: results/runs/ONE/r2: import: brix_import failed" in said
    others = [run for run in YEARS if run != "ONE/r2"]
    for run in others:
        assert_run_complete(tmp, run)
    assert not set(os.listdir(f"{tmp}/results/runs/ONE/r2")) & {
        YEARLY, SPLINE, "run.json", "import.json", "recon_sst.txt"}
    assert not os.path.exists(f"{tmp}/results/eli_tidy.csv")

    def stamps():
        return {run: os.stat(f"{tmp}/results/runs/{run}/run.json").st_mtime_ns for run in others}
    finished = stamps()
    shutil.copyfile(f"{tmp}/whole.nc", broken)
    done = snakemake(tmp, "--cores", "2", "--keep-going")
    assert done.returncode == 0, done.stderr
    assert_run_complete(tmp, "ONE/r2")
    assert stamps() == finished
    assert len(read_csv(f"{tmp}/results/eli_tidy.csv")) == sum(len(y) for y in YEARS.values())


STAND_IN_SBATCH = """#!/usr/bin/env bash
# sbatch for the test: runs the job script at once, in the background, and
# keeps its status for sacct.
echo "$*" >> "$SLURM_STATE/sbatch.log"
id=$(( $(ls "$SLURM_STATE" | grep -c '^job') + 1 ))
out=slurm.out
for a in "$@"; do case "$a" in --output=*) out="${a#--output=}";; esac; done
out="${out//%j/$id}"; out="${out//%x/job}"
touch "$SLURM_STATE/job$id"
( bash "${!#}" > "$out" 2>&1; echo $? > "$SLURM_STATE/job$id" ) </dev/null >/dev/null 2>&1 &
echo "$id"
"""
STAND_IN_SACCT = """#!/usr/bin/env bash
s=$(cat "$SLURM_STATE/job$2" 2>/dev/null) || exit 0
if [ -z "$s" ]; then echo RUNNING; elif [ "$s" = 0 ]; then echo COMPLETED; else echo FAILED; fi
"""


@needs_workflow
def test_the_slurm_profile_submits_every_rule_but_collect(tmp):
    config(tmp, only=("MULTI",))
    done = snakemake(tmp, "--profile", PROFILE, "--dry-run")
    assert done.returncode == 0, done.stderr
    assert "import_dataset        2" in done.stdout and "run_eli               2" in done.stdout

    bin_dir, state = f"{tmp}/bin", f"{tmp}/slurm"
    os.makedirs(bin_dir)
    os.makedirs(state)
    for name, text in (("sbatch", STAND_IN_SBATCH), ("sacct", STAND_IN_SACCT),
                       ("scancel", "#!/bin/sh\nexit 0\n")):
        pathlib.Path(bin_dir, name).write_text(text)
        os.chmod(f"{bin_dir}/{name}", 0o755)
    # CI=true: snakemake polls its cluster jobs every second, not every ten.
    env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ["PATH"], SLURM_STATE=state,
               CI="true")
    done = snakemake(tmp, "--profile", PROFILE, "--latency-wait", "5", env=env)
    assert done.returncode == 0, done.stdout + done.stderr
    calls = pathlib.Path(state, "sbatch.log").read_text().splitlines()
    assert len(calls) == 4
    for rule, mem, minutes in (("import_dataset", 2000, 60), ("run_eli", 1000, 30)):
        assert sum(f"--job-name=brix-{rule} --cpus-per-task=1 --mem={mem} --time={minutes}" in c
                   for c in calls) == 2, calls
    assert all(c.startswith("--parsable --output=.snakemake/slurm-logs/%x-%j.out") for c in calls)
    assert len(os.listdir(f"{tmp}/.snakemake/slurm-logs")) == 4
    for run in ("MULTI/r1", "MULTI/r2"):
        assert_run_complete(tmp, run)
    assert len(read_csv(f"{tmp}/results/eli_tidy.csv")) == 12 + 12


BAD_CONFIGS = [
    ("unknown setting", {"thresold": 28.5}, "unknown setting thresold"),
    ("a glob without files", {"datasets": {"X": {"files": ["data/none/*.nc"]}}},
     "dataset X: no file matches data/none/*.nc"),
    ("files and xy", {"datasets": {"X": {"files": ["data/one/r1.nc"], "xy": "data/gen1.xy",
                                         "recon": "data/gen1.sst"}}}, "not both"),
    ("no threshold", {"threshold": None}, "no threshold"),
    ("a span of another kind", {"span": "some"}, "span is shared or all"),
    ("a member's own members", {"datasets": {"X": {"members": {"a": {"members": {}}}}}},
     "members cannot have members"),
]


@needs_workflow
@pytest.mark.parametrize("change, message", [b[1:] for b in BAD_CONFIGS],
                         ids=[b[0] for b in BAD_CONFIGS])
def test_bad_configurations_are_refused_before_any_job(tmp, change, message):
    config(tmp, **change)
    done = snakemake(tmp, "--cores", "1", "--dry-run")
    assert done.returncode != 0
    assert message in done.stdout + done.stderr, done.stdout + done.stderr
    assert not os.path.exists(f"{tmp}/results")
