#!/usr/bin/env bash
# Replay benchmark: one deterministic candump trace replayed through the
# module by buslog-host, on tmpfs and on the disk, side by side in the same
# run with can-utils' log2asc and python-can's can_logconvert converting the
# same trace, and with a plain C writer that writes the very lines of the
# replay's log with one write() each and no formatting (the floor of a
# one-write-per-line design; O_DSYNC like the module's log).
#   scripts/replay-bench.sh [FRAMES] [DISK_FRAMES]
#   BASELINE=other/bin/buslog-host scripts/replay-bench.sh ...
# With BASELINE, another build's host (with the module beside it) takes its
# turn in every round too, so that a change can be compared side by side;
# a host that takes --sync-every-frame (one Write a frame) runs that way as
# well. Defaults: 1,000,000 frames on tmpfs, the same on the disk (PLACES=disk
# or PLACES=tmpfs runs only one of them). On the
# disk the programs that sync every line (the floor, one Write a frame, and
# a baseline that does so) replay only the first SYNCED_FRAMES frames of the
# same trace (default 20,000: at a few thousand syncs a second, a million
# would take minutes a round); they are compared by frames a second. Prints
# each whole program's wall time (best and median over ROUNDS rounds,
# default 9; on the disk DISK_ROUNDS, default 3), frames per second, and
# the host's speed against each program, round by round.
set -euo pipefail
cd "$(dirname "$0")/.."
frames=${1:-1000000}
diskFrames=${2:-$frames}

bash scripts/install-deps.sh can-utils python3-can
bash scripts/build.sh --posix >/dev/null
work=build/replay-bench
mkdir -p "$work"
cc -O2 -o "$work/make_trace" bench/make_trace.c
cc -O2 -o "$work/floor_writer" bench/floor_writer.c

shm=$(mktemp -d /dev/shm/buslog-bench.XXXXXX)
disk="$PWD/$work/disk"
trap 'rm -rf "$shm"' EXIT
mkdir -p "$disk"

. scripts/bench-lib.sh

