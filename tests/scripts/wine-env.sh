# Sourced by the scripts that run Windows programs under Wine: one throwaway
# Wine prefix per build folder, quiet, and no display unless a test brings
# its own.
: "${TAVKO_WINEPREFIX:?}"
export WINEPREFIX="$TAVKO_WINEPREFIX"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Windows path of a Unix path, through Wine's Z: drive.
winpath() { printf 'Z:%s' "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
