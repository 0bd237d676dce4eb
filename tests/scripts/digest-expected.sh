#!/usr/bin/env bash
# The blocks delivered for the samples and the fuzzers' seed pictures, with
# the options clear and set, must hash as recorded in tests/data: a changed
# header field or pixel byte fails here even where both builds agree.
# digest-expected.sh NATIVE_DIGEST CORPUS_DIR SAMPLES_DIR SEEDS_DIR DATA_DIR OUT_DIR [--update]
set -euo pipefail
native=$1 shared=$2 samples=$3 seeds=$4 data=$5 out=$6 update=${7:-}
mkdir -p "$out"
for round in clear options; do
  flag=""; [ $round = options ] && flag=--options
  "$native" "$shared" "$samples" "$seeds" "$out/all-$round.txt" $flag
  grep -E '^(samples|seeds)/' "$out/all-$round.txt" >"$out/$round.txt"
  if [ "$update" = --update ]; then
    cp "$out/$round.txt" "$data/digests-$round.txt"
  elif ! diff -u "$data/digests-$round.txt" "$out/$round.txt"; then
    echo "delivered blocks differ from tests/data/digests-$round.txt ($round)"
    exit 1
  fi
  echo "$round: $(wc -l <"$out/$round.txt") answers as recorded"
done
