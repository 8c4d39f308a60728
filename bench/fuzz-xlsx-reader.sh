#!/usr/bin/env bash
# Fuzzes the .xlsx reader with libFuzzer under the address and
# undefined-behaviour sanitizers. Usage: bench/fuzz-xlsx-reader.sh [seconds]
# With PW_FUZZ_WRITE=1 in the environment every workbook read is also
# written and read back (slower; finds faults of the writer).
# Seeds: the workbooks of ../shared/fixtures/xlsx when present, plus the
# small workbooks the tests write. Crashes land in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-300}"
out=build-fuzz
mkdir -p "$out/corpus"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I. \
  bench/fuzz/xlsx_reader_fuzz.cpp platform/spreadsheet/workbook.cpp platform/spreadsheet/formula.cpp \
  platform/spreadsheet/xlsx_reader.cpp platform/spreadsheet/xlsx_writer.cpp \
  platform/spreadsheet/xml_scan.cpp platform/spreadsheet/zip_entry.cpp platform/errors.cpp \
  platform/output_file.cpp platform/textcodec.cpp platform/translate.cpp \
  $(pkg-config --cflags --libs libzip expat xlsxwriter) -lisal -o "$out/xlsx_reader_fuzz"
if [ -d ../shared/fixtures/xlsx ]; then cp -n ../shared/fixtures/xlsx/*.xlsx "$out/corpus/" 2>/dev/null || true; fi
# Stored (uncompressed) copies let mutations reach the XML instead of the deflate stream.
if command -v zip >/dev/null && command -v unzip >/dev/null; then
  for f in "$out"/corpus/*.xlsx; do
    case "$f" in *.stored.xlsx) continue ;; esac
    stored="${f%.xlsx}.stored.xlsx"
    [ -e "$stored" ] && continue
    tmp=$(mktemp -d)
    (cd "$tmp" && unzip -q "$OLDPWD/$f" && zip -q -0 -r "$OLDPWD/$stored" .) || true
    rm -rf "$tmp"
  done
fi
cd "$out"
ASAN_OPTIONS=detect_leaks=1 ./xlsx_reader_fuzz -max_total_time="$seconds" -rss_limit_mb=2048 \
  -timeout=20 -max_len=400000 -print_final_stats=1 corpus
