#!/usr/bin/env bash
# Measures the module in process, with Google Benchmark: nanoseconds per
# record for each record kind, one line being PutFrameId + PutTimeStamp +
# PutFrame + Write, with the write-through log on tmpfs (/dev/shm), with no
# write at all (format only), and with the log on the disk (/tmp). Builds
# build/bench (RelWithDebInfo, -O2), runs every benchmark and prints the
# table. Timing only: nothing here passes or fails on a number, and
# scripts/test.sh never runs it. Extra arguments go to the benchmark
# program (e.g. --benchmark_filter=can).
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build/bench
jobs=$(nproc 2>/dev/null || echo 2)
mkdir -p "$dir"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUSLOG_BENCH=ON -DBUSLOG_BUILD_TESTS=OFF \
  >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
cmake --build "$dir" --target buslog_records_bench -j "$jobs" -- --no-print-directory >"$dir.build.log" 2>&1 ||
  { cat "$dir.build.log"; exit 1; }

csv=$dir/records.csv
"$dir/bin/buslog_records_bench" --benchmark_out="$csv" --benchmark_out_format=csv "$@"

# One row a record kind, one column an output: real time per record.
echo
printf '%-14s %16s %16s %16s\n' "record kind" "write on tmpfs" "format only" "write on disk"
awk -F, '
  /^"record\// {
    gsub(/"/, "", $1); split($1, part, "/")
    if (!(part[2] in seen)) { seen[part[2]] = 1; order[++kinds] = part[2] }
    ns[part[2], part[3]] = $3
  }
  END {
    for (i = 1; i <= kinds; ++i) {
      k = order[i]
      printf "%-14s %13.0f ns %13.0f ns %13.0f ns\n", k, ns[k, "tmpfs"], ns[k, "format_only"], ns[k, "disk"]
    }
  }' "$csv"
