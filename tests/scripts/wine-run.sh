#!/usr/bin/env bash
# Runs a Windows program under the tests' Wine prefix: wine-run.sh PROGRAM [ARGS...]
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
unset DISPLAY
need_wine_for "$1"
exec wine "$@"
