#!/usr/bin/env bash
# Installs what is missing, then builds both targets:
#   build/win32/TAVKO.SPI, build/win64/TAVKO.SPH (each with its Windows
#   programs) and build/native.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)
for preset in win32 win64 native; do
  cmake --preset $preset >/dev/null
  cmake --build --preset $preset -j"$jobs"
done
echo "built: build/win32/TAVKO.SPI, build/win64/TAVKO.SPH and build/native"
