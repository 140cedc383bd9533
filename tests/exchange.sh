#!/usr/bin/env bash
# This build and another (a cross build under an emulator) exchange files:
# each decrypts what the other encrypts, both encrypt alike, and both answer
# the same mistakes with the same message and status.
# Usage: tests/exchange.sh NATIVE_TARNWICK FOREIGN_COMMAND...
set -euo pipefail
native=$(realpath "$1")
shift
foreign=("$@")
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT && cd "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
native() { "$native" "$@"; }
foreign() { "${foreign[@]}" "$@"; }

password='correct horse, battery staple!'
for size in 0 1 4 5 7 8 1000 3145733; do
  head -c $size /dev/urandom >plain
  for from in native foreign; do
    to=$([ $from = native ] && echo foreign || echo native)
    rm -f sealed restored
    $from -e "$password" plain sealed && $to -d "$password" sealed restored
    cmp -s plain restored || fail "$size bytes from $from to $to"
  done
  native -e "$password" plain again  # sealed is the foreign build's
  cmp -s sealed again || fail "the builds encrypt $size bytes differently"
  rm -f again
done

# Messages compared without the CR that a Windows console adds.
answers() { local status=0 out; out=$("$@" | tr -d '\r') || status=$?; printf '%s|%s' "$out" "$status"; }
printf 'short' >five
printf '\r\n12345678' >misaligned
for args in "" "-e a" "-x a plain out" "-e a missing out" "-e a plain plain" \
            "-d a five out" "-d a misaligned out" "-d wrong sealed out"; do
  # shellcheck disable=SC2086  # the words are the arguments
  [ "$(answers native $args)" = "$(answers foreign $args)" ] || fail "different answers to: $args"
done
[ -z "$(ls -A | grep -E '^(out|\.Tarnwick-.*)$')" ] || fail "a failed run left $(ls -A)"
[ $failures -eq 0 ] && echo "the two builds agree"
exit $((failures > 0))
