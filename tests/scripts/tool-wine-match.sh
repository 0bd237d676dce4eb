#!/usr/bin/env bash
# tavko.exe under Wine (loading the real TAVKO.SPI) and the Linux tavko give
# byte-identical BMP files and PNG files of the same kind and pixels (the
# Linux build compresses with libdeflate, the Windows build with zlib) for
# the samples, alone and in batches, and the same QVX files from BMP and PNG
# input; the Windows build expands wildcards itself, decodes a picture whose
# sizes pass 32 bits when multiplied out (once the pixel limit is raised),
# says why it cannot open the dialog without a display, and refuses to
# write over its input or a read-only file, or into a full output.
# tool-wine-match.sh NATIVE_TAVKO WIN32_DIR SAMPLES_DIR OUT_DIR [WIN64_DIR]
# (the 64-bit build stands in where 32-bit programs cannot run)
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
unset DISPLAY
native=$1 win32=$2 samples=$3 out=$4 win64=${5:-}
if ! wine_runs "$win32/tavko.exe" && [ -n "$win64" ]; then
  echo "this machine cannot run 32-bit x86 programs: checking the 64-bit tavko.exe"
  win32=$win64 win64=
fi
need_wine_for "$win32/tavko.exe"
rm -rf "$out"; mkdir -p "$out/linux" "$out/windows"
tavko() { wine "$win32/tavko.exe" "$@" | tr -d '\r'; return "${PIPESTATUS[0]}"; }
count=0
for qvx in "$samples"/*.qvx; do
  name=$(basename "$qvx" .qvx)
  for ext in bmp png; do
    "$native" decode "$qvx" "$out/$name-linux.$ext"
    tavko decode "$(winpath "$qvx")" "$(winpath "$out")/$name-windows.$ext"
  done
  cmp "$out/$name-linux.bmp" "$out/$name-windows.bmp"
  cmp <(head -c 33 "$out/$name-linux.png") <(head -c 33 "$out/$name-windows.png")  # the PNG header: same kind
  diff_pixels=$(compare -metric AE "$out/$name-linux.png" "$out/$name-windows.png" null: 2>&1 || true)
  [ "$diff_pixels" = "0" ] || { echo "$name: PNG pixels differ ($diff_pixels)"; exit 1; }
  count=$((count + 1))
done
# A batch, the pattern left for tavko.exe to expand as cmd.exe would.
"$native" decode -q "$samples"/*.qvx -d "$out/linux" --format bmp
tavko decode -q "$(winpath "$samples")/*.qvx" -d "$(winpath "$out/windows")" --format bmp
diff -r "$out/linux" "$out/windows"
# Encoding BMP and PNG input (PNG through libpng and through WIC).
convert "$samples/../docs/card8.png" -alpha off png24:"$out/card.png"
for input in "$out/card.png" "$out/card8-linux.bmp"; do
  "$native" encode "$input" "$out/linux.qvx"
  tavko encode "$(winpath "$input")" "$(winpath "$out")/windows.qvx"
  cmp "$out/linux.qvx" "$out/windows.qvx"
done
# 4194304 x 342 pixels at 1 bit: width * rows * 3 passes 2^32.
{ printf 'BM\x3e\x00\xb0\x0a\x00\x00\x00\x00\x3e\x00\x00\x00\x28\x00\x00\x00'
  printf '\x00\x00\x40\x00\x56\x01\x00\x00\x01\x00\x01\x00\x00\x00\x00\x00'
  printf '\x00\x00\xb0\x0a\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00'
  printf '\x00\x00\x00\x00\x00\x00\x00\x00\x20\x40\x60\x00\xff\xff\xff\x00'
  head -c 179306496 /dev/zero; } >"$out/wide.bmp"
"$native" encode "$out/wide.bmp" "$out/wide.qvx" --max-pixels 0
rm "$out/wide.bmp"
# Over the default pixel limit: refused, then decoded once it is raised.
if tavko decode "$(winpath "$out/wide.qvx")" "$(winpath "$out")/wide-windows.png" 2>"$out/err"; then
  echo "the pixel limit was not applied"; exit 1
fi
grep -q "raise it with --max-pixels" "$out/err"
"$native" decode "$out/wide.qvx" "$out/wide-linux.png" --max-pixels 0
tavko decode "$(winpath "$out/wide.qvx")" "$(winpath "$out")/wide-windows.png" --max-pixels=0
cmp <(head -c 33 "$out/wide-linux.png") <(head -c 33 "$out/wide-windows.png")
tavko decode "$(winpath "$out/wide.qvx")" "$(winpath "$out")/wide-windows.bmp" --max-pixels 0
"$native" decode "$out/wide.qvx" "$out/wide-linux.bmp" --max-pixels 0
cmp "$out/wide-linux.bmp" "$out/wide-windows.bmp"
rm "$out/wide.qvx" "$out"/wide-*
# The Windows build refuses the in-memory options and says why.
if tavko decode "$(winpath "$samples/card16.qvx")" x.bmp --keep16 2>"$out/err"; then
  echo "--keep16 was taken on Windows"; exit 1
fi
grep -q "configuration dialog" "$out/err"
if tavko config 2>"$out/err"; then echo "config without a display succeeded"; exit 1; fi
grep -q "no display" "$out/err"
tavko --version | grep -x "interface: 00IN" >/dev/null
# Both builds read headers through the core: the same facts for every seed
# (header sizes 0 to 64 among them).
(cd "$samples/../fuzz/seeds" && { "$native" info --json -- *.qvx || true; } >"$out/info-linux.txt" &&
  { tavko info --json -- *.qvx || true; } >"$out/info-windows.txt")
diff "$out/info-linux.txt" "$out/info-windows.txt"
# Windows' own cases, in both Windows builds: the input as its own output
# (the same volume and file index, through another name too), a read-only
# file, a wildcard that matches nothing, and standard output that is full.
for dir in "$win32" ${win64:+"$win64"}; do
  run() { wine "$dir/tavko.exe" "$@" | tr -d '\r'; return "${PIPESTATUS[0]}"; }
  cp "$samples/card8.qvx" "$out/self.qvx"
  rm -f "$out/ro.png"; printf 'old' >"$out/ro.png"; chmod 444 "$out/ro.png"
  expect_failure() {  # expect_failure MESSAGE ARGS...
    local message=$1; shift
    if run "$@" >/dev/null 2>"$out/err"; then echo "$dir: succeeded: $*"; exit 1; fi
    grep -qF "$message" "$out/err" || { echo "$dir: $*: $(cat "$out/err")"; exit 1; }
  }
  expect_failure "is the input file itself; not overwritten" decode "$(winpath "$out/self.qvx")" "$(winpath "$out/self.qvx")" --format bmp
  expect_failure "is the input file itself; not overwritten" decode "$(winpath "$out/self.qvx")" "$(winpath "$out")/SELF.QVX" --format bmp
  cmp "$samples/card8.qvx" "$out/self.qvx"
  expect_failure "cannot replace it: the file is read-only" decode "$(winpath "$samples/card8.qvx")" "$(winpath "$out/ro.png")"
  [ "$(cat "$out/ro.png")" = old ]
  expect_failure "no file matches" info "$(winpath "$out")/*.nothing"
  if wine "$dir/tavko.exe" info --json "$(winpath "$samples/card8.qvx")" >/dev/full 2>"$out/err"; then
    echo "$dir: full output succeeded"; exit 1
  fi
  grep -q "standard output: write error" "$out/err"
done
echo "$count samples decode alike in both builds"
test "$count" -ge 5
