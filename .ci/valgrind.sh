#!/usr/bin/env bash
# Every test program of the ci build under valgrind memcheck; any memory
# error or leak fails. Reports in build/ci/valgrind/. Left out: the test that
# replaces operator new, which valgrind replaces itself, and a 512 MiB digest.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset ci >/dev/null && cmake --build --preset ci -j2
logs=build/ci/valgrind && rm -rf $logs && mkdir -p $logs
find build/ci -name '*_test' -type f -perm -u+x -print0 | xargs -0 -P2 -I{} sh -c '
  if valgrind --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
      "$1" --gtest_filter=-*Tables*:*HugeMessages* >"$2/${1##*/}.log" 2>&1; then echo "valgrind: ${1##*/} clean"
  else tail -n 40 "$2/${1##*/}.log"; echo "valgrind: ${1##*/} failed" >&2; exit 255; fi' _ {} $logs
# The binary itself, through the platform's file layer.
head -c 1000000 /dev/urandom >$logs/plain && rm -f $logs/sealed $logs/restored
for run in "-e pw $logs/plain $logs/sealed" "-d pw $logs/sealed $logs/restored"; do
  valgrind -q --error-exitcode=99 --leak-check=full build/ci/tool/Tarnwick $run
done
cmp $logs/plain $logs/restored && echo "valgrind: Tarnwick clean"
