#!/usr/bin/env bash
# Where 32-bit programs cannot run, the tests that need them run in a single
# boot of the virtual machine rather than a boot each: BATCH (made by CMake)
# lists them, each with the seconds it takes there, its environment and its
# command. In the machine two lanes, each with a Wine prefix of its own in
# the machine's memory (writing a prefix's 1.3 GB through 9p takes many
# minutes; the second is a copy of the first), take the tests longest
# first. Each test's output and exit status go to RESULTS_DIR/NAME.{out,
# err,status}, which the test, run by ctest next, gives as its own
# (wine-env.sh).
#   batch.sh BATCH RESULTS_DIR
# Skipped (exit 77) where 32-bit programs run, or there is no machine.
set -euo pipefail
batch=$1 results=$2
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${TAVKO_IN_VM:-}" ]; then
  rm -rf "$results"
  source "$here/../scripts/wine-env.sh"
  if [ "$TAVKO_WINE32" = 1 ]; then
    echo "skipped: this machine runs 32-bit programs, and each test runs them itself"
    exit 77
  fi
  mkdir -p "$results"
  run_where_32bit_runs || true
  rmdir "$results"
  echo "skipped: no virtual machine here to run 32-bit programs in (scripts/setup.sh makes its kit)"
  exit 77
fi

# In the machine.
prefix=/tmp/wineprefix
start=$SECONDS
if ! TAVKO_WINEPREFIX=$prefix-1 "$here/../scripts/wine-prefix.sh" >"$results/prefix.log" 2>&1; then
  cat "$results/prefix.log"
  exit 1
fi
lanes=(1)
cp -a "$prefix-1" "$prefix-2" && lanes+=(2)
echo "prefixes: ${#lanes[@]} made in $((SECONDS - start)) s"

tavko_vm_job() {  # NAME SECONDS VAR=VALUE... -- COMMAND...
  local name=$1 status=0 start=$SECONDS
  shift 2
  (
    while [ "$1" != -- ]; do export "$1"; shift; done
    shift
    export TAVKO_WINEPREFIX=$prefix-$lane
    status=0
    "$@" >"$results/$name.out" 2>"$results/$name.err" || status=$?
    WINEPREFIX=$TAVKO_WINEPREFIX wineserver -w 2>/dev/null || true
    exit "$status"
  ) || status=$?
  echo "$status" >"$results/$name.status"
  echo "$name: exit $status, $((SECONDS - start)) s (lane $lane)"
}
# Longest first; a lane takes the next test no lane has claimed.
claims=$(mktemp -d)
sort -t' ' -k3,3nr "$batch" >"$claims/queue"
for lane in "${lanes[@]}"; do
  (
    n=0
    while IFS= read -r line; do
      n=$((n + 1))
      mkdir "$claims/$n" 2>/dev/null || continue
      eval "$line"
    done <"$claims/queue"
  ) &
done
wait
echo "all: $((SECONDS - start)) s"
