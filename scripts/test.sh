#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test.
# Usage: scripts/test.sh [--sanitize]   (--sanitize: address and undefined-behaviour build)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh "$@"
dir=build
[ "${1:-}" = "--sanitize" ] && dir=build-asan
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0
export UBSAN_OPTIONS=print_stacktrace=1
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --timeout 900
