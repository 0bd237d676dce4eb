#!/usr/bin/env bash
# Takes the README's screenshot: Eye of GNOME showing a QVX sample through
# the freshly built loader, under Xvfb. Run by hand after a build:
#   bash pixbuf/screenshot.sh     (writes docs/eog-qvx.png)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/native"
cmake --build "$build" -j2 --target pixbuf_cache
GDK_PIXBUF_MODULE_FILE="$build/pixbuf/loaders.cache" XDG_DATA_HOME="$build/pixbuf/share" \
  bash "$root/tests/pixbuf/eog.sh" "$root" "$build/pixbuf/screenshot" "$root/docs/eog-qvx.png"
echo "wrote docs/eog-qvx.png"
