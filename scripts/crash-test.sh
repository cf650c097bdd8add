#!/usr/bin/env bash
# Nothing lost when the host dies: replays a trace with buslog-host, kills it
# with SIGKILL at random moments, and checks after every kill that the log
# holds whole lines (but a last line cut by a kill inside a write, beyond
# every line reported written), that they are exactly the first lines a full run
# writes (frame numbers 1, 2, 3 ... each once), and that there are at least
# as many as the host had seen written (it says "written N" every 100
# lines). The host writes the lines at hand in batches, one Write each;
# with --sync-every-frame it writes one Write a frame, which gets runs of
# its own (half as many). Natively, and with the Windows build under Wine,
# where TerminateProcess ends the host. The log is on the disk,
# write-through. The python-can writer is killed the same way in both of its
# modes (scripts/crash_python.py): write-through, where it says "written N"
# as on_message_received returns, and group commit, where it says so once
# flush() returned.
#   scripts/crash-test.sh [--ci] [RUNS]      (default 20 runs a platform)
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${1:-}" = --ci ] && shift
runs=${1:-20}
# One Write a frame syncs each line to the disk (a few thousand lines a
# second); batches carry some sixty lines a sync, and Wine writes without
# syncing, far faster: they get longer traces to be killed in the middle of.
frames=20000
batchFrames=600000
wineFrames=4000000

work=$PWD/build/crash-test
rm -rf "$work"
mkdir -p "$work"
cc -O2 -o "$work/make_trace" bench/make_trace.c
"$work/make_trace" "$frames" "$work/trace.log"
"$work/make_trace" "$wineFrames" "$work/trace-wine.log"
head -n "$batchFrames" "$work/trace-wine.log" >"$work/trace-batch.log"

export WINEPREFIX="$PWD/build/windows/wineprefix" WINEDEBUG=-all
failures=0

lines_of() {
  if [ -s "$1" ]; then wc -l <"$1"; else echo 0; fi
}

# verdict LOG REFERENCE REPORTED KILLED STATUS [frames]: "ok", or what is
# wrong with the log a run left: whole lines only, a byte prefix of the full
# run's log (REFERENCE), each frame once in order, at least REPORTED lines
# (with "frames": frame lines); a run that ended before the kill (KILLED no)
# must have written it all.
verdict() {
  local log=$1 reference=$2 reported=$3 killed=$4 status=$5 size=0 lines verdict=ok wrong whole=$1
  [ -f "$log" ] && size=$(stat -c %s "$log")
  if [ "$size" -gt 0 ]; then
    # A byte prefix of the full run that ends at a line end is whole lines,
    # the first ones, in order.
    cmp -s -n "$size" "$log" "$reference" || verdict="not a prefix of the full run"
    # A kill that lands inside a write() of a batch may stop it between two
    # pages (Linux ends a write to a file early for a fatal signal), so the
    # last line may be cut: allowed only beyond every line reported written
    # (checked below, on the whole lines), and said.
    if [ "$(tail -c 2 "$log" | od -An -tx1 | tr -d ' \n')" != 0d0a ]; then
      whole=$log.whole
      head -n "$(lines_of "$log")" "$log" >"$whole"
      [ "$verdict" = ok ] && verdict="ok, its last line cut by the kill inside a write"
    fi
    # Each frame once, in order: the k-th frame line holds frame k (marker
    # lines, frame number 0, stand between them).
    wrong=$(cut -c1-9 "$whole" | awk '$1 + 0 != 0 && $1 + 0 != ++n { print NR ": frame " $1; exit }')
    [ -z "$wrong" ] || verdict="line $wrong"
  fi
  lines=$(lines_of "$whole")
  if [ "${6:-}" = frames ] && [ "$size" -gt 0 ]; then
    lines=$(grep -a -c -v '^000000000,' "$whole" || true)
  fi
  [ "$lines" -ge "$reported" ] || verdict="only $lines ${6:-lines}, $reported had been reported written"
  if [ "$killed" = no ] && { [ "$status" -ne 0 ] || ! cmp -s "$log" "$reference"; }; then
    # It ended by itself: then it must have succeeded with the whole log.
    verdict="ended before the kill with status $status and another log"
  fi
  echo "$verdict"
}

