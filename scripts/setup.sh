#!/usr/bin/env bash
# Installs what a job needs on a Debian 12 machine, and no more:
#   setup.sh run    the main job (scripts/run.sh): the Linux build of tavko,
#                   the two mingw toolchains and Wine;
#   setup.sh test   (the default) everything the builds, the tests and the
#                   packages use: the run set and the rest.
# Safe to run again: it only installs what is missing.
set -euo pipefail
set_name=${1:-test}
case "$set_name" in run|test) ;; *) echo "usage: setup.sh [run|test]" >&2; exit 2 ;; esac

if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# The main job: tavko for Linux, TAVKO.SPI and TAVKO.SPH with their
# tavko.exe, and Wine to run them.
run_set=(cmake g++ make pkg-config file libpng-dev libdeflate-dev libisal-dev zlib1g-dev libcli11-dev
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  libz-mingw-w64-dev wine wine32:i386 wine64)
# The tests, benchmarks, desktop front ends and packages on top.
test_set=(libgtest-dev libbenchmark-dev libstb-dev xvfb xdotool imagemagick valgrind man-db
  clang-14 libclang-rt-14-dev
  libgdk-pixbuf-2.0-dev libgdk-pixbuf2.0-bin shared-mime-info eog dbus-daemon
  qtbase5-dev qt6-base-dev qt6-base-dev-tools lximage-qt nsis zip unzip
  debhelper dpkg-dev fakeroot lintian mmdebstrap
  python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pil python3-pytest python3-distributed
  python3-pip python3-setuptools python3-venv dh-python bash-completion
  chromium wasi-libc libc++-14-dev-wasm32 libc++abi-14-dev-wasm32 libclang-rt-14-dev-wasm32 lld-14)

wanted=("${run_set[@]}")
[ "$set_name" = test ] && wanted+=("${test_set[@]}")
# The web package's tests run under Node: Debian's, unless the machine has one.
[ "$set_name" = test ] && ! command -v node >/dev/null && wanted+=(nodejs)
# A kernel that runs no 32-bit programs (some sandboxes) leaves Wine's 32-bit
# side dead: the tests that need it then run in a virtual machine under
# QEMU, from a kit of Debian's kernel and BusyBox (tests/vm/make-kit.sh).
vm=0
if [ "$set_name" = test ] && [ -x /usr/lib/wine/wine ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  vm=1
fi

need=()
for p in "${wanted[@]}"; do have "$p" || need+=("$p"); done
if [ ${#need[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  echo "setup: installing ${need[*]}"
  # A fresh machine's package lists may be missing or older than the mirror.
  if [ -z "$(ls /var/lib/apt/lists/ 2>/dev/null | grep -m1 'i386_Packages')" ]; then
    $SUDO apt-get update -qq
  fi
  install() { $SUDO apt-get -o DPkg::Lock::Timeout=1200 install -y -qq --no-install-recommends "$@" >/dev/null; }
  if ! install "${need[@]}"; then
    $SUDO apt-get update -qq
    install "${need[@]}"
  fi
fi
# Wine's 32-bit side may only now be installed. TAVKO_NO_WINE32=1 takes
# the machine's way on a machine that runs 32-bit programs.
if [ "$set_name" = test ] && { [ "${TAVKO_NO_WINE32:-0}" = 1 ] || ! /usr/lib/wine/wine --version >/dev/null 2>&1; }; then
  vm=1
fi

if [ "$vm" = 1 ]; then
  kitneed=()
  for p in qemu-system-x86 cpio; do have "$p" || kitneed+=("$p"); done
  if [ ${#kitneed[@]} -gt 0 ]; then
    echo "setup: this kernel runs no 32-bit programs; installing ${kitneed[*]}"
    $SUDO apt-get -o DPkg::Lock::Timeout=1200 install -y -qq --no-install-recommends "${kitneed[@]}" >/dev/null
  fi
  bash "$(dirname "$0")/../tests/vm/make-kit.sh" "$(cd "$(dirname "$0")/.." && pwd)/build/vm-kit"
fi
echo "setup: the tools of the $set_name set are present"
