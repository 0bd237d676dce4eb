#!/usr/bin/env bash
# Makes a fresh Wine prefix for the tests (removing an old one).
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
# A prefix made by the 64-bit loader alone has no 32-bit side.
run_where_32bit_runs || true
wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
unset DISPLAY
wineboot -i >/dev/null 2>&1
wineserver -w
test -f "$WINEPREFIX/system.reg"
echo "wine prefix ready: $WINEPREFIX"
