#!/usr/bin/env bash
# tools/plot-eli: a 900x1050 PNG of a smoothed table, fields that touch, gaps for
# NaN, infinities, asterisks and the spline's marker; other tables refused.
set -uo pipefail
command -v gnuplot >/dev/null || { echo "skipped: gnuplot is missing (tools/setup installs gnuplot-nox)"; exit 77; }
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
plot="$root/tools/plot-eli"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
png_size() { python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); assert d[:8]==b"\x89PNG\r\n\x1a\n"; print("%dx%d" % struct.unpack(">II", d[16:24]))' "$1" 2>/dev/null; }

"$plot" "$root/examples/expected/Brix_ELI_5N-5S_Spline.txt" "$tmp/example.png" >/dev/null \
  || fail "example: status $?"
[ "$(png_size "$tmp/example.png")" = 900x1050 ] || fail "example: no 900x1050 PNG"

cat >"$tmp/Brix_ELI_5N-5S_Spline.txt" <<'EOF'
 Year  NPeak  NPSpl  NPKMn  LonMN1  LonMN2  LonMN3  LonSD1  LonSD2  TmpMN1  TmpMN2  TmpMN3  TmpSD1  TmpSD2
 1950  0.667*******  0.556  165.00-9998.00    -NaN   7.071********  29.500********    -NaN   0.707********
 1951  1.000  0.000  0.556     NaN    0.00    -NaN     INF   0.000    -INF   0.000    -NaN   1.000   0.000
 1952  0.000  0.378  0.556-9998.00    0.00    -NaN   0.000   0.000    -NaN   0.000    -NaN   0.000   0.000
EOF
expected="Year NPeak NPSpl NPKMn LonMN1 LonMN2 LonMN3 LonSD1 LonSD2 TmpMN1 TmpMN2 TmpMN3 TmpSD1 TmpSD2
1950 0.667 ? 0.556 165.0 ? ? 7.071 ? 29.5 ? ? 0.707 ?
1951 1.0 ? 0.556 ? ? ? ? ? ? ? ? 1.0 ?
1952 0.0 ? 0.556 -9998.0 ? ? 0.0 ? ? ? ? 0.0 ?"
got="$("$plot" --print-data "$tmp/Brix_ELI_5N-5S_Spline.txt")" || fail "--print-data: status $?"
[ "$got" = "$expected" ] || fail "the table read as:
$got"
"$plot" "$tmp/Brix_ELI_5N-5S_Spline.txt" >/dev/null || fail "default path: status $?"
[ "$(png_size "$tmp/Brix_ELI_5N-5S_Spline.png")" = 900x1050 ] || fail "default path: no PNG"

printf ' Year  NPeak  MN_Lon  SD_Lon  SE_Lon  MN_Tmp  SD_Tmp  SE_Tmp\n 1950  0.667  165.00    7.07    5.00  29.500   0.707   0.500\n' >"$tmp/yearly.txt"
head -1 "$tmp/Brix_ELI_5N-5S_Spline.txt" >"$tmp/empty.txt"
for bad in missing yearly empty; do
  "$plot" "$tmp/$bad.txt" "$tmp/bad.png" >/dev/null 2>&1 && fail "$bad: accepted"
  [ -e "$tmp/bad.png" ] && fail "$bad: wrote a PNG"
done
# One definition of the columns: the headings of the committed example outputs
# (the example test holds them against the program), each name ending its
# field, against tools/plot-eli's COLUMNS and the column tables of docs/formats.md.
python3 - "$root" <<'PY' || fail "the tables, tools/plot-eli and docs/formats.md disagree on the columns"
import importlib.machinery, re, sys, types
root = sys.argv[1]
def heading(name):
    line = open(f"{root}/examples/expected/{name}").readline().rstrip("\n")
    return [(m[0].strip(), m.start() + 1, m.end()) for m in re.finditer(r" *\S+", line)]
documented = [[(m[3], int(m[1]), int(m[2])) for m in re.finditer(r"^\| (\d+)–(\d+) \| (\w+) \|", t, re.M)]
          for t in open(f"{root}/docs/formats.md").read().split("\n\n") if t.startswith("| Columns")]
plot = types.ModuleType("plot_eli")
exec(importlib.machinery.SourceFileLoader("plot_eli", f"{root}/tools/plot-eli").get_source("plot_eli"), plot.__dict__)
yearly, smoothed = heading("Brix_ELI_5N-5S.txt"), heading("Brix_ELI_5N-5S_Spline.txt")
if not (plot.COLUMNS == smoothed and yearly in documented and smoothed in documented):
    sys.exit(f"tables {yearly} {smoothed}\nplot-eli {plot.COLUMNS}\ndocs/formats.md {documented}")
PY

[ "$failures" -eq 0 ] && echo "plot_test: all cases passed"
