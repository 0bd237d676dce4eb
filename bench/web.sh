#!/usr/bin/env bash
# The WebAssembly decoder's speed in Node and in Chromium, as ratios against
# baselines measured in the same run: bench/web.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/native}
cmake --build "$build" --target web web_bench_native >/dev/null
node "$root/bench/web.mjs" "$build/web/package" "$build/web_bench_native"
