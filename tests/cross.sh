#!/usr/bin/env bash
# cross.sh ARCH NATIVE_BINARY: the cross build for ARCH (s390x, aarch64) and
# its test suite under qemu-user, then the binary end to end and its files
# and messages exchanged with the native build, both through a wrapper that
# starts it under qemu (ctest leaves the end-to-end cases out: they start the
# binary directly, which a foreign one cannot be without binfmt_misc).
set -euo pipefail
cd "$(dirname "$0")/.."
arch=$1 native=$(realpath "$2") wrapper=$PWD/build/$1/Tarnwick-qemu
CMAKE_BUILD_PARALLEL_LEVEL=2 cmake --workflow --preset "$arch"
printf '#!/bin/sh\nexec qemu-%s -L /usr/%s-linux-gnu %s "$@"\n' "$arch" "$arch" \
  "$PWD/build/$arch/tool/Tarnwick" >"$wrapper" && chmod +x "$wrapper"
bash tests/cli.sh "$wrapper"
bash tests/exchange.sh "$native" "$wrapper"
