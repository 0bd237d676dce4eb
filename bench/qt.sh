#!/usr/bin/env bash
# The Qt plug-ins' benchmark: a 4096 x 4096 24-bit picture read through
# QImageReader as QVX through the QVX plug-in and as BMP through Qt's BMP
# reader, with Qt 5 and with Qt 6.
#   bench/qt.sh [RUNS]    (tables in build/bench/qt5.txt and qt6.txt; exit 1 over 0.6x)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$root/build/bench"
cmake -S "$root" -B "$root/build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
status=0
for q in 5 6; do
  cmake --build "$root/build/native" -j2 --target tavko_qt${q}_bench qvx_qt$q >/dev/null
  "$root/build/native/tavko_qt${q}_bench" "${1:-15}" --check | tee "$root/build/bench/qt$q.txt" || status=1
done
exit $status
