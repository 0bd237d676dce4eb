# Sourced by the scripts that run Windows programs under Wine: one throwaway
# Wine prefix per build folder, quiet, and no display unless a test brings
# its own.
: "${TAVKO_WINEPREFIX:?}"
tavko_script_args=("$@")  # sourced without arguments: the script's own
export WINEPREFIX="$TAVKO_WINEPREFIX"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Windows path of a Unix path, through Wine's Z: drive.
winpath() { printf 'Z:%s' "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }

# software_registry OUT: the prefix's HKEY_LOCAL_MACHINE\Software (both
# views) as Wine keeps it on disk, without each key's time of writing: read
# from the file once the server has stopped and written it, which takes
# seconds where "reg export" asks the server for every key on its own (a
# minute under emulation). No Windows program may be running then. Left
# out: the network cards' key, which Wine's ndis.sys fills with volatile
# keys while the prefix is in use (so it is saved as empty or not at all).
software_registry() {
  wineserver -w
  awk '/^\[/ { keep = /^\[Software\\\\/ && !/\\NetworkCards\]/; sub(/\] [0-9]+$/, "]") }
       /^#time=/ { next } keep' "$WINEPREFIX/system.reg" >"$1"
}

# Some machines run 64-bit x86 programs only (sandboxes such as gVisor give
# "Exec format error" for 32-bit ones), and then Wine's 32-bit side cannot
# start. There the tests run Wine's 64-bit loader and skip what needs 32-bit
# Windows programs (exit 77, which ctest counts as skipped).
# TAVKO_NO_WINE32=1 makes a machine that runs them behave as one that does
# not (to try that path).
if [ "${TAVKO_NO_WINE32:-0}" != 1 ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  TAVKO_WINE32=1
else
  TAVKO_WINE32=0
  export PATH="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine64-only:$PATH"
  export WINELOADER=/usr/lib/wine/wine64
fi
export TAVKO_WINE32
# Whether a Windows program (PE file) runs under Wine on this machine.
wine_runs() { [ "$TAVKO_WINE32" = 1 ] || ! file -b "$1" | grep -q 'Intel 80386'; }
# Where they cannot, a test that needs 32-bit programs runs whole inside a
# virtual machine whose kernel runs them, once scripts/setup.sh has made its
# kit: under ctest all such tests ran already in one boot of it (wine.vm,
# tests/vm/batch.sh), and the test gives the output and exit status it had
# there; run by hand, it boots a machine of its own (vm-run.sh). This does
# not return then. Else it returns false.
run_where_32bit_runs() {
  [ "$TAVKO_WINE32" = 1 ] && return 0
  local here root result
  if [ -z "${TAVKO_IN_VM:-}" ] && [ -n "${TAVKO_VM_NAME:-}" ] && [ -d "${TAVKO_VM_RESULTS:-}" ]; then
    result=$TAVKO_VM_RESULTS/$TAVKO_VM_NAME
    [ -f "$result.status" ] || { echo "the virtual machine's batch (wine.vm) left no result for $TAVKO_VM_NAME" >&2; exit 1; }
    echo "(ran in the virtual machine, in the batch of wine.vm)"
    cat "$result.out"
    cat "$result.err" >&2
    exit "$(cat "$result.status")"
  fi
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  root=$(cd "$here/../.." && pwd)
  if [ -z "${TAVKO_IN_VM:-}" ] && [ -f "$root/build/vm-kit/vmlinuz" ] && command -v qemu-system-x86_64 >/dev/null; then
    exec bash "$here/vm-run.sh" "$0" "${tavko_script_args[@]}"
  fi
  return 1
}
# Ends the script as skipped when the Windows program can run nowhere here.
need_wine_for() {
  wine_runs "$1" && return 0
  run_where_32bit_runs || true
  echo "skipped: this machine cannot run 32-bit x86 programs, so Wine cannot run $(basename "$1")"
  exit 77
}
