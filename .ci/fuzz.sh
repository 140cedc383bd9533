#!/usr/bin/env bash
# fuzz.sh [SECONDS=60]: the container fuzzer for SECONDS under ASan and UBSan,
# seeded with the published files. Findings go to
# build/fuzz/findings.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j2
# Stacks are symbolized by the llvm-symbolizer of the clang that built the
# fuzzer (llvm-14 on Debian 12), whatever is on the PATH.
symbolizer=$(clang++ -print-prog-name=llvm-symbolizer)
export ASAN_SYMBOLIZER_PATH=$symbolizer UBSAN_SYMBOLIZER_PATH=$symbolizer
corpus=build/fuzz/corpus findings=build/fuzz/findings
mkdir -p $corpus/container $findings
# Each seed is the password's length, the password and the file, in bytes;
# the hex is spelt out by printf, which a minimal system has (xxd it lacks).
grep -v '^#' testdata/container.txt | while read -r password _ file; do
  [ "$password" = - ] && password=''
  hex=$(printf %02x $((${#password} / 2)))$password$file
  printf '%b' "$(sed 's/../\\x&/g' <<<"$hex")" >$corpus/container/$file
done
build/fuzz/fuzz/container_fuzzer -max_total_time="${1:-60}" -artifact_prefix=$findings/ $corpus/container
