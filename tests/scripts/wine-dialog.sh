#!/usr/bin/env bash
# The configuration dialog as a real window under Xvfb, driven with xdotool.
# wine-dialog.sh WIN32_DIR SAMPLES_DIR OUT_DIR
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
win32=$1 samples=$2 out=$3
need_wine_for "$win32/dialog_host.exe"
rm -rf "$out"; mkdir -p "$out"
key='HKCU\Software\Qe.\tavko'
card16=$(winpath "$samples/card16.qvx") card32=$(winpath "$samples/card32.qvx")
fail() { echo "FAIL: $*"; [ -f "$out/host.txt" ] && sed 's/^/  host: /' "$out/host.txt"; exit 1; }

# A private X display; Wine draws its own window frames since there is no
# window manager.
exec 3>"$out/display"
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
xvfb=$!
host=
cleanup() {
  [ -n "$host" ] && kill "$host" 2>/dev/null
  wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null
  wait 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 50); do [ -s "$out/display" ] && break; sleep 0.1; done
# Wine processes started without a display must not be reused.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
export DISPLAY=":$(head -1 "$out/display")"
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null

# wait_for PATTERN SECONDS: wait until the host has printed a matching line.
wait_for() {
  for _ in $(seq $(($2 * 10))); do grep -q -- "$1" "$out/host.txt" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}
start_host() {
  : >"$out/host.txt"
  wine "$win32/dialog_host.exe" "$@" >"$out/host.txt" 2>&1 &
  host=$!
}
finish_host() { wait "$host" || fail "dialog host failed"; host=; tr -d '\r' <"$out/host.txt" >"$out/host.clean"; mv "$out/host.clean" "$out/host.txt"; }
press() {
  # Without a window manager nothing moves the focus: give it to the dialog.
  local window
  window=$(xdotool search --name "^TAVKO configuration\$" | head -1)
  [ -n "$window" ] || fail "no dialog window to press $1 in"
  xdotool windowfocus "$window"
  sleep 0.2
  xdotool key "$1"
  sleep 0.4
}
checks=0
ok() { checks=$((checks + 1)); }

# Function codes other than 1 show nothing.
for code in 0 2; do
  start_host $code
  finish_host
  grep -qx "result=-1 window-left=0" "$out/host.txt" || fail "code $code"
  grep -q "^boxes=" "$out/host.txt" && fail "code $code showed the dialog"
  ok
done

# First opening: nothing stored, every box clear, the MMX box usable on a
# processor with MMX.
wine reg delete "$key" /f >/dev/null 2>&1 || true
start_host 1 "$card16" "$card32"
wait_for "^boxes=" 60 || fail "the dialog did not open"
wait_for "before 16=24 32=24" 5 || fail "depths before"
grep -q "boxes=16:0 32:0 mmx:0 mmx-enabled:1" "$out/host.txt" || fail "initial boxes"
ok
sleep 0.5
import -window root -crop 330x210+0+0 "$out/dialog.png"

# Escape and Enter leave it open.
press Escape
press Return
sleep 0.5
grep -q "^result=" "$out/host.txt" && fail "Escape or Enter closed the dialog"
ok

# Tick "16bit" (it has the focus) and press "Done" with Alt+D.
press space
wait_for "boxes=16:1 32:0 mmx:0" 5 || fail "ticking 16bit"
import -window root -crop 330x210+0+0 "$out/dialog-ticked.png"
press alt+d
wait_for "^result=" 10 || fail "Done did not close the dialog"
finish_host
grep -qx "result=0 window-left=0" "$out/host.txt" || fail "result after Done"
grep -qx "after 16=16 32=24" "$out/host.txt" || fail "the same process sees the new depth at once"
ok
stored=$(wine reg query "$key" | tr -d '\r' | awk '/REG_/ {print $1 "=" $2 ":" $3}' | tr '\n' ' ')
[ "$stored" = "16=REG_DWORD:0x1 32=REG_DWORD:0x0 MMX=REG_DWORD:0x0 " ] || fail "stored values: $stored"
ok

# A stored 5 shows unchecked and is stored back as 0; MMX=1 shows checked.
wine reg add "$key" /v 32 /t REG_DWORD /d 5 /f >/dev/null
wine reg add "$key" /v MMX /t REG_DWORD /d 1 /f >/dev/null
start_host 1 "$card16" "$card32"
wait_for "^boxes=" 60 || fail "the dialog did not open again"
grep -q "before 16=16 32=32" "$out/host.txt" || fail "a stored 5 counts as set"
grep -q "boxes=16:1 32:0 mmx:1 mmx-enabled:1" "$out/host.txt" || fail "boxes from stored values"
press alt+d
wait_for "^result=" 10 || fail "Done did not close the dialog"
finish_host
grep -qx "after 16=16 32=24" "$out/host.txt" || fail "depths after storing 0 over 5"
stored=$(wine reg query "$key" | tr -d '\r' | awk '/REG_/ {print $1 "=" $3}' | tr '\n' ' ')
[ "$stored" = "16=0x1 32=0x0 MMX=0x1 " ] || fail "stored values: $stored"
ok
# tavko.exe config opens the same dialog and ends with it.
wine "$win32/tavko.exe" config >"$out/config.txt" 2>&1 &
host=$!
for _ in $(seq 100); do xdotool search --name "^TAVKO configuration\$" >/dev/null 2>&1 && break; sleep 0.2; done
press alt+d
wait "$host" || fail "tavko config failed: $(cat "$out/config.txt")"
host=
ok
wine reg delete "$key" /f >/dev/null
echo "$checks dialog checks passed; screenshots in $out"
