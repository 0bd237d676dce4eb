#!/usr/bin/env bash
# Installs what is missing, then builds both targets:
#   build/win32/TAVKO.SPI (and the Windows programs) and build/native.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/win32 -j"$jobs"
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j"$jobs"
echo "built: build/win32/TAVKO.SPI and build/native"
