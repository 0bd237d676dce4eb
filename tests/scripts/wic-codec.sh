#!/usr/bin/env bash
# The QVX codec of one bitness in the imaging component: registered with
# Wine's real regsvr32, its keys checked, the WIC client test and a WIC
# program run, and after unregistering the registry as it was before. The
# 32-bit codec's test also unregisters it beside the 64-bit one; the 64-bit
# one's, registrations shared with another copy or another program.
# wic-codec.sh BITS WIN32_DIR WIN64_DIR SAMPLES_DIR OUT_DIR
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
bits=$1 win32=$2 win64=$3 samples=$4 out=$5
[ "$bits" = 64 ] || need_wine_for "$win32/TAVKOWIC.dll"
unset DISPLAY
rm -rf "$out"; mkdir -p "$out"
fail() { echo "FAIL: $*"; exit 1; }
checks=0
clsid='{77230C5A-8A0D-49F3-A6B1-F977416E7BFF}'
dir() { if [ "$1" = 64 ]; then echo "$win64"; else echo "$win32"; fi; }
regsvr() { # BITS [/u]
  local exe=regsvr32; [ "$1" = 32 ] && exe='C:\windows\syswow64\regsvr32.exe'
  wine "$exe" /s ${2:-} "$(winpath "$(dir "$1")/TAVKOWIC.dll")" || fail "regsvr32 $1 ${2:-}"
}
query() { wine reg query "$@" 2>/dev/null | tr -d '\r'; }
# value KEY NAME VIEW: the data of one value ("" when absent)
value() {
  local which=(/ve); [ -n "$2" ] && which=(/v "$2")
  query "$1" "${which[@]}" /reg:"$3" | sed -n 's/^ *[^ ].*REG_[A-Z_]* *//p' | head -1
}
expect() { [ "$1" = "$2" ] || fail "$3: got '$1', want '$2'"; checks=$((checks + 1)); }
snapshot() { software_registry "$out/$1.txt"; }
# same A B WHAT: the snapshots A and B are the same.
same() { diff "$out/$1.txt" "$out/$2.txt" >"$out/$2.diff" || fail "$3: $out/$2.diff"; checks=$((checks + 1)); }

snapshot before
regsvr "$bits"
key="HKLM\\Software\\Classes\\CLSID\\$clsid"
# The class key and its subkeys, read by one process; class_value SUBKEY
# [NAME]: one value there (SUBKEY "" is the class key itself; without
# NAME, the default value).
query "$key" /s /reg:"$bits" >"$out/class.txt"
class_value() {
  WANT="$clsid${1:+\\$1}" NAME="${2:-(Default)}" awk '
    /^HKEY_/ { l = tolower($0); w = tolower(ENVIRON["WANT"]); here = substr(l, length(l) - length(w) + 1) == w; next }
    here && $1 == ENVIRON["NAME"] { sub(/^ *[^ ]+ +REG_[A-Z_]+ */, ""); print; exit }' "$out/class.txt"
}
expect "$(class_value "" MimeTypes)" "image/x-qvx" "MimeTypes"
expect "$(class_value "" FileExtensions)" ".qvx" "FileExtensions"
expect "$(class_value InprocServer32 ThreadingModel)" "Both" "threading model"
expect "$(class_value InprocServer32)" "$(winpath "$(dir "$bits")/TAVKOWIC.dll" | tr / '\\')" "server"
expect "$(class_value 'Patterns\0' Pattern) $(class_value 'Patterns\0' Mask)" "BDB2 FFFF" "pattern"
expect "$(grep -ci '^HKEY.*Formats\\{' "$out/class.txt")" 4 "pixel formats"
expect "$(value "HKLM\\Software\\Classes\\CLSID\\{7ED96837-96F0-4812-B211-F13C24117ED3}\\Instance\\$clsid" CLSID "$bits")" \
  "$clsid" "decoder category"
expect "$(value 'HKLM\Software\Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers\.qvx' "" "$bits")" \
  "{a38b883c-1682-497e-97b0-0a3a9e801682}" "property handler"
expect "$(value 'HKCR\.qvx' 'Content Type' 64) $(value 'HKCR\.qvx' PerceivedType 64)" "image/x-qvx image" "extension"
expect "$(value 'HKCR\.qvx\ShellEx\{e357fccd-a995-4576-b01f-234630154e96}' "" 64)" \
  "{C7657C4A-9F68-40fa-A4DF-96BC08EB3551}" "thumbnail provider"

# The client also registers a copy of the codec in a way that fails
# part-way (FailedRegistrationKeepsTheOneBefore): the registry must be left
# exactly as it was.
snapshot registered
module=TAVKO.SPH; [ "$bits" = 32 ] && module=TAVKO.SPI
TAVKO_SPI="$(winpath "$(dir "$bits")/$module")" wine "$(dir "$bits")/tavko_wic_tests.exe" --gtest_brief=1 ||
  fail "WIC client"
checks=$((checks + 1))
snapshot registered-again
same registered registered-again "a failed registration changed the one before it"

