#!/usr/bin/env bash
# Runs every test of buslog on both platforms: installs what a fresh Debian
# machine lacks, builds everything, then runs CTest natively, natively under
# AddressSanitizer and UndefinedBehaviorSanitizer, and for the Windows build
# under Wine, then the python-can package's tests. Exits non-zero if any test
# fails or cannot run.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
bash scripts/build.sh --sanitize

status=0
for dir in build/posix build/posix-asan build/windows; do
  echo "== tests in $dir"
  if ! ctest --test-dir "$dir" --output-on-failure --no-tests=error; then
    status=1
  fi
done
# Further checks that need more than CTest (each script's own header says
# what it proves).
for check in scripts/fuzz.sh scripts/crash-test.sh scripts/crash-ring-test.sh scripts/power-cut-test.sh \
  scripts/python-test.sh; do
  if [ -f "$check" ]; then
    echo "== $check"
    bash "$check" --ci || status=1
  fi
done
if [ $status -ne 0 ]; then
  echo "FAILED: some tests failed"
else
  echo "all tests passed on both platforms"
fi
exit $status
