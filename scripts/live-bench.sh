#!/usr/bin/env bash
# Live-input benchmark: buslog-host replay - fed through a pipe, on tmpfs
# and on the disk (bench/live_latency.c):
#   - paced at 1,000 and 5,000 lines a second: the time from a line written
#     into the pipe until its line is in the log, p50, p99 and max;
#   - a burst written as fast as the pipe takes it: how long the writer is
#     held (against a reader that only drains the pipe) and how long until
#     every line is logged.
#   scripts/live-bench.sh [SECONDS] [BURST] [DISK_BURST]
# Defaults: 3 s at each rate, a burst of 1,000,000 lines on tmpfs and of
# 100,000 on the disk (where every line waits for its sync).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-3}
burst=${2:-1000000}
diskBurst=${3:-100000}

bash scripts/build.sh --posix >/dev/null
work=build/live-bench
mkdir -p "$work/disk"
cc -O2 -pthread -o "$work/live_latency" bench/live_latency.c
host="$PWD/build/posix/bin/buslog-host"
shm=$(mktemp -d /dev/shm/buslog-live.XXXXXX)
trap 'rm -rf "$shm"' EXIT

for where in tmpfs disk; do
  dir=$shm
  n=$burst
  if [ "$where" = disk ]; then
    dir="$PWD/$work/disk"
    n=$diskBurst
  fi
  echo "== $where ($dir)"
  for rate in 1000 5000; do
    rm -f "$dir/paced.csv"
    "$work/live_latency" paced "$rate" $((rate * seconds)) "$dir/paced.csv" -- \
      "$host" replay - --output "$dir/paced.csv" --quiet
  done
  rm -f "$dir/burst.csv"
  "$work/live_latency" burst "$n" "$dir/burst.csv" -- "$host" replay - --output "$dir/burst.csv" --quiet
  grep -E "queue|frames read" "$dir/burst.csv.stderr" | sed 's/^/   /'
  rm -f "$dir"/paced.csv* "$dir"/burst.csv*
done
