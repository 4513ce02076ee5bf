#!/usr/bin/env bash
# Installs what the build needs (only what is missing) and builds the program
# and its tests into build/. Safe to run again: nothing is reinstalled and the
# build is incremental.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo_if_needed() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

mapfile -t packages < <(grep -v '^\s*#' scripts/packages.txt | grep -v '^\s*$')
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_if_needed apt-get update
  sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi

# The benchmarks and the fuzz targets are built too (not run), so that a change
# that breaks them shows here.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLANZHOU_BUILD_BENCH=ON \
  -DLANZHOU_BUILD_FUZZ=ON "$@" >/dev/null
cmake --build build -j"$(nproc)"