# note_run NAME RUN DELAY DIR REFERENCE [frames]: judges the run that left
# DIR/crash.log and DIR/stderr (run_and_kill's killed and status), says so,
# and counts it in failures, and in midway when it was killed after it had
# said it had written something.
note_run() {
  local name=$1 i=$2 delay=$3 dir=$4 reference=$5 unit=${6:-lines} reported verdict
  # Windows programs end their stderr lines with CR LF.
  reported=$( (tr -d '\r' <"$dir/stderr" | grep -a -E '^written [0-9]+$' || true) | tail -n 1 | cut -d' ' -f2)
  reported=${reported:-0}
  verdict=$(verdict "$dir/crash.log" "$reference" "$reported" "$killed" "$status" "$unit")
  [ "$killed" = yes ] && [ "$reported" -gt 0 ] && midway=$((midway + 1))
  printf '%s run %2d: killed (%s) after %ss, %7d lines in the log, %7d %s reported written: %s\n' \
    "$name" "$i" "$killed" "$delay" "$(lines_of "$dir/crash.log")" "$reported" "$unit" "$verdict"
  case $verdict in ok*) ;; *) failures=$((failures + 1)) ;; esac
}

# run_and_kill DELAY STDERR COMMAND...: runs COMMAND (its standard error
# into STDERR) and kills it with SIGKILL DELAY s later if it still runs;
# sets killed (yes or no) and status.
run_and_kill() {
  local delay=$1 stderr=$2 pid
  shift 2
  killed=no status=0
  "$@" 2>"$stderr" &
  pid=$!
  sleep "$delay"
  if kill -0 "$pid" 2>/dev/null; then
    kill -9 "$pid" 2>/dev/null && killed=yes
  fi
  wait "$pid" 2>/dev/null || status=$?
}

# crash_runs NAME RUNNER HOST MODULE TRACE FRAMES EARLIEST SPREAD RUNS [OPTION...]
# (RUNNER is empty, or Wine's loader, which runs the launcher $terminate;
# kills come 0 to SPREAD s after EARLIEST; OPTIONs go to every replay)
crash_runs() {
  local name=$1 runner=$2 host=$3 module=$4 trace=$5 count=$6 earliest=$7 spread=$8 runs=$9
  shift 9
  local options=("$@")
  local full="$work/$name-full" dir="$work/$name"
  mkdir -p "$full" "$dir"
  cp "$host" "$module" "$full/"
  cp "$host" "$module" "$dir/"
  local program
  program=$(basename "$host")
  $runner "$full/$program" replay "$trace" --name crash.log --quiet "${options[@]}" 2>/dev/null
  local reference="$full/crash.log"
  local referenceLines
  # Its frame lines, the marker lines (frame number 0) left out.
  referenceLines=$(grep -a -c -v '^000000000,' "$reference")
  [ "$referenceLines" -eq "$count" ] || { echo "$name: full run wrote $referenceLines frame lines"; return 1; }

  local i delay killed status
  midway=0
  for i in $(seq "$runs"); do
    rm -f "$dir/crash.log" "$dir/stderr"
    delay=$(awk -v seed="$RANDOM$i" -v base="$earliest" -v spread="$spread" \
      'BEGIN { srand(seed); printf "%.2f", base + rand() * spread }')
    if [ -z "$runner" ]; then
      run_and_kill "$delay" "$dir/stderr" "$dir/$program" replay "$trace" --name crash.log --quiet \
        --report-every 100 "${options[@]}"
    else
      killed=no status=0
      # On Windows a dying host is TerminateProcess; a small launcher calls it.
      local ms
      ms=$(awk -v s="$delay" 'BEGIN { printf "%d", s * 1000 }')
      $runner "$terminate" "$ms" "$dir/$program" replay "$trace" --name crash.log --quiet \
        --report-every 100 "${options[@]}" >"$dir/launcher" 2>"$dir/stderr" || status=$?
      case $status in
        0) killed=yes ;;
        3) status=$(tr -d '\r' <"$dir/launcher" | sed -n 's/^ended by itself with exit code //p') ;;
      esac
    fi
    note_run "$name" "$i" "$delay" "$dir" "$reference"
  done
  if [ "$midway" -eq 0 ]; then
    echo "$name: no run was killed while it was writing"
    failures=$((failures + 1))
  fi
}

