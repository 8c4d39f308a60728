#!/usr/bin/env bash
# Configures and builds. Usage: scripts/build.sh [--sanitize] [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
sanitize=OFF
if [ "${1:-}" = "--sanitize" ]; then sanitize=ON; shift; fi
dir="${1:-build}"
[ "$sanitize" = ON ] && [ -z "${1:-}" ] && dir=build-asan
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPW_SANITIZE="$sanitize" >/dev/null
cmake --build "$dir" -j "$(nproc)"
