"""Tests of brix_collect: its tidy table against the tables brix_eli writes,
field by field; its ensemble statistics against values worked out by hand;
its refusal of bad run folders. ctest passes BRIX_ELI, BRIX_GEN and BRIX_RUN."""

import csv
import json
import math
import os
import pathlib
import re
import shutil
import struct
import subprocess
import sys

import jsonschema
import pytest

sys.dont_write_bytecode = True

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
COLLECT = os.path.join(HERE, "brix_collect")
RUN = os.environ.get("BRIX_RUN") or os.path.join(ROOT, "workflow", "brix_run")
ELI, GEN = os.environ.get("BRIX_ELI"), os.environ.get("BRIX_GEN")
YEARLY, SPLINE = "Brix_ELI_5N-5S.txt", "Brix_ELI_5N-5S_Spline.txt"
MARKERS = (-9998.0, -9999.0)
with open(os.path.join(ROOT, "workflow", "run.schema.json")) as f:
    RUN_SCHEMA = json.load(f)

needs_programs = pytest.mark.skipif(
    not (ELI and GEN and os.path.exists(ELI) and os.path.exists(GEN)),
    reason="needs the built brix_eli and brix_gen, as BRIX_ELI and BRIX_GEN (ctest passes them)")


@pytest.fixture
def tmp(tmp_path):
    return str(tmp_path)


# The two column tables of docs/formats.md: (name, first, last),
# 1-based and inclusive; tests/plot_test.sh holds them against the program's.
COLUMNS = dict(zip((YEARLY, SPLINE), [
    [(m[3], int(m[1]), int(m[2])) for m in re.finditer(r"^\| (\d+)–(\d+) \| (\w+) \|", t, re.M)]
    for t in pathlib.Path(ROOT, "docs", "formats.md").read_text(encoding="utf-8").split("\n\n")
    if t.startswith("| Columns | Heading")], strict=True))
# Columns ending in 2, and NPSpl, hold the spline.
SMOOTHED = [n for n, _, _ in COLUMNS[SPLINE] if n.endswith("2") or n == "NPSpl"]


def fields(path, table):
    """Rows of {column: field text} cut at the columns of docs/formats.md."""
    lines = pathlib.Path(path).read_text().split("\n")[1:-1]
    return [{n: line[a - 1:b] for n, a, b in COLUMNS[table]} for line in lines]


def collect(*args):
    return subprocess.run([COLLECT, *args], capture_output=True, text=True)


