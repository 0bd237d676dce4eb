#!/usr/bin/env bash
# Installs what is missing (scripts/setup.sh test), then builds every target
# with its tests: build/win32 (TAVKO.SPI, TAVKOWIC.dll and their Windows
# programs), build/win64 (TAVKO.SPH and the same) and build/native.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh test
jobs=$(nproc 2>/dev/null || echo 2)
# The main job's build of native leaves out the tests and the desktop.
cmake --preset native -DBUILD_TESTING=ON -DTAVKO_DESKTOP=ON -DTAVKO_WEB=ON >/dev/null
for preset in win32 win64 native; do
  [ $preset = native ] || cmake --preset $preset >/dev/null
  cmake --build --preset $preset -j"$jobs"
done
echo "built: build/win32/TAVKO.SPI, build/win64/TAVKO.SPH and build/native"
