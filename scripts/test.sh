#!/usr/bin/env bash
# Builds everything and runs every test: the Linux unit tests and the tests
# of the real TAVKO.SPI under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh"
jobs=$(nproc 2>/dev/null || echo 2)
# The sanitizer builds whose unit tests the test run includes.
cd "$root"
for preset in asan tsan; do
  cmake --preset $preset >/dev/null
  cmake --build --preset $preset -j"$jobs"
done
cd "$root/build/native"
ctest --output-on-failure -j"$(nproc 2>/dev/null || echo 2)" "$@"
