#!/usr/bin/env bash
# Builds the module, the host and the tests for both platforms:
#   build/posix     libbuslog.so, buslog-host, tests
#   build/windows   buslog.dll, buslog-host.exe, tests (run under Wine)
# With --sanitize also build/posix-asan, the same built with AddressSanitizer
# and UndefinedBehaviorSanitizer; with --posix only build/posix.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/progress-lib.sh

jobs=$(nproc 2>/dev/null || echo 2)
# Says each step as it starts, and the build's percentage every 20 s (the
# build's own output goes to $dir.*.log, shown only when a step fails).
configure_and_build() {
  local dir=$1 what=$2 start=$SECONDS
  shift 2
  echo "configuring $what in $dir ..."
  run_logged "$dir.configure.log" configuring cmake -S . -B "$dir" "$@" || { cat "$dir.configure.log"; return 1; }
  echo "building $what in $dir (output in $dir.build.log) ..."
  run_logged "$dir.build.log" building cmake --build "$dir" -j "$jobs" -- --no-print-directory ||
    { cat "$dir.build.log"; return 1; }
  echo "built $dir in $((SECONDS - start)) s"
}

mkdir -p build
configure_and_build build/posix "for Linux" -DCMAKE_BUILD_TYPE=RelWithDebInfo
[ "${1:-}" = --posix ] && exit 0
configure_and_build build/windows "for Windows (mingw-w64)" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
if [ "${1:-}" = --sanitize ]; then
  configure_and_build build/posix-asan "for Linux with the sanitizers" -DCMAKE_BUILD_TYPE=Debug -DBUSLOG_SANITIZE=ON
fi
