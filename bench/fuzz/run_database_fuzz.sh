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
src=(platform/database/*.cpp platform/errors.cpp platform/textcodec.cpp bench/fuzz/database_fuzz.cpp)
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. \
  $(pkg-config --cflags libmdb) "${src[@]}" $(pkg-config --libs libmdb) -o "$out/database_fuzz"
for f in ../shared/fixtures/mdb/*.mdb ../shared/fixtures/mdb/*.accdb; do
  [ -f "$f" ] && [ "$(stat -c %s "$f")" -le 150000 ] && cp -f "$f" "$out/corpus/" || true
done
# Runs one process (-jobs 1): the machine is shared.
"$out/database_fuzz" "$out/corpus" -max_total_time="$seconds" -max_len=150000 \
  -timeout=60 -rss_limit_mb=2048 -detect_leaks=0 -artifact_prefix="$out/crashes/" -print_final_stats=1
