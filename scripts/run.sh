#!/usr/bin/env bash
# The main job: installs what it needs (scripts/setup.sh run), builds
# TAVKO.SPI, TAVKO.SPH with their tavko.exe and the Linux tavko, and decodes
# the bundled sample pictures:
#   - through the real TAVKO.SPI, loaded by tavko.exe under Wine as an image
#     viewer loads it: the plug-in's strings, what it reports for each
#     picture, and each picture as the BMP the plug-in delivers;
#   - through TAVKO.SPH, loaded by the 64-bit tavko.exe: the same BMPs,
#     checked byte for byte against the 32-bit module's;
#   - with the Linux tavko: each picture as a PNG.
# Pictures are written to out/ (or the folder given as the first argument).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh" run
jobs=$(nproc 2>/dev/null || echo 2)
# Only what the job runs: tavko and the two modules, no tests, no desktop.
cd "$root"
cmake --preset native -DBUILD_TESTING=OFF -DTAVKO_DESKTOP=OFF -DTAVKO_WEB=OFF >/dev/null
for preset in win32 win64 native; do
  [ $preset = native ] || cmake --preset $preset >/dev/null
  cmake --build --preset $preset --target tavko -j"$jobs" >/dev/null
done
echo "built: build/win32/TAVKO.SPI, build/win64/TAVKO.SPH, their tavko.exe and build/native/tavko"
out=$(mkdir -p "${1:-$root/out}" && cd "${1:-$root/out}" && pwd)
export TAVKO_WINEPREFIX="$root/build/wineprefix-run"
source "$root/tests/scripts/wine-env.sh"
unset DISPLAY
# The job's own prefix, made once. Where Wine's 32-bit side cannot start,
# the 64-bit loader makes a prefix for TAVKO.SPH alone.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "making the Wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  [ -f "$WINEPREFIX/system.reg" ] || { echo "run: Wine could not make its prefix in $WINEPREFIX" >&2; exit 1; }
fi

win() { wine "$root/build/win32/tavko.exe" "$@" | tr -d '\r'; }
samples=()
for qvx in "$root"/samples/*.qvx; do samples+=("$(winpath "$qvx")"); done
echo
if wine_runs "$root/build/win32/tavko.exe"; then
  echo "== TAVKO.SPI under Wine =="
  win --version
  win info "${samples[@]}" | sed 's|^Z:.*/||'
  for qvx in "$root"/samples/*.qvx; do
    win decode "$(winpath "$qvx")" "$(winpath "$out")/$(basename "$qvx" .qvx).bmp"
  done
else
  echo "== TAVKO.SPI: this machine runs no 32-bit x86 programs, so Wine cannot load it here (scripts/test.sh tests it in an emulated machine) =="
fi
for qvx in "$root"/samples/*.qvx; do
  "$root/build/native/tavko" decode "$qvx" "$out/$(basename "$qvx" .qvx).png"
done
echo
echo "== TAVKO.SPH under Wine (64-bit) =="
wine "$root/build/win64/tavko.exe" --version | tr -d '\r' | head -2
if wine_runs "$root/build/win32/tavko.exe"; then
  mkdir -p "$out/64"
  wine "$root/build/win64/tavko.exe" decode -q "${samples[@]}" -d "$(winpath "$out")/64" --format bmp
  for bmp in "$out"/64/*.bmp; do cmp "$bmp" "$out/$(basename "$bmp")"; done
  echo "$(ls "$out"/64/*.bmp | wc -l) pictures delivered byte for byte as by TAVKO.SPI"
  rm -rf "$out/64"
else
  wine "$root/build/win64/tavko.exe" info "${samples[@]}" | tr -d '\r' | sed 's|^Z:.*/||'
  wine "$root/build/win64/tavko.exe" decode -q "${samples[@]}" -d "$(winpath "$out")" --format bmp
fi
echo
echo "== decoded pictures in $out =="
ls "$out"
