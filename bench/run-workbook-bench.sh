#!/usr/bin/env bash
# Workbook merge and split against ssconvert and a streaming openpyxl script.
# Usage: bench/run-workbook-bench.sh   (after scripts/build.sh; inputs go to build-bench/)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/bench/workbook_bench
dir=build-bench
py=/usr/bin/python3
[ -x "$bin" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }
[ -f "$dir/huge.xlsx" ] || "$bin" make "$dir"
measure() {  # label, command...
  local label="$1"; shift
  /usr/bin/time -f "$label: %e s wall, %U s user + %S s sys, %M KB peak" "$@" >/dev/null 2>"$dir/time.txt" || { cat "$dir/time.txt"; return; }
  tail -1 "$dir/time.txt"
}
echo "merge: 100 workbooks, title + 10-column header + 2,000 rows each"
measure "plinthwick     " "$bin" merge "$dir" "$dir/merged"
measure "openpyxl stream" "$py" bench/peers/openpyxl_merge.py "$dir" "$dir/merged-openpyxl.xlsx"
if command -v ssconvert >/dev/null; then
  measure "ssconvert      " ssconvert --merge-to="$dir/merged-ssconvert.xlsx" "$dir"/in/*.xlsx
else
  echo "ssconvert        not installed: no figure"
fi
echo "split: 200,000 rows into workbooks of 20,000 data rows"
measure "plinthwick     " "$bin" split "$dir/big.xlsx" 20000
measure "openpyxl stream" "$py" bench/peers/openpyxl_split.py "$dir/big.xlsx" 20000
echo "split: 1,000,000 rows into workbooks of 100,000 data rows"
measure "plinthwick     " "$bin" split "$dir/huge.xlsx" 100000
measure "openpyxl stream" "$py" bench/peers/openpyxl_split.py "$dir/huge.xlsx" 100000
echo "where the time goes (200,000 rows x 10 columns):"
"$bin" parts "$dir/big.xlsx"
