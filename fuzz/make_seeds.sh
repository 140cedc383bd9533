#!/usr/bin/env bash
# make_seeds.sh DIR: writes one seed corpus per fuzzer under DIR, laid out as
# each fuzzer reads its input, from the published vectors in testdata/.
set -euo pipefail
out=$1
data="$(dirname "$0")/../testdata"
mkdir -p "$out/blowfish" "$out/md5" "$out/container"

bytes() {  # bytes HEX...: the bytes the hex digits spell; "-" spells none
  local hex
  for hex in "$@"; do
    [ "$hex" = - ] || printf '%b' "$(sed 's/../\\x&/g' <<<"$hex")"
  done
}

key_length_code() {  # the blowfish fuzzer's first byte for a key of $1 hex digits
  printf '%02x' $(( ${#1} / 2 + 2 ))
}

n=0
grep -v '^#' "$data/blowfish-ecb.txt" | while read -r key plain _; do
  bytes "$(key_length_code "$key")" "$key" "$plain" >"$out/blowfish/ecb-$((n += 1))"
done
grep -v '^#' "$data/blowfish-setkey.txt" | while read -r key _; do
  bytes "$(key_length_code "$key")" "$key" FEDCBA9876543210 \
    >"$out/blowfish/setkey-$((n += 1))"
done

# No cuts, then the same message cut at 1 and 56 bytes.
grep -v '^#' "$data/md5.txt" | sed -n 's/^[0-9a-f]* "\(.*\)"$/\1/p' |
  while IFS= read -r message; do
    n=$((n + 1))
    { bytes 00; printf '%s' "$message"; } >"$out/md5/whole-$n"
    { bytes 02 0100 3800; printf '%s' "$message"; } >"$out/md5/cut-$n"
  done

# The published encrypted files behind their passwords.
grep -v '^#' "$data/container.txt" | while read -r password _ file; do
  [ "$password" = - ] && length=0 || length=$(( ${#password} / 2 ))
  bytes "$(printf '%02x' "$length")" "$password" "$file" >"$out/container/file-$((n += 1))"
done
