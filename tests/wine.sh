#!/usr/bin/env bash
# The Windows build under wine: its own test suite, then files exchanged with
# the Linux build in both directions, and the two builds' answers to the same
# mistakes compared.
# Usage: tests/wine.sh [linux-Tarnwick]   (default build/ci/tool/Tarnwick)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
linux=$(realpath "${1:-build/ci/tool/Tarnwick}")

cmake --preset windows
cmake --build --preset windows

cache=$root/build/windows/CMakeCache.txt
wine=$(sed -n 's/^TARNWICK_WINE:FILEPATH=//p' "$cache")
wineserver=$(sed -n 's/^TARNWICK_WINESERVER:FILEPATH=//p' "$cache")
exe=$root/build/windows/tool/Tarnwick.exe
export WINEDEBUG=-all WINEPREFIX=$root/build/windows/wineprefix
windows() { "$wine" "$exe" "$@"; }

# One wine server, its prefix made, for every run below; gone at the end.
# Its services outlive wineboot, so none of them may hold a pipe of ours.
mkdir -p "$WINEPREFIX"
"$wineserver" -p > /dev/null 2>&1 < /dev/null
"$wine" wineboot > /dev/null 2>&1 < /dev/null
work=$(mktemp -d "$root/build/windows/exchange.XXXXXX")
trap '"$wineserver" -k; rm -rf "$work"' EXIT

ctest --preset windows

cd "$work"  # relative names: the same file for both builds
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Encrypts with one build, decrypts with the other, and expects the input back.
exchange() {
  local from=$1 to=$2 size=$3 password=$4
  rm -f plain sealed restored
  head -c "$size" /dev/urandom > plain
  "$from" -e "$password" plain sealed
  "$to" -d "$password" sealed restored
  cmp -s plain restored || fail "$size bytes from $from to $to"
}

password='correct horse, battery staple!'
for size in 0 1 4 5 7 8 1000 3145733; do
  exchange "$linux" windows "$size" "$password"
  exchange windows "$linux" "$size" "$password"
done

# Both builds must encrypt to the same bytes: the format has no salt or IV.
head -c 4099 /dev/urandom > plain
rm -f by-linux by-windows
"$linux" -e "$password" plain by-linux
windows -e "$password" plain by-windows
cmp -s by-linux by-windows || fail "the builds encrypt differently"

# A Windows console ends each line in CR LF; the texts and statuses match.
answers() {
  local status=0 output
  output=$("$@" | tr -d '\r') || status=$?
  printf '%s|%s' "$output" "$status"
}
printf 'short' > five
printf '\r\n12345678' > misaligned
for args in "" "-e a" "-x a plain out" "-e a missing out" "-e a plain plain" \
            "-d a five out" "-d a misaligned out" "-d wrong by-linux out"; do
  # shellcheck disable=SC2086  # the words are the arguments
  [ "$(answers "$linux" $args)" = "$(answers windows $args)" ] ||
    fail "different answers to: $args"
done
[ ! -e out ] || fail "a failed run left an output"
! ls -A | grep -q '^\.Tarnwick-' || fail "a run left its temporary behind"

if [ "$failures" -gt 0 ]; then
  echo "$failures exchange checks failed"
  exit 1
fi
echo "Linux and Windows builds agree"
