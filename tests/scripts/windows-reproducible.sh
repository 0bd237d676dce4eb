#!/usr/bin/env bash
# The installer and the zip made again from the same sources and builds
# are the same files, byte for byte.
# windows-reproducible.sh PACKAGES_DIR
set -euo pipefail
packages=$1 again=$1-again
TAVKO_NO_BUILD=1 "$(dirname "$0")/../../scripts/package-windows.sh" "$again" >/dev/null
count=0
for file in "$packages"/*.exe "$packages"/*.zip; do
  cmp "$file" "$again/$(basename "$file")" || { echo "FAIL: two builds of $(basename "$file") differ"; exit 1; }
  count=$((count + 1))
done
[ "$count" = 2 ] || { echo "FAIL: $count packages in $packages, not an installer and a zip"; exit 1; }
rm -rf "$again"
echo "the installer and the zip built twice are the same"
