#!/usr/bin/env bash
# Where 32-bit programs cannot run, the tests that need them run one after
# another in a single boot of the virtual machine, rather than a boot each:
# BATCH (made by CMake) lists them with their environment and command. Each
# test's output and exit status go to RESULTS_DIR/NAME.{out,err,status},
# which the test, run by ctest next, gives as its own (wine-env.sh).
#   batch.sh BATCH RESULTS_DIR
# Skipped (exit 77) where 32-bit programs run, or there is no machine.
set -euo pipefail
batch=$1 results=$2
if [ -z "${TAVKO_IN_VM:-}" ]; then
  rm -rf "$results"
  source "$(dirname "$0")/../scripts/wine-env.sh"
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

# In the machine: each test in turn, timed, the prefix's server ended
# between them as when each had a machine of its own.
tavko_vm_job() {  # NAME VAR=VALUE... -- COMMAND...
  local name=$1 status=0 start=$SECONDS
  shift
  (
    while [ "$1" != -- ]; do export "$1"; shift; done
    shift
    status=0
    "$@" >"$results/$name.out" 2>"$results/$name.err" || status=$?
    [ -z "${TAVKO_WINEPREFIX:-}" ] || WINEPREFIX=$TAVKO_WINEPREFIX wineserver -w 2>/dev/null || true
    exit "$status"
  ) || status=$?
  echo "$status" >"$results/$name.status"
  echo "$name: exit $status, $((SECONDS - start)) s"
}
source "$batch"
