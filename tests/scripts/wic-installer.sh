#!/usr/bin/env bash
# The Windows installer in the tests' Wine prefix: a silent install into
# the default folder, the WIC client opening QVX pictures with no other
# registration; a second install elsewhere that the first folder's
# uninstaller leaves working; an upgrade that finds that folder; an
# uninstaller that keeps everything when a codec cannot be unregistered;
# an upgrade and an uninstall while a program holds the codec; and at the
# end no file and no key left.
# wic-installer.sh SETUP_EXE WIN64_DIR SAMPLES_DIR OUT_DIR
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
run_where_32bit_runs || true
unset DISPLAY
setup=$1 win64=$2 samples=$3 out=$4
stage="$(dirname "$setup")/$(basename "$setup" -setup.exe)-windows"
rm -rf "$out"; mkdir -p "$out"
fail() { echo "FAIL: $*"; exit 1; }
checks=0
expect() { [ "$1" = "$2" ] || fail "$3: got '$1', want '$2'"; checks=$((checks + 1)); }
folder="$WINEPREFIX/drive_c/Program Files/TAVKO"
other="$WINEPREFIX/drive_c/Other"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\TAVKO'
server='HKLM\Software\Classes\CLSID\{77230C5A-8A0D-49F3-A6B1-F977416E7BFF}\InprocServer32'
snapshot() {
  software_registry "$out/$1-registry.txt"
  (cd "$WINEPREFIX/drive_c" && find . -path '*/Temp' -prune -o -path './windows/temp' -prune -o -print | sort) \
    >"$out/$1-files.txt"
}
# The 64-bit view, whichever loader "wine" starts reg.exe with.
value() { # KEY [NAME]: the data of a value, or of the default one ("" when absent)
  local which=(/ve); [ -n "${2:-}" ] && which=(/v "$2")
  wine reg query "$1" "${which[@]}" /reg:64 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_[A-Z_]* *//p'
}
# install [/D=FOLDER]: the installer's exit code. While a program holds the
# codec, wineserver -w would wait for it as well: the installer is waited
# for alone then.
holders=()
install() {
  local status=0
  wine "$setup" /S "$@" >&2 || status=$?
  [ ${#holders[@]} -gt 0 ] || wineserver -w
  echo "$status"
}

snapshot before
# Without 32-bit programs the 32-bit codec cannot be registered, and the
# installer must say so in its exit code.
# That code comes before 3010 (a file replaced at the restart), which a
# Unix exit code carries as 3010 % 256.
want=0 restart_code=$((3010 % 256))
[ "$TAVKO_WINE32" = 1 ] || want=2 restart_code=2
expect "$(install)" "$want" "installer exit code"
for file in TAVKO.SPI TAVKO.SPH tavko.exe tavko64.exe TAVKOWIC32.dll TAVKOWIC64.dll README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt uninstall.exe; do
  [ -f "$folder/$file" ] || fail "$file not installed"
  checks=$((checks + 1))
done
expect "$(value "$key" QuietUninstallString)" '"C:\Program Files\TAVKO\uninstall.exe" /S' "Apps & Features entry"
expect "$(value "$key" EstimatedSize)" "$(printf '0x%x' $(($(cat "$folder"/* | wc -c) / 1024)))" "estimated size"
for command in tavko.exe tavko64.exe; do
  expect "$(x86_64-w64-mingw32-nm "$folder/$command" 2>&1 | sed 's/.*: //')" "no symbols" "$command stripped"
done
TAVKO_SPI='C:\Program Files\TAVKO\TAVKO.SPH' wine "$win64/tavko_wic_tests.exe" --gtest_brief=1 || fail "WIC client"
wine "$folder/tavko64.exe" encode "$(winpath "$samples/card4.qvx")" "$(winpath "$out/card4.qvx")" ||
  fail "the installed tavko64.exe reads QVX through WIC"
checks=$((checks + 2))

# A second install in another folder; the first folder's uninstaller then
# removes its own files and leaves the live install's codecs and entry.
expect "$(install /D=C:\\Other)" "$want" "installer exit code, second folder"
wine "$folder/uninstall.exe" /S || fail "uninstaller of the first folder"
wineserver -w  # the uninstaller finishes from a copy of itself
[ -e "$folder" ] && fail "the first folder's files left"
expect "$(value "$server")" 'C:\Other\TAVKOWIC64.dll' "codec of the second folder after the first's uninstall"
expect "$(value "$key" InstallLocation)" 'C:\Other' "entry of the second folder after the first's uninstall"
wine "$other/tavko64.exe" encode "$(winpath "$samples/card8.qvx")" "$(winpath "$out/card8.qvx")" ||
  fail "QVX read through WIC after the first folder's uninstall"
# An upgrade without /D goes where the install is.
expect "$(install)" "$want" "installer exit code, upgrade"
[ -e "$folder" ] && fail "the upgrade went to the default folder, not to the install's"
checks=$((checks + 2))

# A codec that cannot be unregistered (its file damaged): the uninstaller
# removes nothing, keeps the entry, and says so in its exit code.
cp "$other/TAVKOWIC64.dll" "$out/TAVKOWIC64.dll"
echo damaged >"$other/TAVKOWIC64.dll"
status=0; wine "$other/uninstall.exe" /S '_?=C:\Other' || status=$?
expect "$status" 2 "uninstaller exit code when a codec cannot be unregistered"
for file in TAVKO.SPH tavko64.exe TAVKOWIC32.dll TAVKOWIC64.dll uninstall.exe; do
  [ -f "$other/$file" ] || fail "$file removed though a codec stayed registered"
done
expect "$(value "$key" InstallLocation)" 'C:\Other' "entry kept when a codec stays registered"
cp "$out/TAVKOWIC64.dll" "$other/TAVKOWIC64.dll"

# An upgrade while a program holds the 64-bit codec (one a byte longer,
# standing for an older one): the file in use is moved aside and replaced.
hold() { # NAME: a WIC client holds the codec while $out/NAME exists
  touch "$out/$1"
  wine "$win64/tavko_wic_tests.exe" --hold "$(winpath "$samples/card8.qvx")" "$(winpath "$out/$1")" >"$out/$1.txt" 2>&1 &
  holders+=($!)
  for _ in $(seq 100); do grep -qs holding "$out/$1.txt" && return; sleep 0.2; done
  fail "the WIC client did not open a picture to hold the codec: $(cat "$out/$1.txt")"
}
release() {
  rm -f "$out"/holding*
  for pid in "${holders[@]}"; do wait "$pid" || fail "a holding WIC client failed"; done
  holders=()
}
restart() { wine wineboot -r >/dev/null 2>&1; wineserver -w; }
echo older >>"$other/TAVKOWIC64.dll"
hold holding-old
expect "$(install)" "$want" "installer exit code, codec in use"
cmp "$stage/TAVKOWIC64.dll" "$other/TAVKOWIC64.dll" || fail "the codec in use was not replaced"
wine "$other/tavko64.exe" encode "$(winpath "$samples/card8.qvx")" "$(winpath "$out/card8.qvx")" ||
  fail "QVX read through the replaced codec"
# Again while the copy moved aside is held too: the file in use cannot be
# moved aside now, and is replaced at the restart.
hold holding-new
expect "$(install)" "$restart_code" "installer exit code, codec and its old copy in use"
[ -f "$other/TAVKOWIC64.dll.new" ] || fail "no new codec waiting for the restart"
release
restart
cmp "$stage/TAVKOWIC64.dll" "$other/TAVKOWIC64.dll" || fail "the codec was not replaced at the restart"
[ -e "$other/TAVKOWIC64.dll.new" ] || [ -e "$other/TAVKOWIC64.dll.old" ] && fail "files of the replacement left"
checks=$((checks + 2))

# An uninstall while a program holds the codec: it is unregistered, the
# held file is removed at the next start of Windows (wineboot -r here), and
# the exit code says a restart is needed.
hold holding
status=0; wine "$other/uninstall.exe" /S '_?=C:\Other' || status=$?
expect "$status" $((3010 % 256)) "uninstaller exit code, codec in use"
[ -f "$other/TAVKOWIC64.dll" ] || fail "the codec in use was removed at once"
[ -z "$(value "$server")" ] || fail "the codec in use stayed registered"
[ -z "$(value "$key" InstallLocation)" ] || fail "the entry stayed"
release
rm "$other/uninstall.exe"  # with _?= the uninstaller leaves itself
restart
[ -e "$other" ] && fail "the held codec's folder left after a restart: $(ls "$other")"
checks=$((checks + 1))

snapshot after
diff "$out/before-registry.txt" "$out/after-registry.txt" >"$out/registry.diff" || fail "keys left: $out/registry.diff"
diff "$out/before-files.txt" "$out/after-files.txt" >"$out/files.diff" || fail "files left: $out/files.diff"
checks=$((checks + 2))
echo "$checks installer checks passed"
