#!/usr/bin/env bash
# The Linux build and TAVKO.SPI under Wine must answer alike for every test
# picture (the BMP Suite corpus, the samples and the fuzzers' seeds): same
# result codes, same blocks byte for byte; once with every option clear and
# once with "16", "32" and "MMX" set.
# digest-match.sh NATIVE_DIGEST WINE_TESTS_EXE CORPUS_DIR SAMPLES_DIR SEEDS_DIR OUT_DIR
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
unset DISPLAY
native=$1 exe=$2 corpus=$3 samples=$4 seeds=$5 out=$6
need_wine_for "$exe"
key='HKCU\Software\Qe.\tavko'
rm -rf "$out"; mkdir -p "$out"
for round in clear options; do
  if [ $round = options ]; then
    "$native" "$corpus" "$samples" "$seeds" "$out/native-$round.txt" --options
    for value in 16 32 MMX; do wine reg add "$key" /v $value /t REG_DWORD /d 1 /f >/dev/null; done
  else
    "$native" "$corpus" "$samples" "$seeds" "$out/native-$round.txt"
    wine reg delete "$key" /f >/dev/null 2>&1 || true
  fi
  TAVKO_CORPUS_DIR=$(winpath "$corpus") TAVKO_SAMPLES_DIR=$(winpath "$samples") TAVKO_SEEDS_DIR=$(winpath "$seeds") \
    wine "$exe" --digest "$(winpath "$out")/wine-$round.txt"
  if ! diff -u "$out/native-$round.txt" "$out/wine-$round.txt"; then
    echo "TAVKO.SPI under Wine differs from the Linux build ($round)"
    exit 1
  fi
  lines=$(wc -l < "$out/native-$round.txt")
  decoded=$(grep -c "picture=0 " "$out/native-$round.txt" || true)
  echo "$round: $lines answers alike in both builds ($decoded decoded)"
  test "$lines" -gt 100
done
wine reg delete "$key" /f >/dev/null 2>&1 || true
