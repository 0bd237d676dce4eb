#!/usr/bin/env bash
# Builds the Debian packages tavko and qvx-pixbuf-loader with
# dpkg-buildpackage and checks them with lintian. The build runs in a copy
# of the sources under the output folder, so what dpkg-buildpackage writes
# beside the tree stays there; the packages end up in the output folder.
#   scripts/package.sh [--check] [OUT_DIR]     (OUT_DIR: build/packages)
# --check then installs them on this machine with dpkg -i, tries what they
# installed, and purges them again (tests/packages/install-check.sh; root).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
check=0
if [ "${1:-}" = "--check" ]; then check=1; shift; fi
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

echo "package: dpkg-buildpackage -us -uc -b (log: $out/build.log)"
if ! (cd "$work/tavko" && dpkg-buildpackage -us -uc -b) >"$out/build.log" 2>&1; then
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
