#!/usr/bin/env bash
# Runs the decoding benchmarks of both builds and prints their tables of
# ratios: bench/run.sh [OUT_DIR]
# Linux: build/native/tavko_bench (Google Benchmark, five repetitions).
# Windows: build/win32/tavko_bench.exe against the real TAVKO.SPI and
# build/win64/tavko_bench.exe against TAVKO.SPH, under Wine, each once with
# the options clear and once with "16" and "32" stored.
# Run it on a quiet machine: the ratios compare times taken in one run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build/bench}
mkdir -p "$out"
bash "$root/scripts/build.sh" >/dev/null
"$root/build/native/tavko_bench" --benchmark_color=false >"$out/linux.txt"
export TAVKO_WINEPREFIX="$root/build/wineprefix-bench"
source "$root/tests/scripts/wine-env.sh"
unset DISPLAY
# A prefix made before wine64 was installed cannot run 64-bit programs.
[ -d "$WINEPREFIX/drive_c/windows/syswow64" ] || bash "$root/tests/scripts/wine-prefix.sh" >/dev/null
key='HKCU\Software\Qe.\tavko'
builds=""
for bits in 32 64; do
  if ! wine_runs "$root/build/win$bits/tavko_bench.exe"; then
    echo "win$bits: this machine runs no 32-bit programs; its table is left out" >&2
    continue
  fi
  builds="$builds $bits"
  wine reg delete "$key" /f >/dev/null 2>&1 || true
  wine "$root/build/win$bits/tavko_bench.exe" | tr -d '\r' >"$out/windows$bits-clear.txt"
  wine reg add "$key" /v 16 /t REG_DWORD /d 1 /f >/dev/null
  wine reg add "$key" /v 32 /t REG_DWORD /d 1 /f >/dev/null
  wine "$root/build/win$bits/tavko_bench.exe" | tr -d '\r' >"$out/windows$bits-kept.txt"
done
wine reg delete "$key" /f >/dev/null 2>&1 || true
sed -n '/^Ratios/,$p' "$out/linux.txt"
for bits in $builds; do
  for run in clear kept; do sed -n '/^Ratios/,$p' "$out/windows$bits-$run.txt"; done
done
