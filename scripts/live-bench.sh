#!/usr/bin/env bash
# Live-input benchmark: buslog-host replay - fed through a pipe
# (bench/live_latency.c), the log in each of PLACES:
#   disk   this checkout's file system (a real disk; every Write is synced)
#   model  tmpfs with bench/sync_delay.c preloaded into the host: every
#          write() on the O_DSYNC log takes 2 ms more (SYNC_DELAY_MS), a
#          model of an SD card or a slow SSD
#   tmpfs  /dev/shm, no sync at all
# and measures:
#   - paced at each of RATES lines a second for SECONDS: the time from a
#     line written into the pipe until its line is in the log, p50, p99 and
#     max, and the deepest the host's queue got (from its summary); a line
#     not logged LIVE_WAIT seconds (default 30) after the last was sent
#     counts as later than that, and the host is then stopped;
#   - a burst of BURST lines written as fast as the pipe takes them, in each
#     of BURST_PLACES: how long the writer is held and how long until every
#     line is logged (at most BURST_WAIT seconds, default 600).
#   scripts/live-bench.sh [SECONDS] [BURST]
#   BASELINE=other/bin/buslog-host scripts/live-bench.sh ...
# With BASELINE, another build's host (its module beside it) runs each
# measurement too, just before this build's, side by side.
# Defaults: 5 s at 2,000, 10,000 and 50,000 lines/s on the disk and on the
# model; a burst of 1,000,000 lines on the disk.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-5}
burst=${2:-1000000}
rates=${RATES:-2000 10000 50000}
places=${PLACES-disk model}
burstPlaces=${BURST_PLACES-disk}
delay=${SYNC_DELAY_MS:-2}

bash scripts/build.sh --posix >/dev/null
work=$PWD/build/live-bench
mkdir -p "$work/disk"
cc -O2 -pthread -o "$work/live_latency" bench/live_latency.c
cc -O2 -shared -fPIC -o "$work/libsync_delay.so" bench/sync_delay.c -ldl
shm=$(mktemp -d /dev/shm/buslog-live.XXXXXX)
trap 'rm -rf "$shm"' EXIT

hosts=("this:$PWD/build/posix/bin/buslog-host")
[ -n "${BASELINE:-}" ] && hosts=("baseline:$(realpath "$BASELINE")" "${hosts[@]}")

# run_host WHERE LOG MODE ARGS...: live_latency MODE ARGS... -- host, with
# the model's library preloaded into the host alone: on the model with its
# delay, on the disk with none, to say how long the disk's syncs took.
run_host() {
  local where=$1 log=$2 host=$3
  shift 3
  local pre=()
  case $where in
    model) pre=(/usr/bin/env "LD_PRELOAD=$work/libsync_delay.so" "BUSLOG_SYNC_DELAY_MS=$delay"
      BUSLOG_SYNC_DELAY_REPORT=1) ;;
    disk) pre=(/usr/bin/env "LD_PRELOAD=$work/libsync_delay.so" BUSLOG_SYNC_DELAY_MS=0
      BUSLOG_SYNC_DELAY_REPORT=1) ;;
  esac
  "$work/live_latency" "$@" -- "${pre[@]}" "$host" replay - --output "$log" --quiet
}

# What the host's summary said: the deepest queue, and on the model how
# long a sync took.
summary_of() {
  local err=$1 deepest sync
  deepest=$(sed -n 's/^  queue *deepest \([0-9]*\) \(lines\|frames\).*/\1/p' "$err" | tail -1)
  sync=$(sed -n 's/^sync_delay: .*, \([0-9.]*\) ms each.*/\1/p' "$err" | tail -1)
  printf 'deepest queue %s lines' "${deepest:-?}"
  [ -n "$sync" ] && printf ', a sync %s ms' "$sync"
  grep -h -E "^buslog-host: (stopped|.*not logged)" "$err" | sed 's/^/; /' | tr -d '\n' || true
  echo
}

dirOf() {
  case $1 in
    disk) echo "$work/disk" ;;
    *) echo "$shm" ;;
  esac
}

for where in $places; do
  dir=$(dirOf "$where")
  echo "== $where ($dir)"
  for rate in $rates; do
    for entry in "${hosts[@]}"; do
      name=${entry%%:*} host=${entry#*:}
      rm -f "$dir/paced.csv" "$dir/paced.csv.stderr"
      printf '%-9s ' "$name"
      LIVE_WAIT=${LIVE_WAIT:-30} run_host "$where" "$dir/paced.csv" "$host" \
        paced "$rate" $((rate * seconds)) "$dir/paced.csv" | tr -d '\n'
      printf '\n%-9s   ' ""
      summary_of "$dir/paced.csv.stderr"
    done
  done
  rm -f "$dir"/paced.csv*
done

for where in $burstPlaces; do
  dir=$(dirOf "$where")
  echo "== burst, $where ($dir)"
  for entry in "${hosts[@]}"; do
    name=${entry%%:*} host=${entry#*:}
    rm -f "$dir/burst.csv" "$dir/burst.csv.stderr"
    printf '%-9s ' "$name"
    LIVE_WAIT=${BURST_WAIT:-600} run_host "$where" "$dir/burst.csv" "$host" burst "$burst" "$dir/burst.csv" |
      tr -d '\n'
    printf '\n%-9s   ' ""
    summary_of "$dir/burst.csv.stderr"
  done
  rm -f "$dir"/burst.csv*
done
