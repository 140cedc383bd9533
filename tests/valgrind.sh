#!/usr/bin/env bash
# valgrind.sh: every test program of the ci build under valgrind memcheck,
# each once as a whole (per-test runs would pay valgrind's start-up hundreds
# of times), two at a time. The binary that the end-to-end tests start runs
# under valgrind too. Any memory error or leak fails; the reports are in
# build/ci/valgrind/.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset ci >/dev/null
cmake --build --preset ci -j2
logs=build/ci/valgrind
rm -rf "$logs" && mkdir -p "$logs"

# Left out: races and kills test processes, not memory, and slowed down they
# would mostly test valgrind; a file-size limit stops valgrind itself; the
# binary's round trips repeat in-process ones at a hundred start-ups; and
# valgrind replaces the operator new that the allocation-failure test needs.
export GTEST_FILTER='-CliTest.ConcurrentRuns*:CliTest.KilledRuns*:CliTest.ReportsAFileSizeLimit:CliTest.RoundTrips*:OutOfMemoryTest.*'
find build/ci -name '*_test' -type f -perm -u+x -print0 |
  xargs -0 -P2 -I{} sh -c '
    log="$1/$(basename "$2").log"
    if valgrind --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
        --trace-children=yes --track-origins=yes "$2" >"$log" 2>&1; then
      echo "valgrind: $(basename "$2") clean"
    else
      tail -n 40 "$log"; echo "valgrind: $(basename "$2") failed; see $log" >&2; exit 255
    fi' _ "$logs" {}
