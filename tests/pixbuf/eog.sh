#!/usr/bin/env bash
# Eye of GNOME opens a QVX sample under Xvfb through the freshly built
# loader (GDK_PIXBUF_MODULE_FILE) and the QVX MIME type (XDG_DATA_HOME):
# its window must come up with the picture's name as title, show the
# picture's own colours and keep running. VIEWER names another viewer
# (lximage-qt, with QT_PLUGIN_PATH at the Qt plug-in).
#   eog.sh SOURCE_DIR WORK_DIR [SCREENSHOT.png]
set -euo pipefail
src=$1 work=$2 shot=${3:-}
sample=card24.qvx
viewer_cmd=${VIEWER:-eog --new-instance}
name=${viewer_cmd%% *}
rm -rf "$work" && mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/home/.config"
export GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 GDK_BACKEND=x11
fail() { echo "FAIL: $*"; sed "s/^/  $name: /" "$work/viewer.log" 2>/dev/null | tail -20; exit 1; }

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
viewer= pictures=
cleanup() {
  [ -n "$viewer" ] && kill "$viewer" 2>/dev/null
  kill "$xvfb" 2>/dev/null
  wait 2>/dev/null || true
  [ -z "$shot" ] || [ -z "$pictures" ] || rm -rf "$pictures"
}
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -1 "$work/display")"

# A screenshot shows the picture's folder: a neutral one, not the build's.
pictures="$work/pictures"
if [ -n "$shot" ]; then pictures=$(mktemp -d /tmp/pictures.XXXXXX); fi
mkdir -p "$pictures" && cp "$src/samples/$sample" "$pictures/$sample"
dbus-run-session -- $viewer_cmd "$pictures/$sample" >"$work/viewer.log" 2>&1 &
viewer=$!

# The window carries the file's name once the picture is loaded.
window=
for _ in $(seq 300); do
  window=$(xdotool search --onlyvisible --name "$sample" 2>/dev/null | head -1) && [ -n "$window" ] && break
  kill -0 "$viewer" 2>/dev/null || fail "$name ended before showing a window"
  sleep 0.1
done
[ -n "$window" ] || fail "no $name window named $sample within 30 s"
sleep 2
kill -0 "$viewer" 2>/dev/null || fail "$name ended after opening the picture"
grep -qi "critical\|could not load\|unrecognized\|segmentation\|tavko.qvx" "$work/viewer.log" && fail "$name reported a problem"

import -window "$window" "$work/window.png"
# The card's pure bars (yellow, cyan, magenta) are on screen: the picture
# is shown, not an error.
convert "$work/window.png" -format %c histogram:info:- >"$work/colours.txt"
for colour in '#FFFF00' '#00FFFF' '#FF00FF'; do
  count=$(grep -i " $colour " "$work/colours.txt" | sed 's/^ *\([0-9]*\):.*/\1/' | head -1 || true)
  [ "${count:-0}" -ge 100 ] || fail "the picture's $colour bar is not on screen"
done
[ -n "$shot" ] && cp "$work/window.png" "$shot"
echo "$name shows $sample in window $window ($(identify -format '%w x %h' "$work/window.png"))"
