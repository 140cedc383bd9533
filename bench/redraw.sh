#!/usr/bin/env bash
# Redraws docs/cipher.svg and docs/whole-run.svg on this machine, and the
# tables of their figures in docs/performance.md: builds the bench preset,
# times the cipher (blowfish_bench: medians of 5 repetitions run in random
# order, so that a change of load meets every series alike) and whole runs
# of 256 MiB (bench/whole-run.sh), and draws them with bench/plot.py.
# Takes about six minutes; run it on an otherwise idle machine, as the
# pictures say how busy it was. Raw results stay in build/bench/figures.
# Usage: bench/redraw.sh [runs=5]
set -euo pipefail
cd "$(dirname "$0")/.."
missing=()
for package in cmake ninja-build g++ libbenchmark-dev libssl-dev openssl \
    libgcrypt20-dev nettle-dev python3-matplotlib time; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "redraw: first install what it needs: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi

cmake --preset bench >/dev/null && cmake --build --preset bench -j2
results=build/bench/figures
mkdir -p $results
cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
cpu=${cpu:-$(uname -m)}
echo "redraw: timing the cipher (about four minutes; the table goes to $results/cipher.txt)"
build/bench/bench/blowfish_bench --benchmark_filter='^(Kernel_|OpenSSL_encrypt|gcrypt|nettle)' \
  --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true \
  "--benchmark_context=cpu=${cpu//,/}" \
  --benchmark_out=$results/cipher.json --benchmark_out_format=json >$results/cipher.txt
bash bench/whole-run.sh -o $results/whole-run.json build/bench/tool/Tarnwick 256M "${1:-5}"
/usr/bin/python3 bench/plot.py $results/cipher.json $results/whole-run.json docs
echo "redraw: docs/cipher.svg, docs/whole-run.svg and the tables in docs/performance.md redrawn"
