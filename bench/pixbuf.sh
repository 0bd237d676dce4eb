#!/usr/bin/env bash
# The gdk-pixbuf loader's benchmark: 4096 x 4096 pictures of 24 and 8 bits
# loaded as QVX through the QVX loader and as BMP through gdk-pixbuf's BMP
# loader, whole and in 64 KiB pieces, with the peak memory of each.
#   bench/pixbuf.sh [RUNS]    (table in build/bench/pixbuf.txt; exit 1 when a target is missed)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$root/build/bench"
cmake -S "$root" -B "$root/build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build/native" -j2 --target tavko_pixbuf_bench pixbuf_cache >/dev/null
"$root/build/native/tavko_pixbuf_bench" "${1:-15}" --check | tee "$root/build/bench/pixbuf.txt"
