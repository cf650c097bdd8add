#!/usr/bin/env bash
# Fuzzes the nine exports: builds build/fuzz with clang (libFuzzer,
# AddressSanitizer, UndefinedBehaviorSanitizer over the module's own code)
# and runs the exports fuzzer on a copy of the seed corpus in fuzz/corpus/.
# Proves that no call sequence a host can make crashes the module, reads or
# writes out of bounds, or breaks the line, write and result invariants the
# fuzzer checks after every call.
# Then fuzzes the host's inputs and the log reader the same way: the candump
# parser with the line reader, the call-script parser driving the module's
# objects, and the log reader, seeded from samples/, tests/host/traces/,
# tests/host/scripts/ and the expected logs.
#   fuzz.sh --ci        60 seconds for the exports, 20 for each of the others,
#                       as scripts/test.sh runs it
#   fuzz.sh [SECONDS]   that long each (default 600)
# Exits non-zero if the fuzzer finds a crash; the reproducer is left in
# build/fuzz/artifacts/. Installs nothing (scripts/install-deps.sh does).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/progress-lib.sh

seconds=600
if [ "${1:-}" = --ci ]; then
  seconds=60
elif [ -n "${1:-}" ]; then
  seconds=$1
fi

dir=build/fuzz
jobs=$(nproc 2>/dev/null || echo 2)
mkdir -p "$dir"
echo "building the fuzzers in $dir with clang ..."
run_logged "$dir.configure.log" configuring cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DBUSLOG_FUZZ=ON -DBUSLOG_BUILD_TESTS=OFF \
  -DBUSLOG_SANITIZE=ON || { cat "$dir.configure.log"; exit 1; }
run_logged "$dir.build.log" building cmake --build "$dir" --target exports_fuzzer -j "$jobs" -- --no-print-directory ||
  { cat "$dir.build.log"; exit 1; }

# The fuzzer adds what it finds to its working corpus; the seeds stay as
# they are.
corpus=$dir/corpus-run
artifacts=$dir/artifacts
rm -rf "$corpus"
mkdir -p "$corpus" "$artifacts"
cp fuzz/corpus/* "$corpus"/
log=$dir/fuzz.log

echo "fuzzing the exports for ${seconds}s (log: $log)"
status=0
run_logged "$log" "fuzzing the exports" "$dir/bin/exports_fuzzer" -max_total_time="$seconds" -max_len=8192 \
  -timeout=10 -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" || status=$?

if [ $status -ne 0 ]; then
  tail -n 60 "$log"
  echo "FAILED: the exports fuzzer stopped with status $status; reproducer in $artifacts/"
  exit 1
fi
# The last progress line (#execs DONE cov ft corp ...) and the totals.
grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true
grep -E '^(Done [0-9]+ runs|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || true
echo "OK: no crash"

# The host's inputs and the log reader: any bytes as a trace, a call script
# or a log, seeded with real ones.
hostSeconds=$seconds
[ "${1:-}" = --ci ] && hostSeconds=20
run_logged "$dir.build.log" building cmake --build "$dir" --target candump_fuzzer script_fuzzer reader_fuzzer \
  -j "$jobs" -- --no-print-directory || { cat "$dir.build.log"; exit 1; }
for input in candump script reader; do
  corpus=$dir/$input-corpus-run
  rm -rf "$corpus"
  mkdir -p "$corpus"
  case $input in
    candump) cp samples/*.candump tests/host/traces/* "$corpus"/ ;;
    script) cp samples/*.script tests/host/scripts/* "$corpus"/ ;;
    reader) cp tests/host/expected/*.log tests/reader/expected/* "$corpus"/ ;;
  esac
  log=$dir/$input-fuzz.log
  echo "fuzzing the $input parser for ${hostSeconds}s (log: $log)"
  status=0
  run_logged "$log" "fuzzing the $input parser" "$dir/bin/${input}_fuzzer" -max_total_time="$hostSeconds" \
    -max_len=16384 -timeout=10 -print_final_stats=1 -artifact_prefix="$artifacts/$input-" "$corpus" || status=$?
  if [ $status -ne 0 ]; then
    tail -n 60 "$log"
    echo "FAILED: the $input fuzzer stopped with status $status; reproducer in $artifacts/"
    exit 1
  fi
  grep -E '^Done [0-9]+ runs' "$log" || true
done
echo "OK: no crash in the host's parsers or the log reader"
