#!/usr/bin/env bash
# Times whole runs of Tarnwick against `openssl enc` with Blowfish-ECB under
# the same key, on the same file from page cache, in alternating runs, and
# prints the median wall time, the ratio and the peak RSS of each.
# Usage: bench/whole-run.sh [Tarnwick] [MiB=256] [runs=5]
set -euo pipefail
cd "$(dirname "$0")/.."
tarnwick=$(realpath "${1:-build/release/tool/Tarnwick}")
mib=${2:-256}
runs=${3:-5}
password='whole-run password'
key=$(printf %s "$password" | openssl md5 -r | cut -d' ' -f1)
openssl_enc=(openssl enc -provider legacy -provider default -bf-ecb -K "$key" -nopad)

work=$(mktemp -d build/whole-run.XXXXXX)
trap 'rm -rf "$work"' EXIT
head -c $((mib << 20)) /dev/urandom > "$work/plain"
"$tarnwick" -e "$password" "$work/plain" "$work/tarnwick.enc"
"${openssl_enc[@]}" -e -in "$work/plain" -out "$work/openssl.enc"
cat "$work"/* > /dev/null  # into page cache

# One timed run: appends "seconds peak-KiB" to the file named first.
timed() {
  local results=$1 start end
  shift
  rm -f "$work/out"
  sync  # the last run's writeback would otherwise throttle this one's writes
  start=$(date +%s%N)
  /usr/bin/time -f %M -o "$work/rss" "$@"
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000 )) $(cat "$work/rss")" >> "$results"
}

for ((run = 0; run < runs; run++)); do
  timed "$work/tarnwick-e" "$tarnwick" -e "$password" "$work/plain" "$work/out"
  timed "$work/openssl-e" "${openssl_enc[@]}" -e -in "$work/plain" -out "$work/out"
  timed "$work/tarnwick-d" "$tarnwick" -d "$password" "$work/tarnwick.enc" "$work/out"
  timed "$work/openssl-d" "${openssl_enc[@]}" -d -in "$work/openssl.enc" -out "$work/out"
done

python3 - "$work" "$mib" "$runs" <<'EOF'
import statistics, sys
work, mib, runs = sys.argv[1], sys.argv[2], sys.argv[3]
def load(name):
    rows = [line.split() for line in open(f"{work}/{name}")]
    return (statistics.median(int(r[0]) for r in rows) / 1e6,
            max(int(r[1]) for r in rows) / 1024)
print(f"{mib} MiB from page cache, median of {runs} alternating runs")
print(f"{'':4} {'Tarnwick s':>11} {'openssl s':>10} {'ratio':>7}"
      f" {'Tarnwick MiB':>13} {'openssl MiB':>12}")
for direction in "ed":
    (ours, our_rss), (theirs, their_rss) = load(f"tarnwick-{direction}"), load(f"openssl-{direction}")
    print(f"-{direction}   {ours:11.3f} {theirs:10.3f} {ours / theirs:6.3f}x"
          f" {our_rss:13.1f} {their_rss:12.1f}")
EOF
