#!/usr/bin/env bash
# The built binary end to end: arguments, exit status and streams, the file
# layer's promises on a real file system, and runs that race, are killed, or
# meet a limit. ctest also runs it with the file layer's fallbacks forced by
# a preloaded library (tests/without_tmpfile.cc).
# Usage: tests/cli.sh TARNWICK
set -uo pipefail
bin=$(realpath "$1")
work=$(mktemp -d) && trap 'rm -rf "$work" "$work".*' EXIT && cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
run() { "$bin" "$@"; }

# check STATUS MESSAGE ARGS...: the run ends with STATUS, prints exactly
# MESSAGE (printf escapes) on standard output and nothing on standard error,
# and leaves no temporary behind, nor anything at all when it fails.
check() {
  local before status
  before=$(ls -A)
  run "${@:3}" <&- >"$work.out" 2>"$work.err"  # no standard input, as under some daemons
  status=$?
  printf "$2" >"$work.expected"
  [ "$status" = "$1" ] && cmp -s "$work.out" "$work.expected" && [ ! -s "$work.err" ] &&
    ! ls -A | grep -q '^\.Tarnwick-' && { [ "$1" = 0 ] || [ "$(ls -A)" = "$before" ]; } ||
    fail "${*:3}: status $status, printed '$(cat "$work.out")', error '$(cat "$work.err")', left $(ls -A)"
}

usage='[USAGE] Tarnwick -e/d password input-file-path output-file-path\n        (-e:encode / -d:decode)\n'
head -c 3145733 /dev/urandom >plain
mkfifo fifo && mkdir dir && ln -s plain link && ln -s nowhere dangling
check 1 "$usage"
check 1 "$usage" -e pw plain
check 1 "$usage" -e pw plain out extra
for option in -x -e1 -encode ""; do check 1 'Invalid option.\n' "$option" pw plain out; done
for input in missing fifo dir; do check 1 'Input file open failed.\n' -d pw $input out; done
for output in plain dangling dir/missing/out; do check 1 'Output file open failed.\n' -e pw plain $output; done
exec 9<plain && flock 9  # another opener holds the input
check 1 'Input file open failed.\n' -e pw plain out
exec 9<&-
for size in 0 1; do
  head -c $size plain >small && check 0 '' -e pw small sealed && check 0 '' -d pw sealed restored
  cmp -s small restored || fail "round trip of $size bytes"
  rm small sealed restored
done
check 0 '' -E '' link sealed
[ "$(stat -c %a sealed)" = 600 ] || fail "the output is not private"
check 0 '' -D '' sealed restored
cmp -s plain restored || fail "round trip"
check 1 'Invalid data (data size). Invalid password?\n' -d x sealed wrong
rm restored

# Two runs racing for one output: one wins whole, the other is refused.
head -c 4194304 /dev/urandom >other
for _ in 1 2 3; do
  "$bin" -e pw plain race >"$work.first" & "$bin" -e pw other race >"$work.second"; wait
  winner=plain && [ -s "$work.second" ] || winner=other
  cat "$work.first" "$work.second" | grep -qx 'Output file open failed.' || fail "race: both won"
  "$bin" -d pw race won && cmp -s won $winner || fail "race: the output is not the winner's"
  rm -f race won
done

# The output's size limited by ulimit, then by a full file system.
run() { (ulimit -f 64 && exec "$bin" "$@"); }
check 1 'Output file write failed.\n' -e pw plain out
check 1 'Output file write failed.\n' -d '' sealed out
if mkdir full && unshare -m true 2>/dev/null; then
  run() { unshare -m sh -c 'mount -t tmpfs -o size=256k none full && "$@"; s=$?; ls -A full >&2; exit $s' _ "$bin" "$@"; }
  check 1 'Output file write failed.\n' -e pw plain full/out
  check 1 'Output file write failed.\n' -d '' sealed full/out
fi

# Killed at random points, a run leaves nothing at the output path and no
# temporary beside it (where the file system has unnamed temporaries); a kill
# that lands after publishing finds the output whole.
head -c 16777216 /dev/urandom >plain && "$bin" -e '' plain sealed2 && mv sealed2 sealed
inputs=$(ls -A)
for option in -e -d; do
  [ -z "${LD_PRELOAD:-}" ] || break
  input=plain expected=sealed
  [ $option = -e ] || { input=sealed expected=plain; }
  start=$(date +%s%N) && "$bin" $option '' $input out && rm out
  micros=$((($(date +%s%N) - start) / 1000))
  for _ in $(seq 10); do
    "$bin" $option '' $input out & pid=$!
    delay=$((micros * (RANDOM % 120) / 100))
    sleep "$((delay / 1000000)).$(printf %06d $((delay % 1000000)))"
    kill -9 $pid 2>/dev/null; { wait $pid; } 2>/dev/null
    if [ -e out ]; then cmp -s out $expected || fail "killed $option left a partial output"; rm out; fi
    [ "$(ls -A)" = "$inputs" ] || fail "killed $option left $(ls -A)"
  done
done

[ $failures -eq 0 ] && echo "end-to-end checks passed"
exit $((failures > 0))
