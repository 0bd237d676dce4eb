#!/usr/bin/env bash
# The gdk-pixbuf loader's benchmark: a 4096 x 4096 24-bit picture loaded as
# QVX through the QVX loader and as BMP through gdk-pixbuf's BMP loader.
#   bench/pixbuf.sh [RUNS]    (table in build/bench/pixbuf.txt; exit 1 over 1.5x)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$root/build/bench"
cmake -S "$root" -B "$root/build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build/native" -j2 --target tavko_pixbuf_bench pixbuf_cache >/dev/null
"$root/build/native/tavko_pixbuf_bench" "${1:-15}" --check | tee "$root/build/bench/pixbuf.txt"
