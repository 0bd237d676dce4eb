#!/usr/bin/env bash
# The Linux tavko under valgrind: decoding every sample alone and in a
# batch with worker threads, encoding BMP and PNG input, refusals and info;
# no invalid access, no leak. valgrind-tool.sh TAVKO SAMPLES_DIR OUT_DIR
set -euo pipefail
tavko=$1 samples=$2 out=$3
rm -rf "$out"; mkdir -p "$out/batch"
check() { valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect "$tavko" "$@"; }
count=0
for qvx in "$samples"/*.qvx; do
  name=$(basename "$qvx" .qvx)
  for ext in png bmp; do
    check decode "$qvx" "$out/$name.$ext"
    count=$((count + 1))
  done
done
check decode -q -j 3 "$samples"/*.qvx -d "$out/batch"
check encode "$out/card24.bmp" "$out/again.qvx"
check encode "$out/card8.png" "$out/again.qvx"
check decode - "$out/piped.png" <"$samples/card4.qvx"
# Refusals end with status 1, and nothing leaks on the way out either.
status=0; check encode "$samples/card4.qvx" "$out/no.qvx" 2>/dev/null || status=$?
test "$status" = 1
status=0; check info --json "$samples"/*.qvx /dev/null >/dev/null || status=$?
test "$status" = 1
echo "$count decodes and the batch, encodes and info clean under valgrind"
