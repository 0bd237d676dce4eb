#!/usr/bin/env bash
# Builds the Debian packages tavko and qvx-pixbuf-loader with
# dpkg-buildpackage and checks them with lintian. The build runs in a copy
# of the sources under the output folder, so what dpkg-buildpackage writes
# beside the tree stays there; the packages end up in the output folder.
#   scripts/package.sh [--check] [OUT_DIR]     (OUT_DIR: build/packages)
# --check then installs them on this machine with dpkg -i, tries what they
# installed, and purges them again (tests/packages/install-check.sh; root).
# --clean-root builds them instead in a new, minimal Debian 12 root made by
# mmdebstrap, which holds nothing but build-essential and what
# debian/control's Build-Depends bring, and runs the package's tests there:
# a missing build dependency fails this build (root; a few minutes).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
check=0 clean=0
case "${1:-}" in --check) check=1; shift ;; --clean-root) clean=1; shift ;; esac
out=${1:-$root/build/packages}
mkdir -p "$out" && out=$(cd "$out" && pwd)
work="$out/work"
rm -rf "$work" "$out"/*.deb "$out"/*.ddeb "$out"/*.buildinfo "$out"/*.changes
mkdir -p "$work/tavko"

# The files of the tree as they are: in a git checkout the tracked ones and
# new ones git does not ignore, else everything but build/.
cd "$root"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar --null -T - -cf - | tar -xf - -C "$work/tavko"
else
  tar --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$work/tavko"
fi

# Both cores, unless the caller says otherwise.
export DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:-parallel=$(nproc 2>/dev/null || echo 2)}"
if [ "$clean" = 1 ]; then
  # The machine's own package sources, so the root gets what this machine gets.
  echo "package: mmdebstrap a clean bookworm root, then apt-get build-dep and dpkg-buildpackage there (log: $out/build.log)"
  if ! mmdebstrap --variant=buildd --skip=cleanup/apt \
      --customize-hook='mkdir -p "$1/build"' --customize-hook="copy-in $work/tavko /build" \
      --customize-hook='chroot "$1" apt-get build-dep -y -q /build/tavko' \
      --customize-hook='chroot "$1" sh -c "cd /build/tavko && dpkg-buildpackage -us -uc -b"' \
      --customize-hook="sync-out /build $work" \
      bookworm /dev/null /etc/apt/sources.list.d/debian.sources >"$out/build.log" 2>&1; then
    tail -n 40 "$out/build.log"
    echo "package: the build in a clean root failed" >&2
    exit 1
  fi
elif ! (cd "$work/tavko" && dpkg-buildpackage -us -uc -b) >"$out/build.log" 2>&1; then
  tail -n 40 "$out/build.log"
  echo "package: dpkg-buildpackage failed" >&2
  exit 1
fi
mv "$work"/*.deb "$work"/*.buildinfo "$work"/*.changes "$out"/
mv "$work"/*.ddeb "$out"/ 2>/dev/null || true
rm -rf "$work"
ls -1 "$out"/*.deb

# lintian at its default level: any error or warning fails.
echo "package: lintian"
lintian --fail-on error,warning "$out"/*.changes
echo "package: lintian clean"

if [ "$check" = 1 ]; then
  bash "$root/tests/packages/install-check.sh" "$root" "$out"
fi
