#!/usr/bin/env bash
# Workbook merge and split against ssconvert and a streaming openpyxl script;
# the .xls merge against ssconvert alone.
# Usage: bench/run-workbook-bench.sh   (after scripts/build.sh; inputs go to build-bench/)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/bench/workbook_bench
dir=build-bench
py=/usr/bin/python3
[ -x "$bin" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }
[ -f "$dir/huge.xlsx" ] || "$bin" make "$dir"
last_wall=0 last_cpu=0
measure() {  # label, command...
  local label="$1"; shift
  /usr/bin/time -f "%e %U %S %M" "$@" >/dev/null 2>"$dir/time.txt" || { cat "$dir/time.txt"; last_wall=0; return; }
  read -r last_wall user sys peak < <(tail -1 "$dir/time.txt")
  last_cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
  echo "$label: $last_wall s wall, $user s user + $sys s sys, $peak KB peak"
}
# How many times the peer's time ours is, by wall clock and by processor
# time (the fairer figure on a machine busy with other work).
ratio() {  # peer label, our wall, our cpu
  [ "$last_wall" != 0 ] || return 0
  awk -v n="$1" -v pw="$last_wall" -v pc="$last_cpu" -v ow="$2" -v oc="$3" \
    'BEGIN { printf "  %s / plinthwick: %.1fx wall, %.1fx processor time\n", n, pw / ow, pc / oc }'
}
# ssconvert's merge of the given files into the first argument, beside ours ($ow, $oc).
merge_ssconvert() {
  local out="$1"; shift
  if command -v ssconvert >/dev/null; then
    measure "ssconvert      " ssconvert --merge-to="$out" "$@"
    ratio ssconvert "$ow" "$oc"
  else
    echo "ssconvert        not installed: no figure"
  fi
}
echo "merge: 100 workbooks, title + 10-column header + 2,000 rows each"
measure "plinthwick     " "$bin" merge "$dir" "$dir/merged"
ow=$last_wall oc=$last_cpu
measure "openpyxl stream" "$py" bench/peers/openpyxl_merge.py "$dir" "$dir/merged-openpyxl.xlsx"
ratio openpyxl "$ow" "$oc"
merge_ssconvert "$dir/merged-ssconvert.xlsx" "$dir"/in/*.xlsx
echo "merge: 5 legacy .xls workbooks of 5,000 rows each into one .xls"
[ -f "$dir/xls/book5.xls" ] || "$bin" make-xls "$dir"
measure "one at a time  " "$bin" merge-xls-serial "$dir" "$dir/merged.xls"
measure "plinthwick     " "$bin" merge-xls "$dir" "$dir/merged.xls"
ow=$last_wall oc=$last_cpu
merge_ssconvert "$dir/merged-ssconvert.xls" "$dir"/xls/*.xls
echo "where the .xls time goes (one server, one file at a time):"
"$bin" xls-parts "$dir"
echo "split: 200,000 rows into workbooks of 20,000 data rows"
measure "plinthwick     " "$bin" split "$dir/big.xlsx" 20000
ow=$last_wall oc=$last_cpu
measure "openpyxl stream" "$py" bench/peers/openpyxl_split.py "$dir/big.xlsx" 20000
ratio openpyxl "$ow" "$oc"
echo "split: 1,000,000 rows into workbooks of 100,000 data rows"
measure "plinthwick     " "$bin" split "$dir/huge.xlsx" 100000
ow=$last_wall oc=$last_cpu
measure "openpyxl stream" "$py" bench/peers/openpyxl_split.py "$dir/huge.xlsx" 100000
ratio openpyxl "$ow" "$oc"
echo "split: 1,000,000 rows by a column of 200 values, one workbook per value"
[ -f "$dir/values.xlsx" ] || "$bin" make-values "$dir"
measure "plinthwick     " "$bin" split-values "$dir/values.xlsx" 列3
ow=$last_wall oc=$last_cpu
measure "openpyxl stream" "$py" bench/peers/openpyxl_split_values.py "$dir/values.xlsx" 列3
ratio openpyxl "$ow" "$oc"
echo "where the time goes (200,000 rows x 10 columns):"
"$bin" parts "$dir/big.xlsx"
echo
