#!/usr/bin/env bash
# The built binary end to end: arguments, status and streams, the file
# layer's promises on a real file system, and runs that are stopped, killed,
# signalled, or meet a limit or a closed pipe. ctest preloads
# tests/interposer.cc, also to force the file layer's fallbacks.
# Usage: tests/cli.sh TARNWICK
set -uo pipefail
given=$(realpath "$1") && rows=$(realpath "${0%/*}/../testdata/cli.txt")
work=$(mktemp -d) && trap 'rm -rf "$work" "$work".*' EXIT && cd "$work" ||
  exit 1
# Copies that the unprivileged runs can reach wherever the checkout is (in
# root's home, say): the binary and the preloaded interposer.
mkdir -m 755 "$work.bin" && cp "$given" "$work.bin" && bin=$work.bin/${1##*/}
preload=${LD_PRELOAD:-}
preload=${preload%%:*}
[ -z "$preload" ] || { cp "$preload" "$work.bin" &&
  export LD_PRELOAD=$work.bin/${preload##*/}${LD_PRELOAD#"$preload"}; }
failures=0
fail() { echo "FAIL: $*" && failures=$((failures + 1)); }
fallback=$([ "${TARNWICK_REFUSE:-nothing}" != nothing ] && echo yes)
sanitized=$(grep -qa __asan_init "$bin" && echo yes)
# A static executable ignores the preloaded interposer: its runs go unsteered
# and the rows that probe or stop a run are left out.
steered=$(readelf -l "$bin" | grep -q INTERP && echo yes)
# The sweeps of memory, stack and signals run once, on the plainest path
# that has a hidden temporary to leave behind; a static executable, with its
# own C library, has the memory sweep too.
sweeps=$([ "${TARNWICK_REFUSE:-}" = tmpfile ] && echo yes)
memory_sweep=$({ [ -n "$sweeps" ] || [ -z "$steered" ]; } &&
  [ -z "$sanitized" ] && echo yes)
# Each run is started by the command in the array via, if any; with
# steer=VARIABLE=VALUE, that variable steers the preloaded calls of one run.
via=()

# check STATUS MESSAGE ARGS...: a run without standard input ends with
# STATUS, prints MESSAGE (printf escapes) and no error, and leaves no
# temporary, nor anything at all when it fails.
check() {
  local before status
  before=$(ls -A)
  "${via[@]}" env ${steer:-} "$bin" "${@:3}" <&- >"$work.out" 2>"$work.err"
  status=$?
  [ $status = "$1" ] && cmp -s "$work.out" <(printf "$2") &&
    [ ! -s "$work.err" ] && ! ls -A | grep -q '^\.Tarnwick-' &&
    { [ "$1" = 0 ] || [ "$(ls -A)" = "$before" ]; } ||
    fail "${*:3}: $status, '$(cat "$work.out" "$work.err")', left $(ls -A)"
}

# stopped 'COMMAND' ARGS...: COMMAND runs while the run of ARGS is stopped
# at its first sync; "STATUS MESSAGE" in $result.
stopped() {
  TARNWICK_STOP=1 "${via[@]}" env ${steer:-} "$bin" "${@:2}" >"$work.out" &
  pid=$!
  for _ in $(seq 500); do
    grep -q '^State:.*stopped' /proc/$pid/status && break
    sleep 0.01
  done
  eval "$1"
  kill -CONT $pid 2>/dev/null; wait $pid
  result="$? $(cat "$work.out")"
}

head -c 4194309 /dev/urandom >plain
mkfifo fifo && mkdir dir && ln -s plain link && ln -s nowhere dangling
# The arguments refused, rows of testdata/cli.txt, with a writer blocked on
# the FIFO meanwhile.
{ : >fifo && : >"$work.released"; } &
sleep 0.2
while IFS=';' read -r status message args; do
  eval "check $status \"\$message\" $args"
done < <(grep -v '^#' "$rows")
[ ! -e "$work.released" ] || fail "the FIFO's writer was released"
: <>fifo
# A closed pipe loses the message, not the status.
{ sleep 0.3 && env --default-signal=PIPE "$bin" -e pw missing out; } | true
[ "${PIPESTATUS[0]}" = 1 ] || fail "a closed pipe changed the status"
# An input that another program holds open for writing is refused.
exec 9>>plain && check 1 'Input file open failed.\n' -e pw plain o
exec 9>&-

# The data is synced before the output has its name, and the directory
# after, without the hidden temporary by then; the output is private.
# (Options in either case, links followed.)
probes='fdatasync without sealed\nfsync with sealed\n'
steer=TARNWICK_PROBE=sealed check 0 "${steered:+$probes}" -E '' link sealed
[ -z "$fallback" ] || { steer=TARNWICK_PROBE=.Tarnwick- check 0 \
  'fdatasync with .Tarnwick-\nfsync without .Tarnwick-\n' -e pw plain out
  rm out; }
[ "$(stat -c %a sealed)" = 600 ] || fail "the output is not private"
if [ -n "$steered" ]; then
  # Stopped at its first sync, a run (as another user where we are root) has
  # blanked its password, has no core limit, is not dumpable (/proc gives its
  # files to root) and has no hidden temporary but on the fallback path. Its
  # directory, moved meanwhile, takes the output; a name taken stays.
  via=() && [ "$(id -u)" != 0 ] ||
    { via=(setpriv --reuid=65534 --regid=65534 --clear-groups) &&
      chmod 777 .; }
  mkdir -m 777 from && hidden=$((${#fallback} > 0))
  steer=TARNWICK_FAIL=linkat:ENOENT stopped '
    grep -qa secret-pw /proc/$pid/cmdline && fail "the password shows"
    grep -Eq "core file size +0 +0 " /proc/$pid/limits || fail "a core"
    [ "$(stat -c %u /proc/$pid/status)" = 0 ] || fail "dumpable"
    [ "$(ls -A from | grep -c "^\.Tarnwick-")" = $hidden ] || fail "hidden"
    mv from to' -e secret-pw plain from/out
  "$bin" -e secret-pw plain expected
  [ "$result" = '0 ' ] && cmp -s expected to/out && [ "$(ls -A to)" = out ] ||
    fail "moved mid-run: $result, left $(ls -A to)"
  stopped 'echo taken >out' -e pw plain out
  [ "$result $(cat out)" = '1 Output file open failed. taken' ] ||
    fail "a name taken mid-run was replaced"
  rm -r out to expected && via=()
fi

# Memory short anywhere, from where the loader succeeds up to enough (the
# threads' stacks fail first, and one thread does the run); not under the
# sanitizers, whose shadow memory alone exceeds any such limit. Each
# allocation that can fail first spans 76 KiB of limits or more.
limited() { (ulimit -v $1 && exec "$bin" "${@:2}") >"$work.out" 2>/dev/null; }
[ -z "$memory_sweep" ] || for option in -e -d; do
  input=plain && [ $option = -e ] || input=sealed
  kib=4096 && while limited $kib; [ $? = 127 ]; do kib=$((kib + 64)); done
  for kib in $(seq $kib 64 65536); do
    limited $kib $option '' $input out
    status=$? && [ $status = 0 ] && rm out && break
    [ $status = 1 ] && cmp -s "$work.out" <(echo 'Out of memory.') &&
      ! ls -A | grep -qx 'out\|\.Tarnwick-.*' ||
      { fail "ulimit -v $kib" && break; }
  done
  [ $status = 0 ] || fail "$option never had memory enough"
done

# The output's size limited: the write fails, not the process.
via=(sh -c 'ulimit -f 64 && exec "$@"' _)
check 1 'Output file write failed.\n' -e pw plain out
check 1 'Output file write failed.\n' -D '' sealed out

# Every signal that ends a run by default, sent as the hidden temporary is
# made, removes it first (with threads or without: a decode this large has
# them); a signal the caller ignores stays ignored.
[ -z "$sweeps" ] || {
  ASAN_OPTIONS=${ASAN_OPTIONS:-}:handle_segv=0:handle_sigbus=0
  export ASAN_OPTIONS=$ASAN_OPTIONS:handle_sigfpe=0
  # Out of stack, on any thread, a run still removes it.
  for kib in $(seq 12 20); do
    prlimit --stack=$((kib * 1024)) "$bin" -e pw plain out >/dev/null 2>&1
    ! ls -A | grep -q '^\.Tarnwick-' || fail "out of stack at $kib KiB"
    rm -f out .Tarnwick-*
  done
  via=(env --default-signal)
  for signal in HUP INT QUIT TERM USR1 USR2 ALRM VTALRM PROF XCPU PWR IO SYS \
      RTMIN RTMAX SEGV BUS ABRT ILL FPE TRAP; do
    n=$(kill -l $signal)
    steer=TARNWICK_SIGNAL=$n check $((128 + n)) '' -d '' sealed out
  done
  via=(env --ignore-signal=USR1)
  steer=TARNWICK_SIGNAL=$(kill -l USR1) check 0 '' -d '' sealed out
}

[ $failures = 0 ] && echo "end-to-end checks passed"
