#!/usr/bin/env bash
# Takes the README's screenshot: LXImage-Qt showing a QVX sample through the
# freshly built Qt 5 plug-in, under Xvfb. Run by hand after a build:
#   bash qt/screenshot.sh     (writes docs/lximage-qvx.png)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/native"
cmake --build "$build" -j2 --target qvx_qt5 pixbuf_cache
VIEWER=lximage-qt QT_PLUGIN_PATH="$build/qt5" XDG_DATA_HOME="$build/pixbuf/share" QT_QPA_PLATFORM=xcb \
  bash "$root/tests/pixbuf/eog.sh" "$root" "$build/qt/screenshot" "$root/docs/lximage-qvx.png"
echo "wrote docs/lximage-qvx.png"
