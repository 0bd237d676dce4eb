#!/usr/bin/env bash
# The Windows installer in the tests' Wine prefix: a silent install into
# the default folder, the WIC client opening QVX pictures with no other
# registration, and a silent uninstall that leaves no file and no key.
# wic-installer.sh SETUP_EXE WIN64_DIR SAMPLES_DIR OUT_DIR
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
run_where_32bit_runs || true
unset DISPLAY
setup=$1 win64=$2 samples=$3 out=$4
rm -rf "$out"; mkdir -p "$out"
fail() { echo "FAIL: $*"; exit 1; }
checks=0
expect() { [ "$1" = "$2" ] || fail "$3: got '$1', want '$2'"; checks=$((checks + 1)); }
folder="$WINEPREFIX/drive_c/Program Files/TAVKO"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\TAVKO'
snapshot() {
  wine reg export 'HKLM\Software' "$(winpath "$out")/$1.reg" /y /reg:64 >/dev/null
  iconv -f UTF-16 -t UTF-8 "$out/$1.reg" | tr -d '\r' >"$out/$1-registry.txt"
  (cd "$WINEPREFIX/drive_c" && find . -path '*/Temp' -prune -o -path './windows/temp' -prune -o -print | sort) \
    >"$out/$1-files.txt"
}

snapshot before
# Without 32-bit programs the 32-bit codec cannot be registered, and the
# installer must say so in its exit code.
want=0; [ "$TAVKO_WINE32" = 1 ] || want=2
status=0; wine "$setup" /S || status=$?
wineserver -w
expect "$status" "$want" "installer exit code"
for file in TAVKO.SPI TAVKO.SPH tavko.exe tavko64.exe TAVKOWIC32.dll TAVKOWIC64.dll README.txt LICENSE.txt uninstall.exe; do
  [ -f "$folder/$file" ] || fail "$file not installed"
  checks=$((checks + 1))
done
# The 64-bit view, whichever loader "wine" starts reg.exe with.
expect "$(wine reg query "$key" /v QuietUninstallString /reg:64 | tr -d '\r' | sed -n 's/.*REG_SZ *//p')" \
  '"C:\Program Files\TAVKO\uninstall.exe" /S' "Apps & Features entry"
TAVKO_SPI='C:\Program Files\TAVKO\TAVKO.SPH' wine "$win64/tavko_wic_tests.exe" --gtest_brief=1 || fail "WIC client"
wine "$folder/tavko64.exe" encode "$(winpath "$samples/card4.qvx")" "$(winpath "$out/card4.qvx")" ||
  fail "the installed tavko64.exe reads QVX through WIC"
checks=$((checks + 2))

wine "$folder/uninstall.exe" /S || fail "uninstaller"
wineserver -w  # the uninstaller finishes from a copy of itself
snapshot after
diff "$out/before-registry.txt" "$out/after-registry.txt" >"$out/registry.diff" || fail "keys left: $out/registry.diff"
diff "$out/before-files.txt" "$out/after-files.txt" >"$out/files.diff" || fail "files left: $out/files.diff"
checks=$((checks + 2))
echo "$checks installer checks passed"
