#!/usr/bin/env bash
# Makes a fresh Wine prefix for the tests (removing an old one).
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
# A prefix made by the 64-bit loader alone has no 32-bit side: it is made
# in the virtual machine, unless TAVKO_PREFIX_64=1 asks for 64-bit programs
# only.
[ "${TAVKO_PREFIX_64:-0}" = 1 ] || run_where_32bit_runs || true
wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
unset DISPLAY
status=0
wineboot -i >"$WINEPREFIX.log" 2>&1 || status=$?
wineserver -w
if [ "$status" != 0 ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-prefix: wineboot did not make $WINEPREFIX (exit $status); its last words:" >&2
  tail -20 "$WINEPREFIX.log" >&2
  exit 1
fi
rm -f "$WINEPREFIX.log"
echo "wine prefix ready: $WINEPREFIX"
