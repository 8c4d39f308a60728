#!/usr/bin/env bash
# Installs every Debian package Plinthwick needs to build, run and test.
# The lists live in scripts/deps/*.txt, one package per line, '#' starts a comment.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

mapfile -t packages < <(cat "$here"/deps/*.txt | sed -e 's/#.*//' -e 's/[[:space:]]//g' | grep -v '^$' | sort -u)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
echo "Installing: ${missing[*]}" >&2
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
