#!/usr/bin/env bash
# The Linux tavko decoding every sample under valgrind: no invalid access,
# no leak. valgrind-tool.sh TAVKO SAMPLES_DIR OUT_DIR
set -euo pipefail
tavko=$1 samples=$2 out=$3
rm -rf "$out"; mkdir -p "$out"
count=0
for qvx in "$samples"/*.qvx; do
  name=$(basename "$qvx" .qvx)
  for ext in png bmp; do
    valgrind -q --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect \
      "$tavko" decode "$qvx" "$out/$name.$ext"
    count=$((count + 1))
  done
done
valgrind -q --error-exitcode=1 --leak-check=full "$tavko" info "$samples"/*.qvx >/dev/null
echo "$count decodes clean under valgrind"
