#!/usr/bin/env bash
# Runs a test script inside a virtual machine (QEMU) whose kernel runs
# 32-bit programs, for machines whose own kernel cannot: the machine sees
# this machine's files read-only and the repository read-write at the same
# paths, and the script runs there with the environment it was given (less
# the 64-bit-only Wine of wine-env.sh). Software emulation: several times
# slower than this machine.
#   vm-run.sh SCRIPT ARGS...   (exit status: the script's)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
kit=$root/build/vm-kit
run=$root/build/vm-runs/$$
say() { echo "vm-run: $*" >&2; }
case "$root" in *[[:space:]]*) say "the repository's path holds a space: $root"; exit 1 ;; esac
[ -f "$kit/vmlinuz" ] && [ -f "$kit/initramfs.gz" ] || { say "no kit in $kit (tests/vm/make-kit.sh makes it)"; exit 1; }
rm -rf "$run"; mkdir -p "$run"
{
  export -p | grep -Ev '^declare -x (PATH|WINELOADER|TAVKO_WINE32|TAVKO_NO_WINE32|DISPLAY|XAUTHORITY|DBUS_SESSION_BUS_ADDRESS|XDG_RUNTIME_DIR|OLDPWD|PWD|SHLVL|TMPDIR)='
  echo 'export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin TAVKO_IN_VM=1'
  printf 'cd %q\n' "$PWD"
  printf '%q ' bash "$@"; echo
  echo 'status=$?'
  echo '[ -n "${WINEPREFIX:-}" ] && wineserver -w 2>/dev/null'
  echo 'exit $status'
} >"$run/job.sh"
# A wineserver of this machine still holding the prefix would write its
# registry over the one the virtual machine leaves.
[ -n "${WINEPREFIX:-}" ] && wineserver -w 2>/dev/null || true

# The newest processor QEMU emulates, less the protections under which its
# emulation faulted on the return to user mode that Wine's 64-bit side
# makes (iretq); one page-table level fewer as well.
status=0
qemu-system-x86_64 -accel tcg,thread=multi -smp 2 -m 6G -cpu max,-smap,-smep,-pku,-la57 \
  -display none -monitor none -serial "file:$run/console.log" -no-reboot \
  -kernel "$kit/vmlinuz" -initrd "$kit/initramfs.gz" \
  -append "console=ttyS0 panic=-1 loglevel=1 tavko.repo=$root tavko.job=$run/job.sh" \
  -virtfs local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap \
  -virtfs "local,path=$root,mount_tag=repo,security_model=none" 2>"$run/qemu.err" || status=$?
cat "$run/job.out" 2>/dev/null || true
cat "$run/job.err" >&2 2>/dev/null || true
if [ ! -f "$run/job.status" ]; then
  if [ "$status" != 0 ]; then
    say "QEMU failed (exit $status):"; cat "$run/qemu.err" >&2
  fi
  say "the virtual machine stopped before $(basename "$1") ended; its console:"
  grep -a '^tavko-vm:' "$run/console.log" >&2 || tail -30 "$run/console.log" >&2
  exit 1
fi
status=$(cat "$run/job.status")
rm -rf "$run"
exit "$status"
