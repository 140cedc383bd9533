#!/usr/bin/env bash
# The Windows build under wine: its own test suite, then files and answers
# exchanged with the Linux build.
# Usage: .ci/wine.sh [linux-Tarnwick]   (default build/ci/tool/Tarnwick)
set -euo pipefail
cd "$(dirname "$0")/.."
linux=$(realpath "${1:-build/ci/tool/Tarnwick}")
cmake --preset windows && cmake --build --preset windows
cache=build/windows/CMakeCache.txt
wine=$(sed -n 's/^TARNWICK_WINE:FILEPATH=//p' $cache)
wineserver=$(sed -n 's/^TARNWICK_WINESERVER:FILEPATH=//p' $cache)
export WINEDEBUG=-all WINEPREFIX=$PWD/build/windows/wineprefix

# One wine server, its prefix made, for every run below: started afresh for
# every test, wine takes seconds each time and may drop a test that starts
# while the last one's server shuts down. Its services outlive wineboot, so
# none of them may hold a pipe of ours.
mkdir -p "$WINEPREFIX"
"$wineserver" -p >/dev/null 2>&1 </dev/null
"$wine" wineboot >/dev/null 2>&1 </dev/null
trap '"$wineserver" -k' EXIT
ctest --preset windows
bash .ci/exchange.sh "$linux" "$wine" "$PWD/build/windows/tool/Tarnwick.exe"

# A program holding the input open for writing refuses it: cmd keeps its
# redirection open while the run goes.
scratch=$(mktemp -d) && cp build/windows/tool/Tarnwick.exe "$scratch"
printf data >"$scratch/in"
refused=$(cd "$scratch" && "$wine" cmd /c "Tarnwick.exe -e pw in out 2>>in" ||
  true)
[ "$(echo "$refused" | tr -d '\r')" = 'Input file open failed.' ] &&
  [ ! -e "$scratch/out" ] && rm -r "$scratch" &&
  echo "an input open for writing is refused"
