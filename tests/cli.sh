#!/usr/bin/env bash
# The built binary end to end: arguments, exit status and streams, the file
# layer's promises on a real file system, and runs that race, are killed or
# signalled, meet a limit or a closed pipe. ctest also runs it with the file
# layer's fallbacks forced by a preloaded library (tests/without_tmpfile.cc).
# Usage: tests/cli.sh TARNWICK
set -uo pipefail
bin=$(realpath "$1")
work=$(mktemp -d) && trap 'rm -rf "$work" "$work".*' EXIT && cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
run() { "$bin" "$@"; }
fallback=$([[ ${LD_PRELOAD:-} == *without_* ]] && echo yes)  # the file layer's fallbacks forced

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
head -c 4194309 /dev/urandom >plain
mkfifo fifo && mkdir dir && ln -s plain link && ln -s nowhere dangling
check 1 "$usage"
check 1 "$usage" -e pw plain
check 1 "$usage" -e pw plain out extra
for option in -x -e1 -encode ""; do check 1 'Invalid option.\n' "$option" pw plain out; done
for input in missing fifo dir /dev/null; do check 1 'Input file open failed.\n' -d pw $input out; done
for output in plain dangling dir/missing/out '' dir/; do check 1 'Output file open failed.\n' -e pw plain "$output"; done
# Per-process files: a shared one such as /proc/version is locked by a parallel run.
for input in /proc/self/status /proc/self/stat; do check 1 'Input file read failed.\n' -e pw $input out; done
# A FIFO is refused unopened, which would release a writer blocked on it.
{ : >fifo; : >"$work.released"; } & sleep 0.2
check 1 'Input file open failed.\n' -e pw fifo out
sleep 0.2 && [ ! -e "$work.released" ] || fail "the FIFO's writer was released"
: <>fifo; wait
# A closed pipe loses the message, not the status.
{ sleep 0.3; env --default-signal=PIPE "$bin" -e pw missing out; echo $? >"$work.status"; } | true
[ "$(cat "$work.status")" = 1 ] || fail "a closed pipe changed the status"
exec 9<plain && flock 9  # another opener holds the input
check 1 'Input file open failed.\n' -e pw plain out
exec 9<&-
for error in 9 37 95 22; do  # EBADF ENOLCK EOPNOTSUPP EINVAL: no locks (under the preload)
  TARNWICK_FLOCK_ERRNO=$error check 0 '' -e pw plain unlocked && rm unlocked
done
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

# Under the preloaded probe: the data is synced before the output has its
# name and the directory after, and a failed sync is a failed write. Stopped
# at its first sync, a run (as another user where we are root) shows no
# password in its arguments, has no core limit, and is not dumpable: /proc
# gives its files to root.
if [ -n "$fallback" ]; then
  TARNWICK_PROBE=out check 0 'fdatasync without out\nfsync with out\n' -e pw plain out
  TARNWICK_FAIL=fdatasync check 1 'Output file write failed.\n' -e pw plain out2
  TARNWICK_FAIL=fsync check 1 'Output file write failed.\n' -e pw plain out2
  as=() && [ "$(id -u)" != 0 ] || { as=(setpriv --reuid=65534 --regid=65534 --clear-groups) && chmod 777 .; }
  TARNWICK_STOP=1 "${as[@]}" "$bin" -e secret-pw plain out2 & pid=$!
  for _ in $(seq 500); do grep -q '^State:.*stopped' /proc/$pid/status && break; sleep 0.01; done
  grep -qa secret-pw /proc/$pid/cmdline && fail "the password shows in /proc/PID/cmdline"
  grep -Eq 'core file size +0 +0 ' /proc/$pid/limits || fail "a run may leave a core"
  [ "$(stat -c %u /proc/$pid/status)" = 0 ] || fail "a run is dumpable"
  kill -CONT $pid; wait $pid; rm out out2
fi

# Two runs racing for one output: one wins whole, the other is refused.
head -c 4194304 /dev/urandom >other
for _ in 1 2 3; do
  "$bin" -e pw plain race >"$work.first" & "$bin" -e pw other race >"$work.second"; wait
  winner=plain && [ -s "$work.second" ] || winner=other
  cat "$work.first" "$work.second" | grep -qx 'Output file open failed.' || fail "race: both won"
  "$bin" -d pw race won && cmp -s won $winner || fail "race: the output is not the winner's"
  rm -f race won
done

# Memory short anywhere, from where the loader fails (127) up to enough (the
# threads' stacks fail first, and one thread does the run); not under the
# sanitizers, whose shadow memory alone exceeds any such limit.
grep -qa __asan_init "$bin" || for input in plain sealed; do
  option=-e && [ $input = plain ] || option=-d
  for kib in $(seq 4096 16 65536); do
    (ulimit -v $kib && exec "$bin" $option '' $input out) >"$work.out" 2>/dev/null
    status=$? && [ $status = 0 ] && rm out && break
    [ $status = 127 ] || [ "$status $(cat "$work.out")" = '1 Out of memory.' ] &&
      ! ls -A | grep -qx 'out\|\.Tarnwick-.*' || { fail "ulimit -v $kib: status $status, left $(ls -A)"; break; }
  done
  [ $status = 0 ] || fail "$option never had memory enough"
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
  [ -z "$fallback" ] || break
  input=plain expected=sealed
  [ $option = -e ] || { input=sealed expected=plain; }
  start=$(date +%s%N) && "$bin" $option '' $input out && rm out
  micros=$((($(date +%s%N) - start) / 1000))
  for _ in $(seq 8); do
    "$bin" $option '' $input out & pid=$!
    delay=$((micros * (RANDOM % 120) / 100))
    sleep "$((delay / 1000000)).$(printf %06d $((delay % 1000000)))"
    kill -9 $pid 2>/dev/null; { wait $pid; } 2>/dev/null
    if [ -e out ]; then cmp -s out $expected || fail "killed $option left a partial output"; rm out; fi
    [ "$(ls -A)" = "$inputs" ] || fail "killed $option left $(ls -A)"
  done
done

# Once the output is open: the input appended to, or rewritten in place (only
# its times tell); on the fallback path, a signal that ends the run.
truncate -s 128M big && inputs=$(ls -A)
midrun() {
  (ulimit -c 0 && exec env --default-signal "$bin" -e '' big out) >"$work.out" & pid=$!
  until readlink /proc/$pid/fd/* | grep -q '/[#.][^/]*$' || [ ! -e /proc/$pid/cwd ]; do :; done
  eval "$1"; wait $pid
}
for change in 'echo >>big' 'touch -d @1 big'; do
  midrun "$change"; [ "$? $(cat "$work.out")" = '1 Input file read failed.' ] || fail "input changed: $change"
done
[ -z "$fallback" ] || for signal in HUP INT QUIT TERM; do
  midrun "kill -s $signal \$pid"; [ $? -gt 128 ] || fail "$signal did not end the run"
done
[ "$(ls -A)" = "$inputs" ] || fail "changed inputs and signals left $(ls -A)"

[ $failures -eq 0 ] && echo "end-to-end checks passed"
exit $((failures > 0))
