#!/usr/bin/env bash
# The packages as a user gets them: tavko, qvx-pixbuf-loader, the MIME type,
# the Qt 5 and Qt 6 plug-ins and the Python module python3-qvx installed
# with dpkg -i on this machine, the command, its manual page and completion
# used from where they went, a QVX opened by gdk_pixbuf_new_from_file and
# thumbnailed by the thumbnailer entry and by QImageReader of both Qts
# with no environment set (so the
# loader cache and the MIME database are the system's, brought up to date
# by gdk-pixbuf's and shared-mime-info's triggers), then both purged: no
# file of theirs may be left, and the loader cache must list the modules
# it listed before. Run as root (or with sudo); the packages are purged
# whatever happens.
#   install-check.sh SOURCE_DIR PACKAGE_DIR
# With --installed, the packages are already installed (an autopkgtest
# run, debian/tests): only what they installed is tried, in WORK_DIR.
#   install-check.sh --installed SOURCE_DIR WORK_DIR
set -euo pipefail
installed=0
if [ "${1:-}" = --installed ]; then installed=1; shift; fi
src=$(cd "$1" && pwd) dir=$2
work="$dir/install-check"
rm -rf "$work" && mkdir -p "$work"
if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
packages=(tavko qvx-pixbuf-loader qvx-mime-info qt5-image-formats-plugin-qvx qt6-image-formats-plugin-qvx python3-qvx)
debs=()
for p in "${packages[@]}"; do debs+=("$dir/${p}_"*.deb); done
version=$(sed -n 's/^project(tavko VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
cache=$(pkg-config --variable=gdk_pixbuf_cache_file gdk-pixbuf-2.0)
qvx_type=/usr/share/mime/image/x-qvx.xml
bare() { env -i PATH=/usr/bin:/bin HOME="$work" "$@"; }   # no environment of ours
dpkg_locked() { $SUDO flock /tmp/apt.lock dpkg "$@"; }    # the lock apt-get runs under here
fail=0
failed() { echo "FAIL: $*"; fail=1; }

for p in "${packages[@]}"; do
  [ "$installed" = 0 ] || break
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  if [ -n "$status" ] && [[ $status != *not-installed ]]; then
    echo "install-check: $p is already on this machine ($status); not touching it" >&2
    exit 1
  fi
done
[ "$installed" = 1 ] || [ ! -e "$qvx_type" ] || { echo "install-check: $qvx_type is already there" >&2; exit 1; }
modules_before=$(grep '^"/' "$cache" | sort)
cc -o "$work/pixbuf_open" "$src/tests/packages/pixbuf_open.c" $(pkg-config --cflags --libs gdk-pixbuf-2.0)
for q in 5 6; do
  c++ -fPIC -o "$work/qt${q}_open" "$src/tests/packages/qt_open.cpp" $(pkg-config --cflags --libs Qt${q}Gui)
done

purge() { dpkg_locked --purge "${packages[@]}" >"$work/purge.log" 2>&1; }
if [ "$installed" = 0 ]; then
  trap purge EXIT
  trap 'exit 130' INT TERM HUP
  echo "install-check: dpkg -i ${debs[*]##*/}"
  dpkg_locked -i "${debs[@]}" >"$work/install.log" 2>&1 || { cat "$work/install.log"; exit 1; }
fi

# The command, its manual page and its completion.
for p in "${packages[@]}"; do
  [ "$(dpkg-query -W -f='${Version}' "$p")" = "$version" ] || failed "$p is not at version $version"
done
bare tavko --version | grep -F "$version" >/dev/null || failed "tavko --version does not say $version"
[ "$(bare man -w tavko)" = /usr/share/man/man1/tavko.1.gz ] || failed "man -w tavko"
bare bash -c 'source /usr/share/bash-completion/completions/tavko && complete -p tavko' >/dev/null ||
  failed "no bash completion for tavko"

# Every sample through the installed command and through gdk-pixbuf, which
# must agree pixel for pixel.
grep -q '/libpixbufloader-qvx\.so"' "$cache" || failed "the loader cache does not list the module"
[ -f "$qvx_type" ] || failed "the MIME database has no image/x-qvx"
for qvx in "$src"/samples/*.qvx; do
  name=$(basename "$qvx" .qvx)
  bare tavko decode "$qvx" "$work/$name.png" || { failed "tavko decode $name"; continue; }
  bare "$work/pixbuf_open" "$qvx" "$work/$name.png" >/dev/null || failed "gdk_pixbuf_new_from_file $name"
done

# Qt programs find the installed plug-ins by themselves.
for q in 5 6; do
  for qvx in "$src"/samples/card1.qvx "$src"/samples/card24.qvx; do
    got=$(bare "$work/qt${q}_open" "$qvx") || { failed "Qt $q cannot read $(basename "$qvx")"; continue; }
    [ "$got" = "qvx 160 120" ] || failed "Qt $q read $(basename "$qvx") as: $got"
  done
done

# Debian's Python finds the module; NumPy and Pillow read every sample as
# the installed command decodes it.
python_check='import sys, numpy, qvx
from PIL import Image
assert qvx.__file__.startswith("/usr/lib/python3/dist-packages/"), qvx.__file__
for qvx_file, png in zip(sys.argv[1::2], sys.argv[2::2]):
    expected = numpy.asarray(Image.open(png).convert("RGB"))
    assert numpy.array_equal(qvx.read(qvx_file), expected), qvx_file
    assert numpy.array_equal(numpy.asarray(Image.open(qvx_file).convert("RGB")), expected), qvx_file'
python_args=()
for qvx in "$src"/samples/*.qvx; do python_args+=("$qvx" "$work/$(basename "$qvx" .qvx).png"); done
bare python3 -c "$python_check" "${python_args[@]}" || failed "python3 -c 'import qvx' does not read the samples"

# The thumbnailer entry's own command line, as a file manager runs it.
exec_line=$(sed -n 's/^Exec=//p' /usr/share/thumbnailers/tavko-qvx.thumbnailer)
command=${exec_line//%s/64}
command=${command//%u/file://$src/samples/card24.qvx}
command=${command//%o/$work/thumbnail.png}
bare sh -c "$command" || failed "thumbnailer: $command"
read -r w h < <(bare "$work/pixbuf_open" "$work/thumbnail.png" || echo 0 0)
[ "$(( w > h ? w : h ))" -eq 64 ] || failed "the thumbnail is $w x $h"

if [ "$installed" = 1 ]; then
  [ "$fail" -eq 0 ] && echo "install-check: the installed packages work"
  exit "$fail"
fi

# Purged: nothing of ours left, the caches as they were.
ours=$(dpkg -L "${packages[@]}" | while read -r f; do [ -d "$f" ] || echo "$f"; done)
trap - EXIT
echo "install-check: dpkg --purge ${packages[*]}"
purge || { cat "$work/purge.log"; exit 1; }
for f in $ours; do [ ! -e "$f" ] || failed "left after purge: $f"; done
! grep -q 'libpixbufloader-qvx' "$cache" || failed "the loader cache still lists the module"
[ "$(grep '^"/' "$cache" | sort)" = "$modules_before" ] || failed "the loader cache lists other modules than before"
[ ! -e "$qvx_type" ] || failed "$qvx_type left after purge"
! bare "$work/pixbuf_open" "$src/samples/card24.qvx" >/dev/null 2>&1 || failed "a QVX still opens after purge"
for q in 5 6; do
  ! bare "$work/qt${q}_open" "$src/samples/card24.qvx" >/dev/null 2>&1 || failed "Qt $q still reads a QVX after purge"
done
! bare python3 -c 'import qvx' 2>/dev/null || failed "python3 still imports qvx after purge"

[ "$fail" -eq 0 ] && echo "install-check: installed, used and purged:" $ours
exit "$fail"
