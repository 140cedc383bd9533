#!/usr/bin/env bash
# run.sh [SECONDS]: builds the fuzz preset and runs each fuzzer for SECONDS
# (default 20), one after the other, from the testdata seeds plus the corpus
# that earlier runs kept in build/fuzz/corpus. Stops with a failure at the
# first finding; the input that caused it is left in build/fuzz/findings.
set -euo pipefail
seconds=${1:-20}
cd "$(dirname "$0")/.."

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2
build=build/fuzz
bash fuzz/make_seeds.sh "$build/seeds"
mkdir -p "$build/findings"

for target in blowfish md5 container; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  log="$build/$target.log"
  if ! "$build/fuzz/${target}_fuzzer" -max_total_time="$seconds" \
      -max_len=4096 -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$build/findings/$target-" \
      "$corpus" "$build/seeds/$target" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz: $target found a fault; see $log" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "fuzz: $target: $runs executions in ${seconds}s, no finding"
done
