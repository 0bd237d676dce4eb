#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine.
# Safe to run again: it only installs what is missing.
set -euo pipefail

if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  updated=0
else
  updated=1
fi

for p in cmake g++ make file libgtest-dev libbenchmark-dev libpng-dev libdeflate-dev libisal-dev zlib1g-dev libstb-dev pkg-config \
         g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 libz-mingw-w64-dev \
         g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
         wine wine32:i386 wine64 xvfb xdotool imagemagick valgrind man-db clang-14 libclang-rt-14-dev \
         libgdk-pixbuf-2.0-dev libgdk-pixbuf2.0-bin shared-mime-info eog dbus-daemon \
         libcli11-dev qtbase5-dev qt6-base-dev qt6-base-dev-tools lximage-qt nsis zip unzip \
         debhelper dpkg-dev fakeroot lintian; do
  have "$p" || need+=("$p")
done

if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  if [ "$updated" = 0 ] || [ ! -f /var/lib/apt/lists/lock ] || \
     [ -z "$(ls /var/lib/apt/lists/ 2>/dev/null | grep -m1 i386)" ]; then
    $SUDO apt-get update -qq
  fi
  if ! $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null; then
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
  fi
fi

# A kernel that runs no 32-bit programs (some sandboxes) leaves Wine's 32-bit
# side dead: the tests that need it then run in a virtual machine under
# QEMU, from a kit of Debian's kernel and BusyBox (tests/vm/make-kit.sh).
# TAVKO_NO_WINE32=1 does the same on a machine that runs them, to try it.
if [ "${TAVKO_NO_WINE32:-0}" = 1 ] || ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  vm=()
  for p in qemu-system-x86 cpio; do have "$p" || vm+=("$p"); done
  if [ ${#vm[@]} -gt 0 ]; then
    echo "setup: this kernel runs no 32-bit programs; installing ${vm[*]}"
    $SUDO apt-get install -y -qq --no-install-recommends "${vm[@]}" >/dev/null
  fi
  bash "$(dirname "$0")/../tests/vm/make-kit.sh" "$(cd "$(dirname "$0")/.." && pwd)/build/vm-kit"
fi
echo "setup: all build and test tools are present"
