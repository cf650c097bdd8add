#!/usr/bin/env bash
# Measures what Open costs on the disk (a folder in build/, on the file
# system of this checkout) and on tmpfs (/dev/shm): the module's Open and
# Close of a new log against the create and close alone, alternating call by
# call in one program (bench/open_bench.cpp). Timing only: nothing here
# passes or fails on a number, and scripts/test.sh never runs it.
#   scripts/open-bench.sh [CALLS]      (default 21 each)
set -euo pipefail
cd "$(dirname "$0")/.."
calls=${1:-21}

dir=build/bench
jobs=$(nproc 2>/dev/null || echo 2)
mkdir -p "$dir"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUSLOG_BENCH=ON -DBUSLOG_BUILD_TESTS=OFF \
  >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
cmake --build "$dir" --target buslog_open_bench -j "$jobs" -- --no-print-directory >"$dir.build.log" 2>&1 ||
  { cat "$dir.build.log"; exit 1; }

disk=$(mktemp -d "$PWD/$dir/open-disk.XXXXXX")
shm=$(mktemp -d /dev/shm/buslog-open.XXXXXX)
trap 'rm -rf "$disk" "$shm"' EXIT
echo "disk: $(df -T "$disk" | awk 'NR == 2 { print $2 " on " $1 }')"
"$dir/bin/buslog_open_bench" "$disk" "$calls"
"$dir/bin/buslog_open_bench" "$shm" "$calls"
