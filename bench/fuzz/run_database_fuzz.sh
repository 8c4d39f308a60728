#!/usr/bin/env bash
# Fuzzes the database reader, checker and writer's open path with libFuzzer.
# Usage: bench/fuzz/run_database_fuzz.sh [seconds]   (default 300)
# Seeds: small databases from ../shared/fixtures/mdb when present, and what
# build-fuzz/corpus already holds. Crashes land in build-fuzz/crashes/. A file
# that sends libmdb into a loop ends in an error after 15 s of silence from
# the reading process, within the timeout given here.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds="${1:-300}"
out=build-fuzz
mkdir -p "$out/corpus" "$out/crashes"
lib=(platform/database/{jet_bytes,jet_layout,jet_check,jet_writer,engine,mdb_file}.cpp
     platform/errors.cpp platform/textcodec.cpp)
# The reading program libmdb runs in; what it does with a damaged file stays in it.
clang++ -std=c++20 -g -O1 -I. -DPW_MDB_READER='""' $(pkg-config --cflags libmdb) \
  platform/database/mdb_reader_main.cpp "${lib[@]}" $(pkg-config --libs libmdb) -o "$out/plinthwick-mdb-reader"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. \
  -DPW_MDB_READER="\"$PWD/$out/plinthwick-mdb-reader\"" $(pkg-config --cflags libmdb) \
  "${lib[@]}" bench/fuzz/database_fuzz.cpp $(pkg-config --libs libmdb) -o "$out/database_fuzz"
for f in ../shared/fixtures/mdb/*.mdb ../shared/fixtures/mdb/*.accdb; do
  [ -f "$f" ] && [ "$(stat -c %s "$f")" -le 150000 ] && cp -f "$f" "$out/corpus/" || true
done
# Runs one process (-jobs 1): the machine is shared.
"$out/database_fuzz" "$out/corpus" -max_total_time="$seconds" -max_len=150000 \
  -timeout=60 -rss_limit_mb=2048 -detect_leaks=0 -artifact_prefix="$out/crashes/" -print_final_stats=1
