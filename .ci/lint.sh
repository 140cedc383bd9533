#!/usr/bin/env bash
# lint.sh: clang-tidy (checks in .clang-tidy) and cppcheck over every source
# of the lint preset's compile_commands.json, and clang-format (.clang-format)
# over every C++ file. Fails on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset lint >/dev/null
commands=build/lint
sources="^$PWD/(blowfish|md5|tool|tests|fuzz|bench)/"

run-clang-tidy -p "$commands" -quiet -j 2 "$sources" >"$commands/clang-tidy.log" 2>&1 || {
  grep -E -A4 '(warning|error):' "$commands/clang-tidy.log" >&2
  echo "lint: clang-tidy found problems; see $commands/clang-tidy.log" >&2
  exit 1
}
echo "lint: clang-tidy clean"

cppcheck --project="$commands/compile_commands.json" --library=googletest \
  --enable=warning,style,performance,portability --std=c++20 \
  --suppress=missingIncludeSystem --inline-suppr --error-exitcode=1 -q -j 2
echo "lint: cppcheck clean"

git ls-files -- '*.cc' '*.h' | xargs clang-format --dry-run --Werror
echo "lint: clang-format clean"
