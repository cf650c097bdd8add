#!/usr/bin/env bash
# Log tools benchmark: a deterministic 1,000,000-frame candump trace is
# replayed once into a log; then, round after round on tmpfs, `buslog-host
# convert --to candump` and `buslog-host stats` read that log while can-utils'
# log2asc converts the original trace, side by side in the same run (and
# `convert --to jsonl` for comparison).
#   scripts/reader-bench.sh [FRAMES]
# ROUNDS (default 7) sets the rounds. Prints each program's best and median
# wall time, frames per second from the median, and the tools' speed against
# log2asc: the median over the rounds of log2asc's time over the tool's time
# in the same round (above 100: faster than log2asc). Not a test: nothing is
# asserted about speed.
set -euo pipefail
cd "$(dirname "$0")/.."
frames=${1:-1000000}
rounds=${ROUNDS:-7}

bash scripts/install-deps.sh can-utils
bash scripts/build.sh --posix >/dev/null
work=build/reader-bench
mkdir -p "$work"
cc -O2 -o "$work/make_trace" bench/make_trace.c

dir=$(mktemp -d /dev/shm/buslog-reader-bench.XXXXXX)
trap 'rm -rf "$dir"' EXIT
cp build/posix/bin/libbuslog.so build/posix/bin/buslog-host "$dir/"
"$work/make_trace" "$frames" "$dir/trace.log"
"$dir/buslog-host" replay "$dir/trace.log" --name replay.log --quiet 2>/dev/null
lines=$(wc -l <"$dir/replay.log")
[ "$lines" -eq "$frames" ] || { echo "replay wrote $lines lines, expected $frames"; exit 1; }

. scripts/bench-lib.sh

host="$dir/buslog-host"
candump="" stats="" jsonl="" l2a=""
for round in $(seq "$rounds"); do
  candump+="$(once "$host" convert "$dir/replay.log" --to candump --start 1700000000 --output "$dir/out.candump" --overwrite) "
  stats+="$(once "$host" stats "$dir/replay.log") "
  jsonl+="$(once "$host" convert "$dir/replay.log" --to jsonl --output "$dir/out.jsonl" --overwrite) "
  l2a+="$(once log2asc -I "$dir/trace.log" -O "$dir/trace.asc" can0 can1) "
done
out=$(wc -l <"$dir/out.candump")
[ "$out" -eq "$frames" ] || { echo "convert wrote $out frames, expected $frames"; exit 1; }

echo "== log tools: $frames frames, $rounds rounds on tmpfs ($(nproc) cores, $(uname -m))"
printf '%-34s %8s %8s %12s %24s\n' "program" "best s" "median s" "frames/s" "speed vs log2asc, %"
row() {
  local name=$1 times=$2 share=""
  if [ -n "${3:-}" ]; then
    local s
    s=$(shares "$times" "$l2a")
    share="$(median "$s") (from $(least "$s") to $(greatest "$s"))"
  fi
  printf '%-34s %8s %8s %12s %24s\n' "$name" "$(least "$times")" "$(median "$times")" \
    "$(rate "$frames" "$(median "$times")")" "$share"
}
row "buslog-host convert --to candump" "$candump" share
row "buslog-host stats" "$stats" share
row "buslog-host convert --to jsonl" "$jsonl" share
row "log2asc (original trace)" "$l2a"