run_on() {
  local where=$1 dir=$2 n=$3 rounds=$4 pycan=$5
  "$work/make_trace" "$n" "$dir/trace.log"
  # What the programs that sync every line replay.
  local slow=$n
  [ "$where" = disk ] && [ "${SYNCED_FRAMES:-20000}" -lt "$n" ] && slow=${SYNCED_FRAMES:-20000}
  head -n "$slow" "$dir/trace.log" >"$dir/trace-synced.log"
  cp build/posix/bin/libbuslog.so build/posix/bin/buslog-host "$dir/"
  local perFrame=""
  grep -q -- --sync-every-frame <<<"$("$dir/buslog-host" --help 2>&1)" && perFrame=yes
  if [ -n "${BASELINE:-}" ]; then
    mkdir -p "$dir/baseline"
    cp "$BASELINE" "$(dirname "$BASELINE")/libbuslog.so" "$dir/baseline/"
  fi
  # The programs take turns, round after round, so that each round's
  # programs meet the same state of the machine; a round compares the host
  # with the others by their times in that round. The host goes first,
  # writing the log that the floor writer then writes again. python-can is
  # slow and far behind: it runs in the first round only.
  local host="" floor="" floorPlain="" l2a="" py="" base="" single=""
  local baseTrace="$dir/trace-synced.log" baseN=$slow
  for round in $(seq "$rounds"); do
    # The host never replaces a log: the last round's goes first.
    rm -f "$dir/replay.log" "$dir/single.log"
    host+="$(once "$dir/buslog-host" replay "$dir/trace.log" --name replay.log --quiet) "
    if [ -n "$perFrame" ]; then
      single+="$(once "$dir/buslog-host" replay "$dir/trace-synced.log" --name single.log --quiet \
        --sync-every-frame) "
    fi
    if [ -n "${BASELINE:-}" ]; then
      rm -f "$dir/baseline/replay.log"
      # A baseline that batches replays the whole trace, as the host does.
      baseTrace="$dir/trace-synced.log" baseN=$slow
      if grep -q -- --sync-every-frame <<<"$("$dir/baseline/buslog-host" --help 2>&1)"; then
        baseTrace="$dir/trace.log" baseN=$n
      fi
      base+="$(once "$dir/baseline/buslog-host" replay "$baseTrace" --name replay.log --quiet) "
    fi
    head -n "$slow" "$dir/replay.log" >"$dir/replay-synced.log"
    floor+="$(once "$work/floor_writer" "$dir/replay-synced.log" "$dir/floor.log" --dsync) "
    floorPlain+="$(once "$work/floor_writer" "$dir/replay.log" "$dir/floor-plain.log") "
    l2a+="$(once log2asc -I "$dir/trace.log" -O "$dir/trace.asc" can0 can1) "
    if [ "$pycan" = yes ] && [ "$round" -eq 1 ]; then
      py="$(once /usr/bin/can_logconvert "$dir/trace.log" "$dir/trace-pycan.asc")"
    fi
  done
  cmp -s "$dir/replay-synced.log" "$dir/floor.log" || { echo "the floor writer wrote other bytes"; exit 1; }
  if [ -n "$perFrame" ]; then
    # The same frames give the same lines, marker lines among them.
    head -n "$(wc -l <"$dir/single.log")" "$dir/replay.log" | cmp -s - "$dir/single.log" ||
      { echo "one Write a frame wrote other bytes"; exit 1; }
  fi
  local lines
  # Frame lines: marker lines carry frame number 0.
  lines=$(grep -vc '^000000000,' "$dir/replay.log")
  [ "$lines" -eq "$n" ] || { echo "replay wrote $lines frame lines, expected $n"; exit 1; }
  echo
  echo "== $where: $n frames, $rounds rounds ($dir)"
  printf '%-38s %8s %8s %12s %22s\n' "program" "best s" "median s" "frames/s" "host's speed, %"
  # row NAME TIMES [share] [FRAMES]: FRAMES is what the program replayed
  # (default all n); the share compares frames a second.
  row() {
    local name=$1 times=$2 share="" frames=${4:-$n}
    if [ -n "${3:-}" ]; then
      local s
      s=$(shares "$host" "$(scaled "$times" "$frames" "$n")")
      share="$(median "$s") (from $(least "$s") to $(greatest "$s"))"
    fi
    printf '%-38s %8s %8s %12s %22s\n' "$name" "$(least "$times")" "$(median "$times")" \
      "$(rate "$frames" "$(median "$times")")" "$share"
  }
  row "buslog-host replay (module, O_DSYNC)" "$host"
  [ -n "$perFrame" ] && row "buslog-host --sync-every-frame" "$single" share "$slow"
  [ -n "${BASELINE:-}" ] && row "baseline buslog-host replay" "$base" share "$baseN"
  row "one write per line, O_DSYNC (floor)" "$floor" share "$slow"
  # Against programs that do not sync, a share means something only where
  # syncing costs nothing.
  local others=""
  [ "$where" = tmpfs ] && others=share
  row "one write per line, no sync" "$floorPlain" "$others"
  row "log2asc (buffered, no sync)" "$l2a" "$others"
  if [ -n "$py" ]; then
    printf '%-38s %8s %8s %12s %22s\n' "python-can can_logconvert" "$py" "$py" "$(rate "$n" "$py")" \
      "$(awk -v a="$(median "$host")" -v b="$py" 'BEGIN { printf "%.0f", 100 * b / a }')"
  fi
  echo "(frames/s from the median round; host's speed: the median over the rounds of the"
  echo " host's frames/s over the program's in the same round, and its range; above 100"
  echo " the host is faster)"
  if [ "$slow" -ne "$n" ]; then
    echo "(the floor, one Write a frame and a baseline that writes so: the first $slow frames)"
  fi
}

# PLACES: where to run (default both).
for where in ${PLACES-tmpfs disk}; do
  case $where in
    tmpfs) run_on tmpfs "$shm" "$frames" "${ROUNDS:-9}" yes ;;
    disk) run_on disk "$disk" "$diskFrames" "${DISK_ROUNDS:-3}" no ;;
  esac
done
