#!/usr/bin/env bash
# desktop.sh NATIVE_BINARY: the dist executables (packaging/dist.sh): the
# static Linux ones, the x86-64 one end to end and exchanging files and
# messages with the native build, the aarch64 one under qemu-user and the
# Windows one under wine where it is installed; the macOS builds' libraries
# linked too and the executables' minimum version checked (never run: this
# is Linux); then dist in a clone elsewhere, which must give the same bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
native=$(realpath "$1")
elsewhere=$(mktemp -d) log=$(mktemp) && trap 'rm -rf "$elsewhere"* "$log"' EXIT
timed() {
  local start=$SECONDS
  "$@" >"$log" 2>&1 || { cat "$log" && return 1; }
  grep -h 'agree\|passed' "$log" || true
  echo "desktop: '$*' took $((SECONDS - start)) s"
}
# The oldest macOS a Mach-O file loads on: the minos of its LC_BUILD_VERSION
# load command (0x32), after the 32-byte header whose fifth word counts the
# commands (xnu's EXTERNAL_HEADERS/mach-o/loader.h).
macos_minimum() {
  local words offset=32 i
  read -ra words < <(od -An -v -t u4 -N 65536 "$1" | tr -s ' \n' '  ')
  for ((i = 0; i < words[4]; i++)); do
    if [ "${words[offset / 4]}" = 50 ]; then
      local minos=${words[offset / 4 + 3]}
      echo "$((minos >> 16)).$((minos >> 8 & 255))" && return
    fi
    offset=$((offset + words[offset / 4 + 1]))
  done
}

timed bash packaging/dist.sh
executable() { local file=(build/dist/Tarnwick-*-"$1"*) && realpath "${file[0]}"; }
for target in x86_64-linux aarch64-linux; do
  file "$(executable $target)" | grep -q 'statically linked' ||
    { echo "$target: not static" && exit 1; }
done
# tests/cli.sh leaves out the rows that need its preloaded interposer, which
# a static executable ignores.
timed bash tests/cli.sh "$(executable x86_64-linux)"
# musl's own signal handling, on the hidden-temporary path a FUSE mount takes.
timed bash .ci/exfat.sh "$(executable x86_64-linux)"
timed bash .ci/exchange.sh "$native" "$(executable x86_64-linux)"
timed bash .ci/exchange.sh "$native" qemu-aarch64 "$(executable aarch64-linux)"
# The release executable for Windows, stripped and with no link time unlike
# the tested one, under wine where the Windows step installed it.
[ ! -x /usr/lib/wine/wine64 ] || WINEDEBUG=-all WINEPREFIX=$elsewhere.wine \
  timed bash .ci/exchange.sh "$native" /usr/lib/wine/wine64 \
  "$(executable x86_64-windows)"
for target in x86_64-macos aarch64-macos; do
  timed cmake --build build/$target --target blowfish_shared md5_shared
  wanted=$(sed -n 's/^TARNWICK_ZIG_TARGET:.*macos\.//p' \
    build/$target/CMakeCache.txt)
  [ "$(macos_minimum "$(executable $target)")" = "$wanted" ] ||
    { echo "$target: does not say it needs macOS $wanted" && exit 1; }
  echo "$target: needs macOS $wanted"
done

git clone -q . "$elsewhere"
(cd "$elsewhere" && timed bash packaging/dist.sh)
diff build/dist/SHA256SUMS "$elsewhere/build/dist/SHA256SUMS" &&
  echo "dist: the same bytes from two folders:" && cat build/dist/SHA256SUMS
