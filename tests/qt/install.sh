#!/usr/bin/env bash
# The install components qt5, qt6 and mime and the uninstall script, staged
# under a throwaway DESTDIR: each plug-in lands in its Qt's imageformats
# folder and is taken by that Qt from there, the MIME type under the
# prefix; uninstall takes all three away again.
#   install.sh BUILD_DIR WORK_DIR
set -euo pipefail
build=$1 work=$2
rm -rf "$work" && mkdir -p "$work"
prefix="$work/prefix" root="$work/root"
qt5=$(qmake -query QT_INSTALL_PLUGINS) qt6=$(qmake6 -query QT_INSTALL_PLUGINS)
files=("$qt5/imageformats/libqvx.so" "$qt6/imageformats/libqvx.so" "$prefix/share/mime/packages/tavko-qvx.xml")
fail=0
for component in qt5 qt6 mime; do
  DESTDIR="$root" cmake --install "$build" --prefix "$prefix" --component "$component" >>"$work/install.log"
done
for f in "${files[@]}"; do
  [ -f "$root$f" ] || { echo "FAIL: not installed: $f"; fail=1; }
done
# Each staged plug-in is the one its Qt loads from there.
for q in 5 6; do
  dir=$([ $q = 5 ] && echo "$qt5" || echo "$qt6")
  QT_PLUGIN_PATH="$root$dir" QT_QPA_PLATFORM=offscreen "$build/tavko_qt${q}_tests" \
    --gtest_filter='QtFormat.Registered*' >"$work/qt$q.log" 2>&1 || { echo "FAIL: Qt $q does not take the staged plug-in"; fail=1; }
done
DESTDIR="$root" cmake -DCMAKE_INSTALL_PREFIX="$prefix" -P "$build/pixbuf/uninstall.cmake" >"$work/uninstall.log"
for f in "${files[@]}"; do
  [ ! -e "$root$f" ] || { echo "FAIL: left after uninstall: $f"; fail=1; }
done
[ "$fail" -eq 0 ] && echo "installed and uninstalled: ${files[*]}"
exit "$fail"
