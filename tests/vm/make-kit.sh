#!/usr/bin/env bash
# Makes the kit of the machine that runs 32-bit Windows programs where this
# kernel cannot: Debian's kernel, and a small first-process image with
# BusyBox and the kernel's 9p and virtio modules. Needs apt's package lists.
#   make-kit.sh KIT_DIR
set -euo pipefail
kit=$1
here=$(cd "$(dirname "$0")" && pwd)
kernel=$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: \(linux-image-[0-9].*\)/\1/p' | head -1)
[ -n "$kernel" ] || { echo "make-kit: no Debian kernel package found" >&2; exit 1; }
made="$kernel $(sha256sum <"$here/init" | cut -c1-16)"
if [ -f "$kit/vmlinuz" ] && [ -f "$kit/initramfs.gz" ] && [ "$(cat "$kit/made" 2>/dev/null)" = "$made" ]; then
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Root downloads as itself: apt's own user cannot write into this folder.
sandbox=(); [ "$(id -u)" = 0 ] && sandbox=(-o APT::Sandbox::User=root)
(cd "$work" && apt-get download -q "${sandbox[@]}" "$kernel" busybox-static >/dev/null)
dpkg-deb -x "$work"/linux-image-*.deb "$work/kernel"
dpkg-deb -x "$work"/busybox-static_*.deb "$work/busybox"
image=$work/image
mkdir -p "$image"/{bin,modules,proc,sys,dev,root}
cp "$work/busybox/bin/busybox" "$image/bin/"
cp "$here/init" "$image/init"
chmod 755 "$image/init"
# The 9p file system over virtio, and what it needs, in the order to load
# them (each module names its own dependencies in its "depends=" field).
modules=$(echo "$work"/kernel/lib/modules/*/kernel)
order=()
want() {
  local m=$1 d file
  for d in "${order[@]}"; do [ "$d" = "$m" ] && return; done
  file=$(find "$modules" -name "$m.ko" | head -1)
  [ -n "$file" ] || { echo "make-kit: no module $m" >&2; exit 1; }
  for d in $(grep -ao 'depends=[a-z0-9_,-]*' "$file" | head -1 | cut -d= -f2 | tr , ' '); do want "$d"; done
  cp "$file" "$image/modules/"
  order+=("$m")
}
for m in virtio_pci 9pnet_virtio 9p; do want "$m"; done
echo "${order[*]}" >"$image/modules/order"
mkdir -p "$kit"
(cd "$image" && find . | cpio -o -H newc --quiet | gzip -1) >"$kit/initramfs.gz"
cp "$work"/kernel/boot/vmlinuz-* "$kit/vmlinuz"
echo "$made" >"$kit/made"
echo "make-kit: $kernel in $kit"
