#!/usr/bin/env bash
# valgrind.sh: the ci build's test suite under valgrind memcheck. A test with
# any memory error or leak fails; the reports are in
# build/ci/Testing/Temporary/MemoryChecker.*.log.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset ci >/dev/null
cmake --build --preset ci -j2
# The package test only drives cmake; nothing of ours runs under it.
ctest --test-dir build/ci -T memcheck -j2 --output-on-failure \
  -E '^installed_package_consumer$' \
  --overwrite MemoryCheckCommand="$(command -v valgrind)" \
  --overwrite "MemoryCheckCommandOptions=--error-exitcode=1 --leak-check=full --trace-children=yes --track-origins=yes"
