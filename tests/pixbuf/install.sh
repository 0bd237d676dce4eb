#!/usr/bin/env bash
# The install and uninstall targets, staged under a throwaway DESTDIR: the
# module lands in gdk-pixbuf's module folder, the Qt plug-ins in their Qt's,
# the MIME and thumbnailer files under the prefix, the running system's
# loader cache is left alone, and uninstall takes them all away again; then
# every component installed on its own and the uninstall target's manifest
# script leave no file behind.
#   install.sh BUILD_DIR WORK_DIR
set -euo pipefail
build=$1 work=$2
rm -rf "$work" && mkdir -p "$work"
moduledir=$(pkg-config --variable=gdk_pixbuf_moduledir gdk-pixbuf-2.0)
cache=$(pkg-config --variable=gdk_pixbuf_cache_file gdk-pixbuf-2.0)
before=$(stat -c %Y "$cache" 2>/dev/null || echo none)
prefix="$work/prefix"
files=("$moduledir/libpixbufloader-qvx.so" "$prefix/share/mime/packages/tavko-qvx.xml"
       "$prefix/share/thumbnailers/tavko-qvx.thumbnailer")
# The Qt plug-ins, where built, go into each Qt's own plug-in folder.
qt=()
for q in 5 6; do
  dir=$(sed -n "s/^TAVKO_QT${q}_PLUGINDIR:PATH=//p" "$build/CMakeCache.txt")
  [ -f "$build/qt$q/imageformats/libqvx.so" ] && qt+=("$q:$dir") && files+=("$dir/imageformats/libqvx.so")
done
fail=0

DESTDIR="$work/root" cmake --install "$build" --prefix "$prefix" >"$work/install.log"
for f in "${files[@]}"; do
  [ -f "$work/root$f" ] || { echo "FAIL: not installed: $f"; fail=1; }
done
# The staged module is the built one and loads as a gdk-pixbuf module.
"$(pkg-config --variable=gdk_pixbuf_query_loaders gdk-pixbuf-2.0)" "$work/root${files[0]}" >"$work/staged.cache"
grep -q '"image/x-qvx"' "$work/staged.cache" || { echo "FAIL: staged module not a loader"; fail=1; }
[ "$(stat -c %Y "$cache" 2>/dev/null || echo none)" = "$before" ] || { echo "FAIL: a staged install changed $cache"; fail=1; }
grep -q "DESTDIR is set" "$work/install.log" || { echo "FAIL: no word on the caches left alone"; fail=1; }

# Each staged Qt plug-in is the one its Qt takes from there.
for entry in "${qt[@]}"; do
  QT_PLUGIN_PATH="$work/root${entry#*:}" QT_QPA_PLATFORM=offscreen "$build/tavko_qt${entry%%:*}_tests" \
    --gtest_filter='QtFormat.*' >"$work/qt.log" 2>&1 || { echo "FAIL: Qt ${entry%%:*} does not take its staged plug-in"; fail=1; }
done

# Uninstall with the same prefix and DESTDIR.
DESTDIR="$work/root" cmake -DCMAKE_INSTALL_PREFIX="$prefix" -P "$build/pixbuf/uninstall.cmake" >"$work/uninstall.log"
for f in "${files[@]}"; do
  [ ! -e "$work/root$f" ] || { echo "FAIL: left after uninstall: $f"; fail=1; }
done

# Each component on its own, undone by the install manifests.
manifests=() python=()
[ -d "$build/python/qvx" ] && python=(python)
for component in tavko pixbuf mime "${qt[@]/#/qt}" "${python[@]}"; do
  component=${component%%:*}
  DESTDIR="$work/root" cmake --install "$build" --prefix "$prefix" --component $component >>"$work/install.log"
  manifests+=("$build/install_manifest_$component.txt")
done
placed=$(find "$work/root" ! -type d | sort)
[ "$(wc -l <<<"$placed")" -ge 6 ] || { echo "FAIL: components placed only: $placed"; fail=1; }
DESTDIR="$work/root" cmake "-DTAVKO_MANIFESTS=$(IFS=';'; echo "${manifests[*]}")" -P "$build/uninstall.cmake" >"$work/uninstall.log"
left=$(find "$work/root" ! -type d)
[ -z "$left" ] || { echo "FAIL: left after the manifest uninstall: $left"; fail=1; }
[ "$(stat -c %Y "$cache" 2>/dev/null || echo none)" = "$before" ] || { echo "FAIL: a staged uninstall changed $cache"; fail=1; }
[ "$fail" -eq 0 ] && echo "installed and uninstalled: ${files[*]}; by components and manifests:" $placed
exit "$fail"