# A WIC program: tavko.exe encode reads a QVX through the codec, and the
# QVX it writes shows the same pixels.
pixels() { convert "$1" -depth 8 rgb:- | md5sum; }
tool="$(dir "$bits")/tavko.exe" encoded=() originals=()
mkdir -p "$out"/{encoded,a,b}
for sample in "$samples"/*.qvx; do
  name=$(basename "$sample")
  originals+=("$(winpath "$sample")") encoded+=("$(winpath "$out/encoded/$name")")
  wine "$tool" encode "${originals[-1]}" "${encoded[-1]}" || fail "encode $name"
done
wine "$tool" decode "${originals[@]}" -d "$(winpath "$out/a")" --format bmp >/dev/null
wine "$tool" decode "${encoded[@]}" -d "$(winpath "$out/b")" --format bmp >/dev/null
for a in "$out"/a/*.bmp; do
  expect "$(pixels "$out/b/$(basename "$a")")" "$(pixels "$a")" "$(basename "$a" .bmp) through WIC"
done

# Every input read through WIC is weighed by its frame's size before its
# pixels are decoded.
for format in gif jpg tif; do convert -size 160x120 xc:teal "$out/large.$format"; done
for input in "$out"/large.{gif,jpg,tif} "$samples/card8.qvx"; do
  wine "$tool" encode --max-pixels 100 "$(winpath "$input")" "$(winpath "$out/limited.qvx")" \
    2>"$out/limited.txt" && fail "encode of $(basename "$input") over --max-pixels"
  grep -q 'pixels, more than the limit of 100 ' "$out/limited.txt" ||
    fail "encode of $(basename "$input") over --max-pixels: $(cat "$out/limited.txt")"
  checks=$((checks + 1))
done

# Unregistering the 32-bit codec leaves the extension to the 64-bit one.
if [ "$bits" = 32 ]; then
  regsvr 64
  regsvr 32 /u
  expect "$(value 'HKCR\.qvx' 'Content Type' 64)" "image/x-qvx" "extension kept for the 64-bit codec"
  wine reg query "$key" /reg:32 >/dev/null 2>&1 && fail "32-bit class left"
  checks=$((checks + 1))
fi
regsvr 64 /u
wine "$tool" encode "$(winpath "$samples/card8.qvx")" "$(winpath "$out")/none.qvx" 2>"$out/none.txt" &&
  fail "a QVX read through WIC with no codec registered"
expect "$(tr -d '\r' <"$out/none.txt")" "tavko: $(winpath "$samples/card8.qvx"): cannot be stored as QVX: not a picture the system can read" \
  "no codec"
snapshot after
same before after "keys left after unregistering"
if [ "$bits" = 32 ]; then
  echo "$checks codec checks passed"
  exit 0
fi

# Registrations that are not this copy's alone: another copy's, one that a
# failed registration finds, and another program's values. Each compared
# whole, as Wine keeps the registry.
regsvr_at() { wine regsvr32 /s ${2:-} "$(winpath "$1")"; }
copy="$out/copy/TAVKOWIC.dll"
mkdir -p "$(dirname "$copy")"
cp "$win64/TAVKOWIC.dll" "$copy"
regsvr 64
regsvr_at "$copy" || fail "regsvr32 of a copy"
snapshot copy
regsvr 64 /u
snapshot copy-unregistered
same copy copy-unregistered "unregistering one copy changed the other's registration"
wine "$win64/tavko.exe" encode "$(winpath "$samples/card8.qvx")" "$(winpath "$out/copy.qvx")" ||
  fail "a QVX read through the copy left registered"
regsvr_at "$copy" /u || fail "regsvr32 /u of the copy"
snapshot copy-gone
same after copy-gone "keys left after unregistering the copy"
# Another program's .qvx values and an empty handlers key: kept as they
# are, by a registration and by unregistering with nothing registered.
handlers='HKLM\Software\Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers'
query "$handlers" /reg:64 >/dev/null && fail "the prefix already has property handlers"
wine reg add 'HKLM\Software\Classes\.qvx' /v 'Content Type' /d text/x-other /f /reg:64 >/dev/null
wine reg add 'HKLM\Software\Classes\.qvx' /v PerceivedType /d text /f /reg:64 >/dev/null
wine reg add "$handlers" /f /reg:64 >/dev/null
snapshot foreign
regsvr 64 /u
snapshot foreign-unregistered
same foreign foreign-unregistered "unregistering with nothing registered changed the registry"
regsvr 64
expect "$(value 'HKCR\.qvx' 'Content Type' 64) $(value 'HKCR\.qvx' PerceivedType 64)" "text/x-other text" \
  "another program's values"
regsvr 64 /u
snapshot foreign-kept
same foreign foreign-kept "registering and unregistering changed another program's keys"
wine reg delete 'HKLM\Software\Classes\.qvx' /f /reg:64 >/dev/null
wine reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\PropertySystem' /f /reg:64 >/dev/null
snapshot clean
same after clean "the test's own keys left"
echo "$checks codec checks passed"
