#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test.
# Usage: scripts/test.sh [--sanitize]   (--sanitize: address and undefined-behaviour build)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh "$@"
dir=build
[ "${1:-}" = "--sanitize" ] && dir=build-asan
# A second reader for the database tests (skipped by them when absent).
if command -v npm >/dev/null 2>&1; then
  npm ci --prefix tests/database/node --no-audit --no-fund --loglevel=error >/dev/null ||
    echo "npm ci failed: database tests skip the mdb-reader comparison" >&2
fi
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0
export UBSAN_OPTIONS=print_stacktrace=1
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --timeout 900
