#!/usr/bin/env bash
# What a long window before a trigger costs: a trace of SECONDS at RATE
# frames a second (default 600 s at 10,000: six million frames, 0 to 8
# data bytes, two interfaces) whose only trigger frame comes last, so that
# with --pre SECONDS the whole trace waits in memory for it and is then
# written at once. Replayed from a file and recorded through a pipe (live
# input: the writer's thread holds the window), side by side with the same
# runs without a trigger; and a run whose buffer is a tenth of what the
# window needs (its frames given up, a loss). Prints each run's peak
# resident memory (/usr/bin/time -v), wall time, and what its summary says
# of the buffer. Measured, never asserted.
#   scripts/trigger-bench.sh [SECONDS] [RATE]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
rate=${2:-10000}

bash scripts/build.sh --posix >/dev/null
work=build/trigger-bench
mkdir -p "$work"
cc -O2 -o "$work/make_trace" bench/make_trace.c
shm=$(mktemp -d /dev/shm/buslog-trigger-bench.XXXXXX)
trap 'rm -rf "$shm"' EXIT
cp build/posix/bin/libbuslog.so build/posix/bin/buslog-host "$shm/"

frames=$((seconds * rate))
"$work/make_trace" "$frames" "$shm/trace.log" $((1000000 / rate))
# The trigger: an extended identifier the trace's random ones never take.
last=$(tail -n 1 "$shm/trace.log" | sed 's/^(\([0-9.]*\)).*/\1/')
echo "($last) can0 1FFFFFFF#01" >>"$shm/trace.log"
echo "trace: $frames frames over $seconds s ($rate a second), $(du -m "$shm/trace.log" | cut -f1) MB, one trigger last"

# Runs the host once under /usr/bin/time; prints peak memory, wall time and
# the summary's buffer line.
measure() {
  local label=$1
  shift
  rm -f "$shm"/run*.buslog
  /usr/bin/time -v "$@" 2>"$shm/err.txt" >/dev/null || true
  local rss wall held
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$shm/err.txt")
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$shm/err.txt")
  held=$(sed -n 's/^  pre-trigger *//p' "$shm/err.txt")
  printf '%-34s %8.1f MB peak  %9s wall  %s\n' "$label" "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')" "$wall" \
    "${held:-}"
  grep -E '^  (frames logged|missing|left out)' "$shm/err.txt" | head -3 | sed 's/^/    /' || true
}

host="$shm/buslog-host"
trigger=(--trigger 1FFFFFFF --pre "$seconds" --post 1)
measure "replay, no trigger" "$host" replay "$shm/trace.log" --output "$shm/run.buslog"
measure "replay, --pre $seconds" "$host" replay "$shm/trace.log" --output "$shm/run.buslog" "${trigger[@]}"
measure "record (pipe), no trigger" sh -c "cat '$shm/trace.log' | '$host' record --output '$shm/run.buslog'"
measure "record (pipe), --pre $seconds" sh -c \
  "cat '$shm/trace.log' | '$host' record --output '$shm/run.buslog' ${trigger[*]}"
tenth=$((seconds * rate * 30 / 10))
measure "replay, --pre $seconds, buffer /10" "$host" replay "$shm/trace.log" --output "$shm/run.buslog" \
  "${trigger[@]}" --pre-buffer "$tenth"
