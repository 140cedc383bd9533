#!/usr/bin/env bash
# cross.sh ARCH NATIVE_BINARY: the cross build for ARCH (s390x, aarch64) and
# its test suite under qemu-user, then files and messages exchanged between
# it and the native build. The suite leaves out CliTest, whose cases start
# the binary directly, which a foreign binary cannot be without binfmt_misc;
# the exchange runs that binary end to end through qemu instead.
set -euo pipefail
cd "$(dirname "$0")/.."
arch=$1 native=$(realpath "$2")
CMAKE_BUILD_PARALLEL_LEVEL=2 cmake --workflow --preset "$arch"
cache=build/$arch/CMakeCache.txt
qemu=$(sed -n 's/^TARNWICK_QEMU:FILEPATH=//p' "$cache")
triple=$(sed -n 's/^TARNWICK_CROSS_TRIPLE:[A-Z]*=//p' "$cache")
bash tests/exchange.sh "$native" "$qemu" -L "/usr/$triple" \
  "$PWD/build/$arch/tool/Tarnwick"
