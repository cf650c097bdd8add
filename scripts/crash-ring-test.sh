#!/usr/bin/env bash
# Nothing torn when a logger in a ring dies: replays a trace with rotation
# and a ring (--rotate-size 8k --max-total 40k), kills the host with SIGKILL
# at random moments within the time a whole run takes (measured first, in
# the same run of this script), and checks after every kill that the files left hold
# whole lines only, that their frame numbers run on without a gap or a
# repeat from the oldest file kept to the newest, that the ring kept at
# most its size, and that the newest frame the host said it had written is
# there or older than what is kept. The logs are on the disk, write-through.
# Natively only: the Windows build's ring is the same code above the module.
#   scripts/crash-ring-test.sh [--ci] [RUNS]      (default 20)
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${1:-}" = --ci ] && shift
runs=${1:-20}
frames=100000
maxTotal=40960

work=$PWD/build/crash-ring-test
rm -rf "$work"
mkdir -p "$work"
cc -O2 -o "$work/make_trace" bench/make_trace.c
"$work/make_trace" "$frames" "$work/trace.log"
host=build/posix/bin/buslog-host

# replay_ring DIR: the replay every run makes, in the background; its pid
# in $pid.
replay_ring() {
  # Frames only (--no-markers): "written N" counts lines, which are then
  # frames, and the newest frame kept is checked against it. Marker lines
  # under kills are crash-test.sh's.
  "$host" replay "$work/trace.log" --output "$1/ring.csv" --rotate-size 8k --max-total 40k --quiet \
    --report-every 100 --no-markers 2>"$1/stderr" &
  pid=$!
}

# How long a whole run takes here and now: the kills are drawn from it, so
# that they land while the host writes however fast this machine is.
mkdir -p "$work/whole"
began=$(date +%s%N)
replay_ring "$work/whole"
wait "$pid" || { echo "crash ring test: the uninterrupted run failed:"; cat "$work/whole/stderr"; exit 1; }
whole=$(( ($(date +%s%N) - began) / 1000000 ))
echo "an uninterrupted run took $whole ms; the kills come within 90 % of that"

failures=0
midway=0
for i in $(seq "$runs"); do
  dir="$work/run-$i"
  mkdir -p "$dir"
  delay=$(awk -v seed="$RANDOM$i" -v whole="$whole" 'BEGIN { srand(seed); printf "%.3f", (0.02 + rand() * 0.88) * whole / 1000 }')
  replay_ring "$dir"
  sleep "$delay"
  killed=no
  if kill -0 "$pid" 2>/dev/null; then
    kill -9 "$pid" 2>/dev/null && killed=yes
  fi
  status=0
  wait "$pid" 2>/dev/null || status=$?
  [ "$killed" = yes ] && midway=$((midway + 1))
  reported=$( (grep -a -E '^written [0-9]+$' "$dir/stderr" || true) | tail -n 1 | cut -d' ' -f2)
  reported=${reported:-0}
  verdict=ok
  total=0
  : >"$dir/numbers"
  for file in "$dir"/ring-*.csv; do
    [ -e "$file" ] || continue
    size=$(stat -c %s "$file")
    total=$((total + size))
    [ "$size" -eq 0 ] && continue
    [ "$(tail -c 2 "$file" | od -An -tx1 | tr -d ' \n')" = 0d0a ] || verdict="$(basename "$file"): last line not whole"
    # Every line a whole log line: nine digits of frame number, CR LF.
    if LC_ALL=C grep -a -v -q -E '^[0-9]{9},\+[0-9]+\.[0-9]{6},[IO],CAN     , [0-9],(OK|NG),.*'$'\r''$' "$file"; then
      verdict="$(basename "$file"): a line that is not whole"
    fi
    cut -c1-9 "$file" >>"$dir/numbers"
  done
  count=$(wc -l <"$dir/numbers")
  if [ "$count" -gt 0 ]; then
    first=$(head -n 1 "$dir/numbers" | sed 's/^0*//')
    last=$(tail -n 1 "$dir/numbers" | sed 's/^0*//')
    expected=$(seq -f %09g "$first" "$last" | md5sum)
    [ "$(md5sum <"$dir/numbers")" = "$expected" ] || verdict="frame numbers not continuous from $first to $last"
    [ "$last" -ge "$reported" ] || verdict="newest frame $last, host had seen $reported written"
  elif [ "$reported" -gt 0 ]; then
    verdict="no lines, host had seen $reported written"
  fi
  [ "$total" -le "$maxTotal" ] || verdict="the ring holds $total bytes, more than $maxTotal"
  if [ "$killed" = no ] && [ "$status" -ne 0 ]; then verdict="ended by itself with status $status"; fi
  printf 'ring run %2d: killed (%s) after %ss, %6d lines in %2d files, %6d bytes, %6d reported written: %s\n' \
    "$i" "$killed" "$delay" "$count" "$(ls "$dir" | grep -c '^ring-')" "$total" "$reported" "$verdict"
  [ "$verdict" = ok ] || failures=$((failures + 1))
done
if [ "$midway" -eq 0 ]; then
  echo "crash ring test: no run was killed while it was writing"
  failures=$((failures + 1))
fi
if [ "$failures" -ne 0 ]; then
  echo "crash ring test: $failures runs tore lines, broke the frame numbers or overfilled the ring"
  exit 1
fi
echo "crash ring test: every killed run left whole lines, continuous frame numbers, a ring within its size"
