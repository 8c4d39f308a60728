#!/usr/bin/env bash
# Installs what is needed, builds, and opens the Plinthwick window.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
exec build/app/plinthwick "$@"
