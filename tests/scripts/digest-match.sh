#!/usr/bin/env bash
# The Linux build and TAVKO.SPI under Wine must answer alike for every test
# picture: same result codes, same blocks byte for byte.
# digest-match.sh NATIVE_DIGEST WINE_TESTS_EXE SHARED_DIR SAMPLES_DIR OUT_DIR
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
unset DISPLAY
native=$1 exe=$2 shared=$3 samples=$4 out=$5
mkdir -p "$out"
"$native" "$shared" "$samples" "$out/native-digest.txt"
TAVKO_SHARED_DIR=$(winpath "$shared") TAVKO_SAMPLES_DIR=$(winpath "$samples") \
  wine "$exe" --digest "$(winpath "$out")/wine-digest.txt"
lines=$(wc -l < "$out/native-digest.txt")
if ! diff -u "$out/native-digest.txt" "$out/wine-digest.txt"; then
  echo "TAVKO.SPI under Wine differs from the Linux build"
  exit 1
fi
echo "$lines answers alike in both builds"
test "$lines" -gt 50
