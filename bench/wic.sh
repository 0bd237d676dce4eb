#!/usr/bin/env bash
# The QVX codec's benchmark under Wine: CopyPixels of a whole 4096 x 4096
# 24-bit picture from a file, through TAVKOWIC.dll and through WIC's own BMP
# decoder, alternating in one run, in a Wine prefix of its own where the
# 64-bit codec is registered for the run.
#   bench/wic.sh [RUNS]    (table in build/bench/wic.txt; exit 1 over 1.0x)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$root/build/bench"
[ -f "$root/build/win64/CMakeCache.txt" ] || (cd "$root" && cmake --preset win64 >/dev/null)
cmake --build "$root/build/win64" -j2 --target tavko_wic tavko_wic_bench >/dev/null
export TAVKO_WINEPREFIX="$root/build/bench/wineprefix"
source "$root/tests/scripts/wine-env.sh"
unset DISPLAY
[ -f "$WINEPREFIX/system.reg" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; }
dll=$(winpath "$root/build/win64/TAVKOWIC.dll")
wine regsvr32 /s "$dll"
status=0
wine "$root/build/win64/tavko_wic_bench.exe" "${1:-15}" --limit 1.0 | tr -d '\r' | tee "$root/build/bench/wic.txt" ||
  status=$?
wine regsvr32 /s /u "$dll"
exit $status
