#!/usr/bin/env bash
# This build and another (a cross build under an emulator) exchange files:
# each decrypts what the other encrypts, both encrypt alike, and both answer
# the same mistakes with the same message and status.
# Usage: .ci/exchange.sh NATIVE_TARNWICK FOREIGN_COMMAND...
set -uo pipefail
native=$(realpath "$1") && shift
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT && cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*" && failures=$((failures + 1)); }

password='correct horse, battery staple!'
for size in 0 4 5 1000 3145733; do
  head -c $size /dev/urandom >plain && rm -f mine theirs restored
  "$native" -e "$password" plain mine && "$@" -d "$password" mine restored &&
    cmp -s plain restored && "$@" -e "$password" plain theirs &&
    cmp -s mine theirs || fail "$size bytes"
done

# Messages compared without the CR that a Windows console adds.
answers() { out=$("$@" | tr -d '\r'); echo "$out|${PIPESTATUS[0]}"; }
printf 'short' >five && printf '\r\n12345678' >misaligned
for args in "" "-x a plain out" "-e a missing out" "-e a plain plain" \
    "-d a five out" "-d a misaligned out" "-d wrong mine out"; do
  [ "$(answers "$native" $args)" = "$(answers "$@" $args)" ] ||
    fail "answers to: $args"
done
[ -z "$(ls -A | grep -E '^(out|\.Tarnwick-.*)$')" ] || fail "left $(ls -A)"
[ $failures = 0 ] && echo "the two builds agree"
