#!/usr/bin/env bash
# The built binary end to end: arguments, exit status and streams, the file
# layer's promises on a real file system, and runs that are stopped, killed
# or signalled, meet a limit or a closed pipe. ctest runs it with
# tests/interposer.cc preloaded, and again with the file layer's fallbacks
# forced by it.
# Usage: tests/cli.sh TARNWICK
set -uo pipefail
bin=$(realpath "$1")
work=$(mktemp -d) && trap 'rm -rf "$work" "$work".*' EXIT && cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# With steer=VARIABLE=VALUE, that variable steers the preloaded calls of one run
# (and not the shell's own, which the shell's variables would); the command
# in the array via, if any, runs it.
via=()
fallback=$([[ ${LD_PRELOAD:-} == *without_[tl]* ]] && echo yes)  # no unnamed temporaries
sanitized=$(grep -qa __asan_init "$bin" && echo yes)

# check STATUS MESSAGE ARGS...: the run ends with STATUS, prints exactly
# MESSAGE (printf escapes) on standard output and nothing on standard error,
# and leaves no temporary behind, nor anything at all when it fails.
check() {
  local before status
  before=$(ls -A)
  # No standard input, as under some daemons.
  "${via[@]}" env ${steer:-} "$bin" "${@:3}" <&- >"$work.out" 2>"$work.err"
  status=$?
  printf "$2" >"$work.expected"
  [ "$status" = "$1" ] && cmp -s "$work.out" "$work.expected" && [ ! -s "$work.err" ] &&
    ! ls -A | grep -q '^\.Tarnwick-' && { [ "$1" = 0 ] || [ "$(ls -A)" = "$before" ]; } ||
    fail "${*:3}: status $status, printed '$(cat "$work.out")', error '$(cat "$work.err")', left $(ls -A)"
}

usage='[USAGE] Tarnwick -e/d password input-file-path output-file-path\n        (-e:encode / -d:decode)\n'
head -c 4194309 /dev/urandom >plain
mkfifo fifo && mkdir dir && ln -s plain link && ln -s nowhere dangling
# shellcheck disable=SC2086  # the words are the arguments
for args in "" "-e pw plain" "-e pw plain out extra"; do check 1 "$usage" $args; done
for option in -x -e1 -encode ""; do check 1 'Invalid option.\n' "$option" pw plain out; done
# A FIFO is refused unopened, which would release a writer blocked on it.
{ : >fifo; : >"$work.released"; } & sleep 0.2
for input in missing fifo dir /dev/null; do check 1 'Input file open failed.\n' -d pw $input out; done
sleep 0.2 && [ ! -e "$work.released" ] || fail "the FIFO's writer was released"
: <>fifo; wait
for output in plain dangling dir/missing/out '' dir/ missing/; do check 1 'Output file open failed.\n' -e pw plain "$output"; done
# Per-process files: a shared one such as /proc/version is locked by a parallel run.
for input in /proc/self/status /proc/self/stat; do check 1 'Input file read failed.\n' -e pw $input out; done
# A closed pipe loses the message, not the status.
{ sleep 0.3; env --default-signal=PIPE "$bin" -e pw missing out; echo $? >"$work.status"; } | true
[ "$(cat "$work.status")" = 1 ] || fail "a closed pipe changed the status"
exec 9<plain && flock 9  # another opener holds the input
check 1 'Input file open failed.\n' -e pw plain out
exec 9<&-
for error in 9 37 95 22; do  # EBADF ENOLCK EOPNOTSUPP EINVAL: no locks
  steer=TARNWICK_FAIL=flock:$error check 0 '' -e pw plain unlocked && rm unlocked
done
steer=TARNWICK_SHORT=1 check 0 '' -E '' link sealed
[ "$(stat -c %a sealed)" = 600 ] || fail "the output is not private"
steer=TARNWICK_SHORT=1 check 0 '' -D '' sealed restored
cmp -s plain restored && rm restored || fail "round trip"

# The data is synced before the output has its name and the directory
# after; a failed sync or close is a failed write.
steer=TARNWICK_PROBE=out check 0 'fdatasync without out\nfsync with out\n' -e pw plain out && rm out
for call in fdatasync fsync close; do steer=TARNWICK_FAIL=$call check 1 'Output file write failed.\n' -e pw plain out; done
# Where a descriptor cannot be linked (the unprivileged before Linux 6.10)
# and there is no /proc either, a hidden temporary takes the unnamed file's
# place. (The sanitizers need /proc.)
if [ -z "$sanitized" ] && unshare -m true 2>/dev/null; then
  via=(unshare -m sh -c 'mount -t tmpfs none /proc && exec "$@"' _)
  steer=TARNWICK_FAIL=linkat:2 check 0 '' -e pw plain out && rm out
  via=()
