#!/usr/bin/env bash
# File names in Japanese, with accents and with an emoji: the 64-bit
# tavko.exe (TAVKO.SPH, wide entries) decodes them all, and the 32-bit one
# (TAVKO.SPI, ANSI entries) those the code page holds, failing cleanly on
# the others. tool-unicode.sh WIN32_DIR WIN64_DIR SAMPLES_DIR OUT_DIR
set -euo pipefail
# Wine takes Unix file names in the locale's character set.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
source "$(dirname "$0")/wine-env.sh"
unset DISPLAY
win32=$1 win64=$2 samples=$3 out=$4
rm -rf "$out"; mkdir -p "$out"
cp "$samples/card8.qvx" "$out/plain.qvx"
wine "$win64/tavko.exe" decode "$(winpath "$out/plain.qvx")" "$(winpath "$out/plain.png")"
checks=0
fail() { echo "FAIL: $*"; exit 1; }
# name, and whether the ANSI code page (1252 here) holds it
for entry in "写真の絵:no" "café crème:yes" "🖼 picture:no"; do
  name=${entry%:*} ansi=${entry##*:}
  cp "$samples/card8.qvx" "$out/$name.qvx"
  wine "$win64/tavko.exe" decode "$(winpath "$out/$name.qvx")" "$(winpath "$out/$name 64.png")" ||
    fail "64-bit: $name"
  cmp -s "$out/plain.png" "$out/$name 64.png" || fail "64-bit: $name decoded differently"
  wine "$win64/tavko.exe" info "$(winpath "$out/$name.qvx")" | grep "QVX picture, 160 x 120" >/dev/null || fail "64-bit info: $name"
  if ! wine_runs "$win32/tavko.exe"; then
    :  # 32-bit programs cannot run on this machine
  elif wine "$win32/tavko.exe" decode "$(winpath "$out/$name.qvx")" "$(winpath "$out/$name 32.png")" 2>"$out/err"; then
    [ "$ansi" = yes ] || fail "32-bit decoded a name its code page cannot hold: $name"
    cmp -s "$out/plain.png" "$out/$name 32.png" || fail "32-bit: $name decoded differently"
  else
    [ "$ansi" = no ] || fail "32-bit: $name ($(cat "$out/err"))"
    grep -q "cannot open or read the file" "$out/err" || fail "32-bit message: $(cat "$out/err")"
    [ ! -e "$out/$name 32.png" ] || fail "32-bit left an output for $name"
  fi
  checks=$((checks + 1))
done
wine_runs "$win32/tavko.exe" && echo "$checks names through both tools" ||
  echo "$checks names through the 64-bit tool (this machine cannot run the 32-bit one)"
