#!/usr/bin/env bash
# tavko.exe under Wine (loading the real TAVKO.SPI) and the Linux tavko give
# byte-identical BMP files and pixel-identical PNG files for the samples.
# tool-wine-match.sh NATIVE_TAVKO WIN32_DIR SAMPLES_DIR OUT_DIR
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
unset DISPLAY
native=$1 win32=$2 samples=$3 out=$4
rm -rf "$out"; mkdir -p "$out"
count=0
for qvx in "$samples"/*.qvx; do
  name=$(basename "$qvx" .qvx)
  "$native" decode "$qvx" "$out/$name-linux.bmp"
  "$native" decode "$qvx" "$out/$name-linux.png"
  wine "$win32/tavko.exe" decode "$(winpath "$qvx")" "$(winpath "$out")/$name-windows.bmp"
  wine "$win32/tavko.exe" decode "$(winpath "$qvx")" "$(winpath "$out")/$name-windows.png"
  cmp "$out/$name-linux.bmp" "$out/$name-windows.bmp"
  diff_pixels=$(compare -metric AE "$out/$name-linux.png" "$out/$name-windows.png" null: 2>&1 || true)
  [ "$diff_pixels" = "0" ] || { echo "$name: PNG pixels differ ($diff_pixels)"; exit 1; }
  count=$((count + 1))
done
# The Windows build refuses the in-memory options and says why.
if wine "$win32/tavko.exe" decode "$(winpath "$samples/card16.qvx")" x.bmp --keep16 2>"$out/err"; then
  echo "--keep16 was taken on Windows"; exit 1
fi
grep -q "configuration dialog" "$out/err"
wine "$win32/tavko.exe" --version | tr -d '\r' | grep -qx "interface: 00IN"
echo "$count samples decode alike in both builds"
test "$count" -ge 5
