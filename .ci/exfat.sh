#!/usr/bin/env bash
# Both options round trip onto exfat over FUSE, a mount with neither hard
# links nor renames that refuse to replace, and a name taken there stays;
# an input rewritten there mid-run, keeping its size and time, is never
# sealed torn. Needs root, setpriv, a loop device and /dev/fuse.
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
truncate -s 512M "$work/image" && mkfs.exfat "$work/image" >/dev/null
device=$(losetup -f --show "$work/image")
mkdir "$work/mount" && mount.exfat-fuse -o allow_other "$device" "$work/mount"
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

# A reader who is not the input's owner holds no lease, and exfat keeps
# whole seconds (and no time set by hand): an input rewritten at both ends
# within the second of its last write, while the run is stopped mid-read,
# keeps its size and time, and only the watch on it sees the writes. The
# run fails, or (stopped before it opened the input) seals one version.
chmod 755 "$work" && cp "$bin" "$work/Tarnwick"
head -c 128M /dev/urandom >"$work/old" && head -c 1M /dev/urandom >"$work/end"
rewrite() {
  for at in 0 127; do
    dd if="$work/end" of="$1" bs=1M seek=$at conv=notrunc status=none
  done
}
cp "$work/old" "$work/new" && rewrite "$work/new"
for try in 1 2 3; do
  cp "$work/old" input && sync input
  until [ "$(date +%N | cut -c1)" = 0 ]; do sleep 0.02; done
  dd if="$work/old" of=input count=1 conv=notrunc status=none && sync input
  setpriv --reuid=65534 --regid=65534 --clear-groups "$work/Tarnwick" \
    -e pw input sealed >"$work/out" &
  sleep 0.1 && kill -STOP $! && rewrite input && sync input && kill -CONT $!
  status=0 && wait $! || status=$?
  if [ $status = 0 ]; then
    "$bin" -d pw sealed restored
    cmp -s restored "$work/old" || cmp -s restored "$work/new" ||
      { echo "exfat: a rewritten input sealed torn, try $try" && exit 1; }
    rm sealed restored
  else
    [ "$status $(cat "$work/out")" = '1 Input file read failed.' ] &&
      [ "$(ls -A | tr '\n' ' ')" = 'input plain ' ] ||
      { echo "exfat: $status $(cat "$work/out"), left $(ls -A)" && exit 1; }
  fi
done
# Signal 34 (SIGRTMIN to glibc and the shells), which musl keeps for itself
# and refuses a handler, ends a run mid-way all the same, and removes its
# hidden temporary: run this with the static executable too.
"$bin" -e pw input sealed &
sleep 0.1 && kill -34 $!
status=0 && wait $! 2>/dev/null || status=$?
[ "$status $(ls -A | tr '\n' ' ')" = '162 input plain ' ] ||
  { echo "exfat: signal 34: $status, left $(ls -A)" && exit 1; }
echo "exfat over FUSE: round trips pass, rewritten inputs never torn, signal 34 cleans up"
