#!/usr/bin/env bash
# Runs every test of buslog on both platforms: installs what a fresh Debian
# machine lacks, builds everything, then runs CTest natively, natively under
# AddressSanitizer and UndefinedBehaviorSanitizer, and for the Windows build
# under Wine, the fuzzers, the crash tests and the python-can package's
# tests. Exits non-zero if any test fails or cannot run.
#
# The suites run in two lanes at once, each suite alone in its build folder.
# The native and sanitizer tests wait mostly on sleeps and on the disk; the
# fuzzers keep one core busy for a fixed time, at the lowest priority, so
# that they take what the tests leave. The suites that use Wine share a
# lane, with one Wine server for the whole run (a server per test program
# costs seconds each). Every line says its suite, and a suite quiet for
# 25 s says so. A new suite goes into a lane: the native one if it runs
# only POSIX programs, the Wine one if it uses Wine, before crash-test.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/progress-lib.sh
start=$SECONDS

bash scripts/install-deps.sh
bash scripts/build.sh --sanitize

results=build/test-results
rm -rf "$results"
mkdir -p "$results"

# suite NAME COMMAND...: one suite, its lines tagged with NAME; its status
# and time go into $results/NAME.
suite() {
  local name=$1 began=$SECONDS status=0
  shift
  printf '%-10s | %s\n' "$name" "$*"
  "$@" 2>&1 | tag_lines "$name" || status=$?
  echo "$status $((SECONDS - began))" >"$results/$name"
  echo "== $name $([ "$status" -eq 0 ] && echo passed || echo "FAILED (status $status)") in $((SECONDS - began)) s"
}
# Further checks that need more than CTest (each script's own header says
# what it proves); a suite whose script is not there is left out.
suites=(posix posix-asan windows)
for check in fuzz crash-test crash-ring-test power-cut-test python-test; do
  [ -f "scripts/$check.sh" ] && suites+=("${check%-test}")
done
# check_suite NAME SCRIPT [PREFIX...]: scripts/SCRIPT.sh --ci, if it is there.
check_suite() {
  local name=$1 script=scripts/$2.sh
  shift 2
  [ -f "$script" ] || return 0
  suite "$name" "$@" bash "$script" --ci
}
ctest_suite() {
  suite "$1" ctest --test-dir "build/$1" --output-on-failure --no-tests=error
}

# The Wine server of build/windows's prefix, and the prefix's own programs,
# started once with no test's output to hold open; the prefix is made
# first on a fresh machine.
export WINEPREFIX="$PWD/build/windows/wineprefix" WINEDEBUG=-all
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
echo "starting Wine for build/windows ..."
mkdir -p "$WINEPREFIX"
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
run_logged build/windows.wine.log "starting Wine" /usr/lib/wine/wine64 cmd /c exit </dev/null ||
  { cat build/windows.wine.log; exit 1; }

# Each lane in a process group of its own, so that a Ctrl+C here (or a
# SIGTERM) ends both lanes with everything they started.
echo "running ${suites[*]} in two lanes ..."
set -m
(
  ctest_suite posix
  ctest_suite posix-asan
  check_suite crash-ring crash-ring-test
  check_suite power-cut power-cut-test
  check_suite python python-test
) &
native=$!
(
  check_suite fuzz fuzz nice -n 19
  ctest_suite windows
  # Last in its lane: it ends the Wine server when it is done.
  check_suite crash crash-test
) &
wine=$!
set +m
trap 'kill -TERM -- "-$native" "-$wine" 2>/dev/null; exit 130' INT TERM
wait "$native" || true
wait "$wine" || true
trap - INT TERM

echo
echo "suite        result   seconds"
failed=0
for name in "${suites[@]}"; do
  if [ -f "$results/$name" ]; then
    read -r status seconds <"$results/$name"
  else
    status="did not run" seconds=""
  fi
  printf '%-12s %-8s %7s\n' "$name" "$([ "$status" = 0 ] && echo passed || echo FAILED)" "$seconds"
  [ "$status" = 0 ] || failed=1
done
total=$((SECONDS - start))
if [ $failed -ne 0 ]; then
  echo "FAILED: some tests failed ($((total / 60)) min $((total % 60)) s)"
else
  echo "all tests passed on both platforms in $((total / 60)) min $((total % 60)) s"
fi
exit $failed
