#!/usr/bin/env bash
# dist.sh: each desktop's release executable, built in build/TARGET by the
# `zig` preset (Linux, macOS) or the `release` preset with MinGW-w64
# (Windows), copied into build/dist under a name that carries the version
# and the target, with a SHA256SUMS beside them. Every build starts from an
# empty folder: ninja would keep objects that an older wrapper compiled, as
# the compiler's command line names the wrapper, not the flags inside it.
set -euo pipefail
cd "$(dirname "$0")/.."
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
# The macOS version is the oldest the executables load on: Zig 0.11 carries
# the macOS headers from 11 on, where Apple silicon starts too.
declare -A zig_targets=([x86_64-linux]=x86_64-linux-musl
  [aarch64-linux]=aarch64-linux-musl [x86_64-macos]=x86_64-macos.11.0
  [aarch64-macos]=aarch64-macos.11.0)
targets=(x86_64-linux aarch64-linux x86_64-macos aarch64-macos x86_64-windows)

# Zig first, so a failed download stops here with npm's own error rather
# than amid CMake's compiler checks.
bash cmake/zig.sh >/dev/null
rm -rf build/dist && mkdir -p build/dist
for target in "${targets[@]}"; do
  echo "dist: $target" >&2
  suffix= && rm -rf "build/$target"
  if [ "$target" = x86_64-windows ]; then
    suffix=.exe
    cmake --preset release -B "build/$target" \
      --toolchain "$PWD/cmake/mingw-w64-x86_64.cmake" >/dev/null
  else
    cmake --preset zig -B "build/$target" \
      -DTARNWICK_ZIG_TARGET="${zig_targets[$target]}" >/dev/null
  fi
  cmake --build "build/$target" --target Tarnwick
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' \
    "build/$target/CMakeCache.txt")
  cp "build/$target/tool/Tarnwick$suffix" \
    "build/dist/Tarnwick-$version-$target$suffix"
done
cd build/dist && sha256sum Tarnwick-* >SHA256SUMS && cat SHA256SUMS
