#!/usr/bin/env bash
# desktop.sh NATIVE_BINARY: the static Linux executables (Zig, musl), the
# x86-64 one end to end and exchanging files and messages with the native
# build, and the aarch64 one exchanging under qemu-user; both macOS builds'
# tool and libraries linked (never run: this is Linux); then the dist workflow here
# and in a clone elsewhere, which must give the same bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
native=$(realpath "$1")
export CMAKE_BUILD_PARALLEL_LEVEL=2
elsewhere=$(mktemp -d) log=$(mktemp) && trap 'rm -rf "$elsewhere"* "$log"' EXIT
timed() {
  local start=$SECONDS
  "$@" >"$log" 2>&1 || { cat "$log" && return 1; }
  grep -h 'agree\|passed' "$log" || true
  echo "desktop: '$*' took $((SECONDS - start)) s"
}
build() { cmake --preset "$1" >/dev/null && cmake --build --preset "${@}"; }

timed bash cmake/zig.sh
for target in x86_64-linux aarch64-linux; do
  timed build $target --target Tarnwick
  file build/$target/tool/Tarnwick | grep -q 'statically linked' ||
    { echo "$target: not static" && exit 1; }
done
# tests/cli.sh leaves out the rows that need its preloaded interposer, which
# a static executable ignores.
timed bash tests/cli.sh build/x86_64-linux/tool/Tarnwick
timed bash .ci/exchange.sh "$native" "$PWD/build/x86_64-linux/tool/Tarnwick"
timed bash .ci/exchange.sh "$native" qemu-aarch64 "$PWD/build/aarch64-linux/tool/Tarnwick"
for target in x86_64-macos aarch64-macos; do
  timed build $target --target Tarnwick blowfish_shared md5_shared
done

timed cmake --workflow --preset dist
# The release executable for Windows, stripped and with no link time unlike
# the tested one, under wine where the Windows step installed it.
windows=("$PWD"/build/dist/Tarnwick-*-x86_64-windows.exe)
[ ! -x /usr/lib/wine/wine64 ] || WINEDEBUG=-all WINEPREFIX=$elsewhere.wine \
  timed bash .ci/exchange.sh "$native" /usr/lib/wine/wine64 "${windows[0]}"
git clone -q . "$elsewhere"
(cd "$elsewhere" && timed cmake --workflow --preset dist)
diff build/dist/SHA256SUMS "$elsewhere/build/dist/SHA256SUMS" &&
  echo "dist: the same bytes from two folders:" && cat build/dist/SHA256SUMS
