#!/usr/bin/env bash
# Runs the fuzz targets: fuzz/run.sh SECONDS [TARGET...]
# Each target runs for SECONDS from a corpus seeded with fuzz/seeds and
# fuzz/regressions (kept between runs in build/fuzz/corpus). Anything found
# lands in build/fuzz/artifacts; copy it into fuzz/regressions/TARGET/ so it
# is replayed by every test run from then on.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:?usage: fuzz/run.sh SECONDS [TARGET...]}
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(is_supported picture_info get_picture get_picture_file pixbuf_incremental push_rows qt_reader)
build="$root/build/fuzz"
(cd "$root" && cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j"$(nproc 2>/dev/null || echo 2)" >/dev/null)
mkdir -p "$build/artifacts"
status=0
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  # The seeds as each target reads its input: options byte, or offset bytes.
  for seed in "$root"/fuzz/seeds/*; do
    name=$(basename "$seed")
    case $target in
      get_picture) for options in 0 3 7; do
          { printf "\\$(printf %03o $options)"; cat "$seed"; } >"$corpus/$name.$options"; done ;;
      get_picture_file) { printf '\x40\x00'; cat "$seed"; } >"$corpus/$name" ;;
      # Whole, and split after 1, 17 and 60 bytes.
      pixbuf_incremental) { printf '\x00'; cat "$seed"; } >"$corpus/$name.0"
          { printf '\x03\x01\x00\x10\x00\x2b\x00'; cat "$seed"; } >"$corpus/$name.3" ;;
      # RGB rows top first, whole; BGRA split after 1 and 40 bytes.
      push_rows) { printf '\x08\x00'; cat "$seed"; } >"$corpus/$name.0"
          { printf '\x01\x02\x01\x00\x28\x00'; cat "$seed"; } >"$corpus/$name.2" ;;
      *) cp "$seed" "$corpus/$name" ;;
    esac
  done
  if [ -d "$root/fuzz/regressions/$target" ]; then cp "$root/fuzz/regressions/$target"/* "$corpus/" 2>/dev/null || true; fi
  echo "== $target: ${seconds}s"
  if ! "$build/fuzz_$target" -max_total_time="$seconds" -dict="$root/fuzz/qvx.dict" -max_len=100000 \
      -timeout=20 -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
      "$corpus" 2>"$build/$target.log"; then
    status=1
    echo "$target found a fault; see $build/$target.log and $build/artifacts"
  fi
  grep -a -E "^(stat::number_of_executed_units|stat::peak_rss_mb)|cov: " "$build/$target.log" | tail -3
done
exit $status
