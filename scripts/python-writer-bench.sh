#!/usr/bin/env bash
# The python-can writer against a baseline's (main's) side by side in one
# run (python/bench/writer_bench.py): on tmpfs by wall time and by CPU time,
# and on the 2 ms sync model (bench/sync_delay.c preloaded). The baseline's
# package is installed into a virtual environment of its own; both drive
# this build's module.
#   BASELINE=/path/to/main scripts/python-writer-bench.sh [MESSAGES [ROUNDS]]
set -euo pipefail
cd "$(dirname "$0")/.."
baseline=${BASELINE:?give BASELINE=, a checkout of the baseline (its python/ is installed)}
messages=${1:-200000}
rounds=${2:-9}
[ -x build/python-venv/bin/python ] || bash scripts/python-test.sh -q -k nothing >/dev/null || true
[ -f build/posix/bench/libsync_delay.so ] || cmake --build build/posix --target sync_delay >/dev/null

venv=build/bench-baseline-venv
rm -rf "$venv" build/bench-baseline-src
cp -r "$baseline/python" build/bench-baseline-src
rm -rf build/bench-baseline-src/build build/bench-baseline-src/*.egg-info
/usr/bin/python3 -m venv --system-site-packages "$venv"
"$venv/bin/pip" install --quiet --no-index --no-build-isolation --no-cache-dir build/bench-baseline-src

export BUSLOG_MODULE=$PWD/build/posix/bin/libbuslog.so
bench=(build/python-venv/bin/python python/bench/writer_bench.py --baseline "$venv/bin/python")
echo "== tmpfs, wall time"
"${bench[@]}" "$messages" "$rounds" /dev/shm
echo "== tmpfs, CPU time"
"${bench[@]}" --cpu "$messages" "$rounds" /dev/shm
echo "== tmpfs with the 2 ms sync model, wall time"
"${bench[@]}" --model build/posix/bench/libsync_delay.so "$messages" "$rounds" /dev/shm
