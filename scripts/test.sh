#!/usr/bin/env bash
# Builds everything and runs every test: the Linux unit tests and the tests
# of the real TAVKO.SPI under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh"
jobs=$(nproc 2>/dev/null || echo 2)
# The sanitizer builds whose unit tests the test run includes.
cmake -S "$root" -B "$root/build/asan" -DTAVKO_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build/asan" -j"$jobs" --target tavko_unit_tests
cmake -S "$root" -B "$root/build/tsan" -DTAVKO_SANITIZE=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build/tsan" -j"$jobs" --target tavko_thread_tests
cd "$root/build/native"
ctest --output-on-failure -j"$(nproc 2>/dev/null || echo 2)" "$@"
