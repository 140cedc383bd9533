#!/usr/bin/env bash
# fuzz.sh [SECONDS=60]: each libFuzzer target for SECONDS under ASan and UBSan,
# the container fuzzer seeded with the published files. Findings go to
# build/fuzz/findings.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j2
corpus=build/fuzz/corpus findings=build/fuzz/findings
mkdir -p $corpus/blowfish $corpus/container $findings
grep -v '^#' testdata/container.txt | while read -r password _ file; do
  [ "$password" = - ] && password=''
  printf "\\x$(printf %02x $((${#password} / 2)))" | cat - <(xxd -r -p <<<"$password$file") >$corpus/container/$file
done
for target in blowfish container; do
  build/fuzz/fuzz/${target}_fuzzer -max_total_time="${1:-60}" -artifact_prefix=$findings/ $corpus/$target
done
