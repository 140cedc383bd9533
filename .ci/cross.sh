#!/usr/bin/env bash
# cross.sh ARCH NATIVE_BINARY: the cross build for ARCH (s390x, aarch64) and
# its test suite under qemu-user, then files and messages exchanged between
# its binary, run through qemu, and the native one. ctest leaves out the
# end-to-end script: it starts the binary directly, which a foreign one
# cannot be without binfmt_misc, and its memory limits would bind qemu.
set -euo pipefail
cd "$(dirname "$0")/.."
arch=$1 native=$(realpath "$2")
CMAKE_BUILD_PARALLEL_LEVEL=2 cmake --workflow --preset "$arch"
bash .ci/exchange.sh "$native" "qemu-$arch" -L "/usr/$arch-linux-gnu" \
  "$PWD/build/$arch/tool/Tarnwick"
