#!/usr/bin/env bash
# Makes the Windows packages: tavko-VERSION-setup.exe (NSIS: every module,
# both commands and both codecs, registered, with an uninstaller) and
# tavko-VERSION-windows.zip (the same files, for copying by hand).
#   scripts/package-windows.sh [OUT_DIR]        (default: build/packages)
# Builds build/win32 and build/win64 first, unless TAVKO_NO_BUILD=1.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "${1:-$root/build/packages}" && cd "${1:-$root/build/packages}" && pwd)
version=$(sed -n 's/^project(tavko VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || { echo "package-windows: no version in CMakeLists.txt" >&2; exit 1; }
if [ "${TAVKO_NO_BUILD:-0}" != 1 ]; then
  for preset in win32 win64; do
    [ -f "$root/build/$preset/CMakeCache.txt" ] || (cd "$root" && cmake --preset "$preset" >/dev/null)
    cmake --build "$root/build/$preset" --target tavko_spi tavko tavko_wic -j2
  done
fi

# The folder as installed: the 64-bit command and codec carry "64" in their
# names so that both bitnesses share one folder.
name="tavko-$version-windows"
stage="$out/$name"
rm -rf "$stage"; mkdir -p "$stage"
cp "$root/build/win32/TAVKO.SPI" "$root/build/win32/tavko.exe" "$stage/"
cp "$root/build/win64/TAVKO.SPH" "$stage/"
cp "$root/build/win64/tavko.exe" "$stage/tavko64.exe"
cp "$root/build/win32/TAVKOWIC.dll" "$stage/TAVKOWIC32.dll"
cp "$root/build/win64/TAVKOWIC.dll" "$stage/TAVKOWIC64.dll"
# One date for the files, the headers strip writes and the installer's own
# (the last commit's, unless SOURCE_DATE_EPOCH says otherwise), so that two
# builds of the same sources give the same zip and the same installer.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 0)}
# The commands without their symbols (the build keeps them for debugging).
i686-w64-mingw32-strip "$stage/tavko.exe"
x86_64-w64-mingw32-strip "$stage/tavko64.exe"
# Text files in Windows line endings.
sed "s/@VERSION@/$version/; s/\$/\r/" "$root/installer/README.txt" >"$stage/README.txt"
sed 's/$/\r/' "$root/LICENSE" >"$stage/LICENSE.txt"
sed 's/$/\r/' "$root/THIRD-PARTY-NOTICES.txt" >"$stage/THIRD-PARTY-NOTICES.txt"

touch -d "@$SOURCE_DATE_EPOCH" "$stage" "$stage"/*
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$out/tavko-$version-setup.exe" \
  "$root/installer/tavko.nsi"
rm -f "$out/$name.zip"
(cd "$out" && zip -X -q -r "$name.zip" "$name")
echo "package-windows: $out/tavko-$version-setup.exe $out/$name.zip"
