#!/usr/bin/env bash
# Both options round trip onto exfat over FUSE, a mount with neither hard
# links nor renames that refuse to replace, and a name taken there stays.
# Needs root, a loop device and /dev/fuse.
# Usage: .ci/exfat.sh TARNWICK
set -euo pipefail
bin=$(realpath "$1")
work=$(mktemp -d)
device=
cleanup() {
  cd /
  umount "$work/mount" 2>/dev/null || true
  [ -z "$device" ] || losetup -d "$device"
  rm -rf "$work"
}
trap cleanup EXIT
truncate -s 64M "$work/image" && mkfs.exfat "$work/image" >/dev/null
device=$(losetup -f --show "$work/image")
mkdir "$work/mount" && mount.exfat-fuse "$device" "$work/mount"
cd "$work/mount"
for size in 0 1000 5000000; do
  head -c $size /dev/urandom >plain
  "$bin" -e pw plain sealed && "$bin" -d pw sealed restored &&
    cmp plain restored && [ "$(ls -A | tr '\n' ' ')" = 'plain restored sealed ' ]
  rm sealed restored
done
before=$(sha256sum <plain)
[ "$("$bin" -e pw plain plain)" = 'Output file open failed.' ] &&
  [ "$(sha256sum <plain)" = "$before" ]
echo "exfat over FUSE: round trips pass"
