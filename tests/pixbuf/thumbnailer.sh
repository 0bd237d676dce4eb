#!/usr/bin/env bash
# The .thumbnailer entry run as a file manager runs it: its Exec line with
# the size, the picture's URI and the output path filled in. It must make
# a PNG of the asked size from a QVX sample, and fail cleanly, leaving no
# file, for a truncated one.
#   thumbnailer.sh SOURCE_DIR WORK_DIR   (GDK_PIXBUF_MODULE_FILE and XDG_DATA_HOME set by ctest)
set -euo pipefail
src=$1 work=$2
rm -rf "$work" && mkdir -p "$work"
entry="$src/pixbuf/qvx.thumbnailer"
grep -qx 'MimeType=image/x-qvx;' "$entry" || { echo "FAIL: $entry does not name image/x-qvx"; exit 1; }
exec_line=$(sed -n 's/^Exec=//p' "$entry")

thumbnail() {  # SIZE INPUT OUTPUT
  local cmd=${exec_line//%s/$1}
  cmd=${cmd//%u/file:\/\/$2}
  cmd=${cmd//%o/$3}
  eval "$cmd"
}

fail=0
for sample in card24 card8 card1 card24topdown; do
  out="$work/$sample.png"
  thumbnail 64 "$src/samples/$sample.qvx" "$out" || { echo "FAIL: $sample: thumbnailer exited $?"; fail=1; continue; }
  size=$(identify -format '%w %h' "$out")
  read -r w h <<<"$size"
  if [ "$(( w > h ? w : h ))" -ne 64 ]; then echo "FAIL: $sample: thumbnail is $w x $h"; fail=1; else echo "ok: $sample -> $w x $h"; fi
done

head -c 500 "$src/samples/card24.qvx" >"$work/cut.qvx"
set +e
thumbnail 64 "$work/cut.qvx" "$work/cut.png" 2>"$work/cut.log"
status=$?
set -e
if [ "$status" -eq 0 ] || [ "$status" -gt 128 ] || [ -e "$work/cut.png" ]; then
  echo "FAIL: truncated picture: exit $status"; cat "$work/cut.log"; fail=1
else
  echo "ok: truncated picture refused: $(cat "$work/cut.log")"
fi
exit "$fail"
