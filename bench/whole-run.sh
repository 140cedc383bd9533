#!/usr/bin/env bash
# Times whole runs on the same file from page cache, in alternating runs:
# Tarnwick -e and -d, the same build on one thread (bench's run_with_threads,
# when built), `openssl enc` with Blowfish-ECB under the same key, `cat`, and
# `dd bs=256K conv=fsync` copying the same input, the floor for a copy that
# reaches the disk. Given a second Tarnwick (a build that does not sync its
# output, such as the commit before syncing came in), times it too, for the
# cost of durability. Prints each one's median wall time against cat's and
# dd's, its median CPU time (user + sys) against the one-thread run's, and
# its peak RSS; then how many cores other processes kept busy meanwhile, as a
# machine shared with other jobs skews every figure. Tarnwick itself runs on
# every core it may use; the one-thread run is the same build on one.
# With -o FILE, also writes the figures, every run's wall time, the host
# (CPU model, cores) and the date to FILE as JSON, for bench/plot.py.
# Usage: bench/whole-run.sh [-o FILE] [Tarnwick] [size=256M] [runs=5] [unsynced Tarnwick]
# The size is head -c's: 256M is 256 MiB, 13 is 13 bytes.
set -euo pipefail
json=
if [ "${1:-}" = -o ]; then
  json=$(realpath "$2")
  shift 2
fi
cd "$(dirname "$0")/.."
tarnwick=$(realpath "${1:-build/release/tool/Tarnwick}")
size=${2:-256M}
runs=${3:-5}
unsynced=${4:+$(realpath "$4")}
one_thread=build/bench/bench/run_with_threads
password='whole-run password'
key=$(printf %s "$password" | openssl md5 -r | cut -d' ' -f1)
openssl_enc=(openssl enc -provider legacy -provider default -bf-ecb -K "$key")

work=$(mktemp -d build/whole-run.XXXXXX)
trap 'rm -rf "$work"' EXIT
head -c "$size" /dev/urandom > "$work/plain"
"$tarnwick" -e "$password" "$work/plain" "$work/tarnwick.enc"
"${openssl_enc[@]}" -e -in "$work/plain" -out "$work/openssl.enc"
cat "$work"/* > /dev/null  # into page cache

# Clock ticks every core has spent busy since boot.
busy() { awk '/^cpu /{print $2 + $3 + $4 + $7 + $8 + $9}' /proc/stat; }

# One timed run: appends "microseconds user sys peak-KiB busy-ticks" to the
# file named first.
timed() {
  local results=$1 start end ticks
  shift
  rm -f "$work/out"
  sync  # the last run's writeback would otherwise throttle this one's writes
  ticks=$(busy)
  start=$(date +%s%N)
  /usr/bin/time -f '%U %S %M' -o "$work/usage" "$@"
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000 )) $(cat "$work/usage") $(( $(busy) - ticks ))" >> "$results"
}

copy=(dd bs=256K conv=fsync status=none of="$work/out")
for ((run = 0; run < runs; run++)); do
  for direction in e d; do
    input=$work/plain
    [ $direction = e ] || input=$work/tarnwick.enc
    timed "$work/-$direction" "$tarnwick" -$direction "$password" "$input" "$work/out"
    if [ -x "$one_thread" ]; then
      timed "$work/-$direction 1t" "$one_thread" 1 -$direction "$password" \
        "$input" "$work/out"
    fi
    if [ -n "$unsynced" ]; then
      timed "$work/-$direction unsynced" "$unsynced" -$direction "$password" \
        "$input" "$work/out"
    fi
    timed "$work/dd -$direction" "${copy[@]}" if="$input"
  done
  timed "$work/openssl -e" "${openssl_enc[@]}" -e -in "$work/plain" -out "$work/out"
  timed "$work/openssl -d" "${openssl_enc[@]}" -d -in "$work/openssl.enc" -out "$work/out"
  timed "$work/cat" sh -c 'cat "$1" > "$2"' sh "$work/plain" "$work/out"
done

python3 - "$work" "$size" "$runs" "$(getconf CLK_TCK)" "$json" <<'EOF'
import datetime, json, os, platform, statistics, sys
work, size, runs, tick = sys.argv[1], sys.argv[2], sys.argv[3], 1 / int(sys.argv[4])
others = [0, 0]  # CPU seconds other processes used during the runs, wall seconds
def load(name):
    rows = [[float(v) for v in line.split()] for line in open(f"{work}/{name}")]
    others[0] += sum(r[4] * tick - r[1] - r[2] for r in rows)
    others[1] += sum(r[0] / 1e6 for r in rows)
    return (statistics.median(r[0] for r in rows) / 1e6,
            statistics.median(r[1] + r[2] for r in rows),
            max(r[3] for r in rows) / 1024)
names = ["-e", "-e 1t", "-e unsynced", "dd -e", "-d", "-d 1t", "-d unsynced",
         "dd -d", "openssl -e", "openssl -d", "cat"]
found = {n: load(n) for n in names if os.path.exists(f"{work}/{n}")}
cat = found["cat"][0]
print(f"{size} bytes from page cache, medians of {runs} alternating runs;"
      " x dd: against dd of the same input")
print(f"{'':12} {'wall s':>7} {'x cat':>6} {'x dd':>6} {'CPU s':>6}"
      f" {'x 1t':>6} {'peak MiB':>9}")
for name, (wall, cpu, rss) in found.items():
    single = found.get(name + " 1t")
    versus = f"{cpu / single[1]:5.2f}x" if single else ""
    direction = next((w for w in name.split() if w in ("-e", "-d")), "-e")
    dd = found["dd " + direction][0]
    print(f"{name:12} {wall:7.3f} {wall / cat:5.2f}x {wall / dd:5.2f}x"
          f" {cpu:6.2f} {versus:>6} {rss:9.1f}")
load = max(0, others[0] / others[1])
print(f"other processes kept {load:.2f} of {os.cpu_count()} cores busy on average")
if sys.argv[5]:
    models = [line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
              if line.startswith("model name")]
    with open(sys.argv[5], "w", encoding="utf-8") as f:
        json.dump({"cpu": models[0] if models else platform.machine(),
                   "cores": len(os.sched_getaffinity(0)),
                   "date": datetime.date.today().isoformat(),
                   "size": size, "runs": int(runs), "load": round(load, 2),
                   "runs_s": {n: [float(line.split()[0]) / 1e6
                                  for line in open(f"{work}/{n}")] for n in found},
                   "median": {n: {"wall_s": w, "cpu_s": c, "peak_mib": m}
                              for n, (w, c, m) in found.items()}}, f, indent=1)
EOF
