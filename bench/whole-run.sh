#!/usr/bin/env bash
# Times whole runs of Tarnwick against `openssl enc` with Blowfish-ECB under
# the same key and against `dd bs=256K conv=fsync` copying the same input, on
# the same file from page cache, in alternating runs, and prints the median
# wall time and the peak RSS of each. Given a second Tarnwick (a build that
# does not sync its output, such as the commit before syncing came in), times
# it too, for the cost of durability.
# Usage: bench/whole-run.sh [Tarnwick] [size=256M] [runs=5] [unsynced Tarnwick]
# The size is head -c's: 256M is 256 MiB, 13 is 13 bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
tarnwick=$(realpath "${1:-build/release/tool/Tarnwick}")
size=${2:-256M}
runs=${3:-5}
unsynced=${4:+$(realpath "$4")}
password='whole-run password'
key=$(printf %s "$password" | openssl md5 -r | cut -d' ' -f1)
openssl_enc=(openssl enc -provider legacy -provider default -bf-ecb -K "$key")

work=$(mktemp -d build/whole-run.XXXXXX)
trap 'rm -rf "$work"' EXIT
head -c "$size" /dev/urandom > "$work/plain"
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

# Both directions of one program: `-e` from the plain file, `-d` from its own
# encrypted one.
run_tarnwick() {
  timed "$work/$1-e" "$2" -e "$password" "$work/plain" "$work/out"
  timed "$work/$1-d" "$2" -d "$password" "$work/tarnwick.enc" "$work/out"
}

copy=(dd bs=256K conv=fsync status=none of="$work/out")
for ((run = 0; run < runs; run++)); do
  run_tarnwick tarnwick "$tarnwick"
  [ -z "$unsynced" ] || run_tarnwick unsynced "$unsynced"
  timed "$work/openssl-e" "${openssl_enc[@]}" -e -in "$work/plain" -out "$work/out"
  timed "$work/openssl-d" "${openssl_enc[@]}" -d -in "$work/openssl.enc" -out "$work/out"
  timed "$work/dd-e" "${copy[@]}" if="$work/plain"
  timed "$work/dd-d" "${copy[@]}" if="$work/tarnwick.enc"
done

python3 - "$work" "$size" "$runs" <<'EOF_PY'
import os, statistics, sys
work, size, runs = sys.argv[1], sys.argv[2], sys.argv[3]
programs = [p for p in ("tarnwick", "unsynced", "openssl", "dd")
            if os.path.exists(f"{work}/{p}-e")]
def load(name):
    rows = [line.split() for line in open(f"{work}/{name}")]
    return (statistics.median(int(r[0]) for r in rows) / 1e6,
            max(int(r[1]) for r in rows) / 1024)
print(f"{size} bytes from page cache, median of {runs} alternating runs:"
      " seconds (peak RSS MiB)")
print("    " + "".join(f"{p:>20}" for p in programs))
for direction in "ed":
    cells = (load(f"{p}-{direction}") for p in programs)
    print(f"-{direction}  " + "".join(f"{s:12.4f} ({m:5.1f})" for s, m in cells))
EOF_PY
