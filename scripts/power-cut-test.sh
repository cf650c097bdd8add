#!/usr/bin/env bash
# Nothing lost at a power cut, in any state it could leave: runs buslog-host
# (a replay, one Write a frame, rotation, rings by files and by size, a full
# disk with a take-back, a full tmpfs under a ring, a file size limit, a log
# deleted under it) and the python-can writer with their file operations
# recorded (tests/crash/fs_record.c, preloaded), builds from each recording
# every state that a power cut could leave by the model in
# tests/crash/crash_states.py (or a sample of them, with a fixed seed) and
# checks in each: whole lines but for a cut that a write in flight explains,
# every frame reported logged there exactly once, a ring within its
# limits. See docs/testing.md. POSIX only; the tmpfs case needs root.
#   scripts/power-cut-test.sh [--ci] [--bin DIR] [--seed N]
# --ci checks about 10,000 states a case (a few seconds in all), else up to
# 100,000; --bin takes buslog-host and libbuslog.so from DIR (default
# build/posix/bin), e.g. an earlier build to compare.
set -euo pipefail
cd "$(dirname "$0")/.."
budget=100000
bin=build/posix/bin
seed=29
while [ $# -gt 0 ]; do
  case $1 in
    --ci) budget=10000 ;;
    --bin) bin=$2; shift ;;
    --seed) seed=$2; shift ;;
    *) echo "usage: scripts/power-cut-test.sh [--ci] [--bin DIR] [--seed N]" >&2; exit 2 ;;
  esac
  shift
done

libraries=(build/posix/bin/libbuslog_fs_record.so build/posix/bin/libbuslog_storage_faults.so)
for needed in "${libraries[@]}" build/posix/bin/buslog-host build/posix/bin/libbuslog.so; do
  if [ ! -f "$needed" ]; then
    echo "building what the power-cut test needs in build/posix ..."
    cmake -S . -B build/posix -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build/posix --target buslog buslog-host buslog_fs_record buslog_storage_faults -j2 >/dev/null
    break
  fi
done
/usr/bin/python3 tests/crash/power_cut_test.py --bin "$bin" --library "${libraries[0]}" --faults "${libraries[1]}" \
  --budget "$budget" --seed "$seed"
