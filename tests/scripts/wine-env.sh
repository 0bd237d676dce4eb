# Sourced by the scripts that run Windows programs under Wine: one throwaway
# Wine prefix per build folder, quiet, and no display unless a test brings
# its own.
: "${TAVKO_WINEPREFIX:?}"
export WINEPREFIX="$TAVKO_WINEPREFIX"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Windows path of a Unix path, through Wine's Z: drive.
winpath() { printf 'Z:%s' "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
# Debian's wine script takes the 32-bit loader whenever it is installed. A
# kernel without 32-bit support cannot run it: 64-bit programs then go to
# the 64-bit loader directly, and 32-bit ones cannot run (TAVKO_WINE32=0).
if /usr/lib/wine/wine --version >/dev/null 2>&1 || [ ! -x /usr/lib/wine/wine64 ]; then
  export TAVKO_WINE32=1
else
  export TAVKO_WINE32=0
  mkdir -p "$WINEPREFIX.bin"
  for name in wine wine-stable; do
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$WINEPREFIX.bin/$name"
    chmod +x "$WINEPREFIX.bin/$name"
  done
  export PATH="$WINEPREFIX.bin:$PATH"
fi