def read_csv(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def recon_file(path, first_year, rows):
    """A header, then per year the year in 5 columns and each value in 10."""
    pathlib.Path(path).write_text("hand-made\n" + "".join(
        f"{first_year + i:5d}" + "".join(f"{v:10.3f}" for v in r) + "\n" for i, r in enumerate(rows)))


def as_number(text):
    try:
        return float(text)
    except ValueError:
        return None


def expected_cell(name, text, refused):
    """What docs/workflow.md says the tidy table holds for a field of a table."""
    t = text.strip()
    value = as_number(t)  # None for asterisks
    gap = value is None or not math.isfinite(value) or (
        name in SMOOTHED and (refused or value in MARKERS))
    return "" if gap else t


@needs_programs
def test_tidy_table_holds_every_field_of_both_tables(tmp):
    grid = ["--grid", "regular", "--lat-min", "-6", "--lat-max", "6", "--lon-min", "140",
            "--lon-max", "200", "--step", "4"]  # latitudes -6, -2, 2, 6: 2 rows of 16 in the band
    for name, seed, years, first in (("a", "1", "30", "1900"), ("b", "2", "40", "1910")):
        subprocess.run([GEN, *grid, "--seed", seed, "--years", years, "--first-year", first,
                        "--xy", f"{tmp}/{name}.xy", "--recon", f"{tmp}/{name}.sst"],
                       check=True, capture_output=True)
    # Four points, three in the band (the last is at 10N).
    pathlib.Path(f"{tmp}/edge.xy").write_text("0 150\n0 160\n2 170\n10 180\n")
    # Three years: none warm (NaN means), one warm point (NaN spread), two
    # warm points of which one is too hot for the 8-column fields
    # (asterisks); too few years for the spline, which leaves its marker.
    recon_file(f"{tmp}/short.sst", 1950, [[20, 20, 20, 20], [29, 20, 20, 29],
                                          [23456.789, 29.5, 20, 0]])
    # Eight years, the first with one warm point far too hot: asterisks in
    # the first rows of a smoothed column that the spline did smooth.
    recon_file(f"{tmp}/spike.sst", 1950, [[99999, 20, 20, 0]] +
               [[29 + k / 10, 29.2, 20, 0] for k in range(7)])
    runs = [("a", "a", ["dataset=GEN", "member=a"]),
            ("b", "b", ["dataset=GEN", "member=b", "experiment=x", "note=seed 2, years 1910-"]),
            ("short", "edge", ["dataset=EDGE", "member=short"]),
            ("spike", "edge", ["dataset=EDGE", "member=spike"])]
    for name, xy, labels in runs:
        done = subprocess.run([RUN, "all", "--dir", f"{tmp}/{name}", "--xy", f"{tmp}/{xy}.xy",
                               "--recon", f"{tmp}/{name}.sst", "--brix-eli", ELI, "--threshold",
                               "28.5", "--period", "5", *(f"--label={x}" for x in labels)],
                              capture_output=True, text=True)
        assert done.returncode == 0, done.stderr

    done = collect("--out", tmp, "--no-picture", "--span", "all",
                   *(f"{tmp}/{name}" for name, _, _ in runs))
    assert done.returncode == 0, done.stderr
    rows = read_csv(f"{tmp}/eli_tidy.csv")
    heading = pathlib.Path(f"{tmp}/eli_tidy.csv").read_bytes().decode().split("\n")[0].split(",")
    yearly = [n for n, _, _ in COLUMNS[YEARLY]]
    assert heading == ["dataset", "member", "experiment", "note", "run", "threshold", "period",
                       "band_points", *yearly, *(n for n, _, _ in COLUMNS[SPLINE] if n not in yearly)]

    at = 0
    for name, _, labels in runs:
        folder = f"{tmp}/{name}"
        ytable, stable = fields(f"{folder}/{YEARLY}", YEARLY), fields(f"{folder}/{SPLINE}", SPLINE)
        refused = any(as_number(stable[0][n].strip()) in MARKERS for n in SMOOTHED)
        label = dict(item.split("=", 1) for item in labels)
        facts = {k: label.get(k, "") for k in ("dataset", "member", "experiment", "note")} | {
            "run": folder, "threshold": "28.5", "period": "5",
            "band_points": "32" if label["dataset"] == "GEN" else "3"}
        for yrow, srow in zip(ytable, stable, strict=True):
            row = rows[at]
            at += 1
            assert {k: row[k] for k in facts} == facts
            for column, text in [*yrow.items(), *srow.items()]:
                assert row[column] == expected_cell(column, text, refused), \
                    (name, row["Year"], column, text)
    assert at == len(rows) == 30 + 40 + 3 + 8

    def cells(member, column):
        return [r[column] for r in rows if r["member"] == member]

    # What the edge runs hold, as brix_eli wrote it.
    assert cells("short", "Year") == ["1950", "1951", "1952"]
    assert cells("short", "NPeak") == ["0.000", "0.333", "0.667"]
    assert cells("short", "MN_Lon") == ["", "150.00", "155.00"]
    assert cells("short", "SD_Lon")[1] == "" and cells("short", "MN_Tmp")[2] == ""
    assert {c: cells("short", c) for c in SMOOTHED} == {c: ["", "", ""] for c in SMOOTHED}
    tmp_mn2 = cells("spike", "TmpMN2")
    assert cells("spike", "TmpMN1")[0] == "" and tmp_mn2[0] == ""
    assert sum(re.fullmatch(r"-?\d+\.\d{3}", v) is not None for v in tmp_mn2[1:]) >= 3, tmp_mn2
    assert all(v != "" for v in cells("spike", "LonMN2"))
    assert cells("spike", "LonSD2") == [""] * 8  # a NaN year makes its series NaN


def hand_run(folder, dataset, first, values):
    """A run folder with hand-made tables laid out as brix_eli does, under the
    example's headings: values holds per year (NPeak, MN_Lon, LonMN2); the
    smoothed warm fraction is NPeak + 0.01; a column not given holds 1.00."""
    os.makedirs(folder)
    years = [dict(Year=first + i, NPeak=p, MN_Lon=lon, LonMN1=lon, LonMN2=lon2,
                  NPSpl=f"{float(p) + 0.01:.3f}")
             for i, (p, lon, lon2) in enumerate(values)]
    for name in (YEARLY, SPLINE):
        heading = pathlib.Path(ROOT, "examples", "expected", name).read_text().split("\n")[0]
        pathlib.Path(folder, name).write_text(heading + "\n" + "".join(
            "".join(str(y.get(n, "1.00")).rjust(b - a + 1) for n, a, b in COLUMNS[name]) + "\n"
            for y in years))
    seconds = {"wall_s": 0.1, "user_s": 0.1, "sys_s": 0.0}
    record = {"record_version": 2, "label": {"dataset": dataset, "member": "", "experiment": "",
                                             "note": ""},
              "date": "2026-01-01T00:00:00+00:00",
              "inputs": {"kind": "text", "files": [{"path": "/x", "bytes": 1, "sha256": "0" * 64}]},
              "brix_eli": {"path": "/b", "sha256": "0" * 64,
                           "answers": ["x", "1", "n", "r", "28.5", "10"]},
              "facts": {"grid_points": 10, "first_year": first, "last_year": first + len(values) - 1,
                        "years": len(values), "threshold": 28.5, "period": 10, "band_points": 10},
              "timing": {"brix_eli": seconds}}
    jsonschema.validate(record, RUN_SCHEMA)  # the layout brix_run writes
    with open(f"{folder}/run.json", "w") as f:
        json.dump(record, f)


def hand_runs(tmp):
    hand_run(f"{tmp}/P", "P", 2000, [("0.500", "140.00", "151.00"), ("0.100", "150.00", "152.00"),
                                     ("0.300", "170.00", "153.00"), ("0.400", "160.00", "154.00")])
    hand_run(f"{tmp}/Q", "Q", 2000, [("0.700", "160.00", "161.00"), ("0.200", "NaN", "162.00"),
                                     ("0.300", "180.00", "163.00"), ("0.800", "********", "164.00")])
    hand_run(f"{tmp}/R", "R", 2001, [("0.600", "160.00", "172.00"), ("0.300", "190.00", "173.00"),
                                     ("0.000", "-NaN", "174.00"), ("0.900", "175.50", "-9998.00")])
    return [f"{tmp}/P", f"{tmp}/Q", f"{tmp}/R"]


# Year, series: count, mean, sd, min, median, max, worked out by hand from
# hand_runs; None for an empty field.
BY_HAND = {
    (2000, "NPeak"): (2, 0.6, math.sqrt(0.02), 0.5, 0.6, 0.7),
    (2000, "MN_Lon"): (2, 150, math.sqrt(200), 140, 150, 160),
    (2001, "NPeak"): (3, 0.3, math.sqrt(0.07), 0.1, 0.2, 0.6),
    (2001, "MN_Lon"): (2, 155, math.sqrt(50), 150, 155, 160),
    (2002, "NPeak"): (3, 0.3, 0, 0.3, 0.3, 0.3),
    (2002, "MN_Lon"): (3, 180, 10, 170, 180, 190),
    (2002, "LonMN2"): (3, 163, 10, 153, 163, 173),
    (2003, "NPeak"): (3, 0.4, 0.4, 0, 0.4, 0.8),
    (2003, "MN_Lon"): (1, 160, None, 160, 160, 160),
    (2003, "NPSpl"): (3, 0.41, 0.4, 0.01, 0.41, 0.81),
    (2004, "NPeak"): (1, 0.9, None, 0.9, 0.9, 0.9),
    (2004, "MN_Lon"): (1, 175.5, None, 175.5, 175.5, 175.5),
    (2004, "LonMN2"): (0, None, None, None, None, None),
}


@pytest.mark.parametrize("span, years", [("shared", [2001, 2002, 2003]),
                                         ("all", [2000, 2001, 2002, 2003, 2004])])
def test_ensemble_statistics_worked_out_by_hand(tmp, span, years):
    runs = hand_runs(tmp)
    drawn = shutil.which("gnuplot") is not None
    args = ["--out", tmp, "--picture-data", f"{tmp}/picture.csv"] + ([] if drawn else ["--no-picture"])
    done = collect("--span", span, *args, *runs)
    assert done.returncode == 0, done.stderr
    series = [n for n, _, _ in COLUMNS[YEARLY][1:]] + SMOOTHED
    rows = read_csv(f"{tmp}/eli_ensemble.csv")
    assert [(int(r["Year"]), r["series"]) for r in rows] == [(y, s) for y in years for s in series]
    got = {(int(r["Year"]), r["series"]): r for r in rows}
    for key in [key for key in BY_HAND if key[0] in years]:
        row, want = got[key], BY_HAND[key]
        assert int(row["count"]) == want[0], key
        for name, value in zip(("mean", "sd", "min", "median", "max"), want[1:]):
            assert (row[name] == "") if value is None else \
                math.isclose(float(row[name]), value, abs_tol=1e-9), (key, name, row[name])
    if drawn:
        head = pathlib.Path(f"{tmp}/eli_ensemble.png").read_bytes()[:24]
        assert head[:8] == b"\x89PNG\r\n\x1a\n" and struct.unpack(">II", head[16:24]) == (900, 800)
    picture = {(int(r["Year"]), r["series"]): r for r in read_csv(f"{tmp}/picture.csv")}
    assert sorted(picture) == sorted((y, s) for y in years for s in ("LonMN2", "NPSpl"))
    lon = picture[(2002, "LonMN2")]
    assert (lon["count"], lon["mean"], lon["min"], lon["max"]) == ("3", "163", "153", "173")
    assert (lon["P"], lon["Q"], lon["R"]) == ("153.00", "163.00", "173.00")


def edit(folder, name, change):
    """Rewrites a file of a folder with change(its text)."""
    path = pathlib.Path(folder, name)
    path.write_text(change(path.read_text()))


def drop_last_line(text):
    return "".join(text.splitlines(True)[:-1])


# How Q is spoilt, and what the message says besides Q's folder.
BAD = [
    ("no tables", lambda q: [os.unlink(f"{q}/{t}") for t in (YEARLY, SPLINE)], "no Brix_ELI_5N-5S.txt"),
    ("no record", lambda q: os.unlink(f"{q}/run.json"), "no run.json"),
    ("yearly table cut within a row", lambda q: edit(q, YEARLY, lambda t: t[:-20]), "cut short"),
    ("a row short of a character",
     lambda q: edit(q, SPLINE, lambda t: t.replace(" 2001  0.200", " 2001 0.200", 1)),
     "line 3 has 105 characters, its heading 106"),
    ("the spline table of another run", lambda q: shutil.copyfile(f"{q}/../P/{SPLINE}", f"{q}/{SPLINE}"),
     "the two tables disagree in 2000: NPeak is 0.700 and 0.500"),
    ("spline table cut at a row's end", lambda q: edit(q, SPLINE, drop_last_line),
     "the two tables hold other years"),
    ("both cut at a row's end", lambda q: [edit(q, t, drop_last_line) for t in (YEARLY, SPLINE)],
     "where run.json says 2000 to 2003: a table is cut short"),
    ("a field that is no number", lambda q: edit(q, YEARLY, lambda t: t.replace("160.00", "16O.00", 1)),
     "'16O.00', not a number"),
    ("two runs of one label", lambda q: edit(q, "run.json", lambda t: t.replace('"Q"', '"P"')),
     "the same label as "),
]


@pytest.mark.parametrize("spoil, message", [b[1:] for b in BAD], ids=[b[0] for b in BAD])
def test_bad_run_folders_are_named_and_nothing_is_written(tmp, spoil, message):
    runs = hand_runs(tmp)
    spoil(runs[1])
    out = f"{tmp}/out"
    os.makedirs(out)
    pathlib.Path(f"{out}/eli_tidy.csv").write_text("an earlier table\n")
    done = collect("--out", out, "--picture-data", f"{out}/picture.csv", *runs)
    assert done.returncode == 1
    assert done.stderr.startswith(f"brix_collect: {runs[1]}: ") and message in done.stderr, \
        done.stderr
    if "same label" in message:
        assert runs[0] in done.stderr
    assert sorted(os.listdir(out)) == ["eli_tidy.csv"]
    assert pathlib.Path(f"{out}/eli_tidy.csv").read_text() == "an earlier table\n"


def test_runs_without_a_shared_year_are_refused_with_span_shared(tmp):
    hand_run(f"{tmp}/A", "A", 1900, [("0.100", "150.00", "150.00")] * 5)
    hand_run(f"{tmp}/B", "B", 1905, [("0.100", "150.00", "150.00")] * 5)
    done = collect("--out", tmp, "--no-picture", f"{tmp}/A", f"{tmp}/B")
    assert done.returncode == 1 and "share no year" in done.stderr and f"{tmp}/A" in done.stderr
    assert not os.path.exists(f"{tmp}/eli_tidy.csv")
    done = collect("--out", tmp, "--no-picture", "--span", "all", f"{tmp}/A", f"{tmp}/B")
    assert done.returncode == 0, done.stderr
    assert len(read_csv(f"{tmp}/eli_ensemble.csv")) == 10 * (len(COLUMNS[YEARLY]) - 1
                                                            + len(SMOOTHED))
