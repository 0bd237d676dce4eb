#!/usr/bin/env bash
# The options in Wine's real registry: each setting is checked by a fresh
# process, as a viewer does when it is started again (one process reads a
# setting's pictures together: each start costs seconds under emulation).
# wine-registry.sh WIN32_DIR SAMPLES_DIR OUT_DIR
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
unset DISPLAY
win32=$1 samples=$2 out=$3
need_wine_for "$win32/tavko.exe"
rm -rf "$out"; mkdir -p "$out"
key='HKCU\Software\Qe.\tavko'
card16=$(winpath "$samples/card16.qvx") card32=$(winpath "$samples/card32.qvx")
fail() { echo "FAIL: $*"; exit 1; }
tavko() { wine "$win32/tavko.exe" "$@" | tr -d '\r'; }
# the depths card16 and card32 are delivered in
depths() { tavko info "$card16" "$card32" | sed -n 's/.*delivered as \([0-9]*\) bits.*/\1/p' | paste -sd' '; }
# bits, compression and the three masks of a BMP written by tavko decode
header() { od -An -tu2 -j28 -N2 "$1" | tr -d ' '; od -An -tx4 -j30 -N4 "$1" | tr -d ' ';
           od -An -tx4 -j54 -N12 "$1" | tr -s ' ' | sed 's/^ //'; }
checks=0
expect() { [ "$1" = "$2" ] || fail "$3: got '$1', want '$2'"; checks=$((checks + 1)); }

wine reg delete "$key" /f >/dev/null 2>&1 || true
expect "$(depths)" "24 24" "first load, no settings"
wine reg query "$key" >"$out/first.txt" 2>&1 || fail "the key was not created at first load"
expect "$(tr -d '\r' <"$out/first.txt" | grep -c REG_ || true)" "0" "values written at first load"

for stored in 1 5; do
  wine reg add "$key" /v 32 /t REG_DWORD /d $stored /f >/dev/null
  expect "$(depths)" "24 32" "\"32\"=$stored"
  tavko decode "$card32" "$(winpath "$out")/kept32.bmp"
  expect "$(header "$out/kept32.bmp" | tr '\n' ' ')" "32 00000003 00ff0000 0000ff00 000000ff " "32-bit bit-field bitmap"
done

wine reg add "$key" /v 16 /t REG_DWORD /d 1 /f >/dev/null
wine reg add "$key" /v 32 /t REG_DWORD /d 0 /f >/dev/null
expect "$(depths)" "16 24" "\"16\"=1"
tavko decode "$card16" "$(winpath "$out")/kept16.bmp"
expect "$(header "$out/kept16.bmp" | tr '\n' ' ')" "16 00000003 00007c00 000003e0 0000001f " "16-bit bit-field bitmap"

# The MMX path gives the same bitmaps as the byte path.
wine reg add "$key" /v 16 /t REG_DWORD /d 0 /f >/dev/null
for mmx in 0 1; do
  wine reg add "$key" /v MMX /t REG_DWORD /d $mmx /f >/dev/null
  tavko decode "$(winpath "$samples/card8.qvx")" "$(winpath "$samples/card24.qvx")" "$(winpath "$samples/card2.qvx")" \
    -d "$(winpath "$out")/mmx$mmx" --format bmp >/dev/null
done
for name in card8 card24 card2; do cmp "$out/mmx0/$name.bmp" "$out/mmx1/$name.bmp"; checks=$((checks + 1)); done
wine reg delete "$key" /f >/dev/null
echo "$checks registry checks passed"