posix=(build/posix/bin/buslog-host build/posix/bin/libbuslog.so)
# The help is read whole first: with pipefail, grep -q leaving early would
# end the host with SIGPIPE and fail the test.
if grep -q -- --sync-every-frame <<<"$(build/posix/bin/buslog-host --help 2>&1)"; then
  crash_runs posix "" "${posix[@]}" "$work/trace-batch.log" "$batchFrames" 0.05 2.5 "$runs"
  crash_runs posix-single "" "${posix[@]}" "$work/trace.log" "$frames" 0.05 2.5 $(((runs + 1) / 2)) \
    --sync-every-frame
else
  crash_runs posix "" "${posix[@]}" "$work/trace.log" "$frames" 0.05 2.5 "$runs"
fi
# python_crash_runs NAME MODE FRAMES EARLIEST SPREAD RUNS: the python-can
# writer (scripts/crash_python.py) in MODE, killed the same way; it reports
# frames, not lines.
python_crash_runs() {
  local name=$1 mode=$2 count=$3 earliest=$4 spread=$5 runs=$6
  local dir="$work/$name" i delay killed status
  midway=0
  local run=(env PYTHONPATH="$PWD/python" BUSLOG_MODULE="$PWD/build/posix/bin/libbuslog.so" /usr/bin/python3
             scripts/crash_python.py)
  mkdir -p "$dir"
  "${run[@]}" "$dir/full.buslog" "$count" "$mode" 2>/dev/null
  local referenceFrames
  referenceFrames=$(grep -a -c -v '^000000000,' "$dir/full.buslog")
  [ "$referenceFrames" -eq "$count" ] || { echo "$name: full run wrote $referenceFrames frame lines"; return 1; }
  for i in $(seq "$runs"); do
    rm -f "$dir/crash.log" "$dir/stderr"
    delay=$(awk -v seed="$RANDOM$i" -v base="$earliest" -v spread="$spread" \
      'BEGIN { srand(seed); printf "%.2f", base + rand() * spread }')
    run_and_kill "$delay" "$dir/stderr" "${run[@]}" "$dir/crash.log" "$count" "$mode"
    note_run "$name" "$i" "$delay" "$dir" "$dir/full.buslog" frames
  done
  if [ "$midway" -eq 0 ]; then
    echo "$name: no run was killed while it was writing"
    failures=$((failures + 1))
  fi
}

if /usr/bin/python3 -c "import can" 2>/dev/null; then
  # Python takes some 0.3 s to start; group commit logs far faster than
  # write-through, which syncs every message.
  python_crash_runs python-group group-commit 400000 0.5 2.5 $(((runs + 1) / 2))
  python_crash_runs python-through write-through 20000 0.5 2.5 $(((runs + 1) / 2))
else
  echo "python writer runs skipped: /usr/bin/python3 cannot import can (Debian package python3-can)"
fi
if [ -f build/windows/bin/buslog-host.exe ]; then
  # A persistent wineserver keeps each start short; Wine still takes a
  # moment to start the program, so the kills come later. Batches make the
  # whole replay take little more than a second there.
  /usr/lib/wine/wineserver -p30 2>/dev/null || true
  trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
  terminate=build/windows/bin/terminate_after.exe
  crash_runs windows /usr/lib/wine/wine64 build/windows/bin/buslog-host.exe build/windows/bin/buslog.dll \
    "$work/trace-wine.log" "$wineFrames" 0.4 1.3 "$runs"
fi

if [ "$failures" -ne 0 ]; then
  echo "crash test: $failures runs lost or tore lines"
  exit 1
fi
echo "crash test: every killed run left whole lines, a prefix of the full run, none of those reported lost"