fi
# stopped 'COMMAND' ARGS...: runs ARGS stopped at the first sync while COMMAND
# runs; "STATUS MESSAGE" in $result.
stopped() {
  TARNWICK_STOP=1 "${via[@]}" env ${steer:-} "$bin" "${@:2}" >"$work.out" & pid=$!
  for _ in $(seq 500); do grep -q '^State:.*stopped' /proc/$pid/status && break; sleep 0.01; done
  eval "$1"; kill -CONT $pid; wait $pid
  result="$? $(cat "$work.out")"
}
# Stopped at its first sync, a run (as another user where we are root) shows
# no password in its arguments, has no core limit, and is not dumpable: /proc
# gives its files to root. A descriptor that cannot be linked is named
# through /proc, so no hidden temporary shows but on the fallback path. Its
# directory, moved meanwhile, takes the output; a name taken meanwhile stays.
[ "$(id -u)" != 0 ] || { via=(setpriv --reuid=65534 --regid=65534 --clear-groups) && chmod 777 .; }
mkdir -m 777 from && hidden=$([ -n "$fallback" ] && echo 1 || echo 0)
steer=TARNWICK_FAIL=linkat:2 stopped '
  grep -qa secret-pw /proc/$pid/cmdline && fail "the password shows in /proc/PID/cmdline"
  grep -Eq "core file size +0 +0 " /proc/$pid/limits || fail "a run may leave a core"
  [ "$(stat -c %u /proc/$pid/status)" = 0 ] || fail "a run is dumpable"
  [ "$(ls -A from | grep -c "^\.Tarnwick-")" = $hidden ] || fail "hidden temporaries: $(ls -A from)"
  mv from to' -e secret-pw plain from/out
"$bin" -e secret-pw plain expected
[ "$result" = '0 ' ] && cmp -s expected to/out && [ "$(ls -A to)" = out ] || fail "moved mid-run: $result, left $(ls -A to)"
stopped 'echo taken >out' -e pw plain out
[ "$result $(cat out)" = '1 Output file open failed. taken' ] || fail "a name taken mid-run was replaced"
rm -r out to expected && via=()

# Memory short anywhere, from where the loader fails (127) up to enough (the
# threads' stacks fail first, and one thread does the run); not under the
# sanitizers, whose shadow memory alone exceeds any such limit.
[ -n "$sanitized" ] || for input in plain sealed; do
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
via=(sh -c 'ulimit -f 64 && exec "$@"' _)
check 1 'Output file write failed.\n' -e pw plain out
check 1 'Output file write failed.\n' -d '' sealed out
if mkdir full && unshare -m true 2>/dev/null; then
  via=(unshare -m sh -c 'mount -t tmpfs -o size=256k none full && "$@"; s=$?; ls -A full >&2; exit $s' _)
  check 1 'Output file write failed.\n' -e pw plain full/out
  check 1 'Output file write failed.\n' -d '' sealed full/out
fi
via=()

# Killed at random points, a run leaves nothing at the output path and no
# temporary beside it (where the file system has unnamed temporaries); a kill
# that lands after publishing finds the output whole.
head -c 16777216 /dev/urandom >plain && "$bin" -e '' plain sealed2 && mv sealed2 sealed
inputs=$(ls -A)
[ -n "$fallback" ] || for option in -e -d; do
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
# its times tell), fails the run; a new mode, access time or link does not.
truncate -s 128M big && inputs=$(ls -A)
midrun() {
  (ulimit -c 0 && exec "$bin" -e '' big out) >"$work.out" & pid=$!
  until readlink /proc/$pid/fd/* | grep -q '/[#.][^/]*$' || [ ! -e /proc/$pid/cwd ]; do :; done
  eval "$1"; wait $pid
}
for change in 'echo >>big' 'touch -d @1 big'; do
  midrun "$change"; [ "$? $(cat "$work.out")" = '1 Input file read failed.' ] || fail "input changed: $change"
done
[ -n "$fallback" ] || for change in 'chmod 604 big' 'touch -a big' 'ln big big2'; do
  midrun "$change"; [ "$? $(cat "$work.out")" = '0 ' ] || fail "metadata changed: $change"; rm -f out big2
done
[ "$(ls -A)" = "$inputs" ] || fail "changed inputs left $(ls -A)"

# On the fallback path, every signal that ends a run by default, sent as the
# hidden temporary is made, removes it first (threads or none: a decode
# this large has two); a signal the caller ignores stays ignored.
[ -z "$fallback" ] || {
  export ASAN_OPTIONS=${ASAN_OPTIONS:-}:handle_segv=0:handle_sigbus=0:handle_sigfpe=0
  via=(env --default-signal)
  for signal in HUP INT QUIT TERM USR1 USR2 ALRM VTALRM PROF XCPU PWR IO SYS RTMIN RTMAX SEGV BUS ABRT ILL FPE TRAP; do
    steer=TARNWICK_SIGNAL=$(kill -l $signal) check $((128 + $(kill -l $signal))) '' -d '' sealed out
  done
  via=(env --ignore-signal=USR1) && steer=TARNWICK_SIGNAL=$(kill -l USR1) check 0 '' -d '' sealed out && rm out
}

[ $failures -eq 0 ] && echo "end-to-end checks passed"
exit $((failures > 0))
