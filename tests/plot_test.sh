#!/usr/bin/env bash
# tools/plot-eli: draws the example's smoothed table to a PNG of the chart's
# size, reads fixed-width fields that touch each other, turns NaN, asterisks
# and the spline's refusal marker into gaps, and refuses what is not a
# smoothed table. Needs gnuplot (tools/setup installs it); without it the
# drawing cases fail.
set -uo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
plot="$root/tools/plot-eli"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Prints "WIDTHxHEIGHT" of a PNG file, or fails when it is not one.
png_size() {
  python3 - "$1" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read(24)
if len(data) < 24 or data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
    sys.exit(1)
width, height = struct.unpack(">II", data[16:24])
print(f"{width}x{height}")
EOF
}

expect_png() {  # expect_png FILE WHAT
  local size
  if [ ! -s "$1" ]; then fail "$2: no PNG at $1"; return; fi
  size="$(png_size "$1")" || { fail "$2: $1 is not a PNG"; return; }
  [ "$size" = "900x1050" ] || fail "$2: PNG is $size, expected 900x1050"
}

# 1. The example's table, to a named PNG and to the default one beside it.
table="$root/examples/expected/Brix_ELI_5N-5S_Spline.txt"
"$plot" "$table" "$tmp/named.png" >/dev/null || fail "example: status $?"
expect_png "$tmp/named.png" "example"

cp "$table" "$tmp/Brix_ELI_5N-5S_Spline.txt"
"$plot" "$tmp/Brix_ELI_5N-5S_Spline.txt" >/dev/null || fail "default path: status $?"
expect_png "$tmp/Brix_ELI_5N-5S_Spline.png" "default path"

# 2. Fields that touch, NaNs and a refused smoothing. This is the program's
# table for a record of three years, where the spline refuses every series:
# its marker fills "-9998.00" or asterisks in the first row, and the rows
# after it hold no smoothed value either.
short="$tmp/short.txt"
cat >"$short" <<'EOF'
 Year  NPeak  NPSpl  NPKMn  LonMN1  LonMN2  LonMN3  LonSD1  LonSD2  TmpMN1  TmpMN2  TmpMN3  TmpSD1  TmpSD2
 1950  0.667*******  0.556  165.00-9998.00    -NaN   7.071********  29.500********    -NaN   0.707********
 1951  1.000  0.000  0.556  160.00    0.00    -NaN  10.000   0.000  30.000   0.000    -NaN   1.000   0.000
 1952  0.000  0.000  0.556    -NaN    0.00    -NaN   0.000   0.000    -NaN   0.000    -NaN   0.000   0.000
EOF
expected="Year NPeak NPSpl NPKMn LonMN1 LonMN2 LonMN3 LonSD1 LonSD2 TmpMN1 TmpMN2 TmpMN3 TmpSD1 TmpSD2
1950 0.667 ? 0.556 165.0 ? ? 7.071 ? 29.5 ? ? 0.707 ?
1951 1.0 ? 0.556 160.0 ? ? 10.0 ? 30.0 ? ? 1.0 ?
1952 0.0 ? 0.556 ? ? ? 0.0 ? ? ? ? 0.0 ?"
got="$("$plot" --print-data "$short")" || fail "short record: --print-data status $?"
[ "$got" = "$expected" ] || fail "short record read as:
$got"
"$plot" "$short" "$tmp/short.png" >/dev/null || fail "short record: status $?"
expect_png "$tmp/short.png" "short record"

# A smoothed series spread with NaN (a year without warm points) is left out;
# positive NaN, infinities and a -9998.00 in a raw column are read as written
# there, gaps except the last, which is a value.
nan="$tmp/nan.txt"
cat >"$nan" <<'EOF'
 Year  NPeak  NPSpl  NPKMn  LonMN1  LonMN2  LonMN3  LonSD1  LonSD2  TmpMN1  TmpMN2  TmpMN3  TmpSD1  TmpSD2
 1950  0.667  0.766  0.611  165.00    -NaN    -NaN   7.071    -NaN  29.500    -NaN    -NaN   0.707    -NaN
 1951  1.000  0.616  0.611     NaN    -NaN    -NaN     INF    -NaN    -INF    -NaN    -NaN   1.000    -NaN
 1952  0.000  0.378  0.611-9998.00    -NaN    -NaN   0.000    -NaN    -NaN    -NaN    -NaN   0.000    -NaN
 1953  0.333  0.442  0.611  170.00    -NaN    -NaN    -NaN    -NaN  30.000    -NaN    -NaN    -NaN    -NaN
EOF
expected="Year NPeak NPSpl NPKMn LonMN1 LonMN2 LonMN3 LonSD1 LonSD2 TmpMN1 TmpMN2 TmpMN3 TmpSD1 TmpSD2
1950 0.667 0.766 0.611 165.0 ? ? 7.071 ? 29.5 ? ? 0.707 ?
1951 1.0 0.616 0.611 ? ? ? ? ? ? ? ? 1.0 ?
1952 0.0 0.378 0.611 -9998.0 ? ? 0.0 ? ? ? ? 0.0 ?
1953 0.333 0.442 0.611 170.0 ? ? ? ? 30.0 ? ? ? ?"
got="$("$plot" --print-data "$nan")" || fail "NaN series: --print-data status $?"
[ "$got" = "$expected" ] || fail "NaN series read as:
$got"
"$plot" "$nan" "$tmp/nan.png" >/dev/null || fail "NaN series: status $?"
expect_png "$tmp/nan.png" "NaN series"

# 3. What cannot be drawn: no file, the yearly table, a heading without rows.
printf ' Year  NPeak  MN_Lon  SD_Lon  SE_Lon  MN_Tmp  SD_Tmp  SE_Tmp\n 1950  0.667  165.00    7.07    5.00  29.500   0.707   0.500\n' \
  >"$tmp/yearly.txt"
head -1 "$short" >"$tmp/empty.txt"
for bad in "$tmp/missing.txt" "$tmp/yearly.txt" "$tmp/empty.txt"; do
  if "$plot" "$bad" "$tmp/bad.png" >/dev/null 2>&1; then
    fail "$(basename "$bad"): accepted"
  fi
  [ -e "$tmp/bad.png" ] && fail "$(basename "$bad"): wrote a PNG"
  rm -f "$tmp/bad.png"
done

if [ "$failures" -ne 0 ]; then
  echo "plot_test: $failures failure(s)" >&2
  exit 1
fi
echo "plot_test: all cases passed"
