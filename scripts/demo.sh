#!/usr/bin/env bash
# Builds buslog for both platforms (installing what a fresh Debian machine
# lacks) and runs the host's demo: a bundled candump trace and a call script
# through the module, then the logs it wrote into the current folder. The
# Windows build then does the same under Wine, and its logs are compared
# with the native ones.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/progress-lib.sh

# Each step says what it does as it starts: the whole takes some minutes
# on a fresh machine, most of it the two builds.
bash scripts/install-deps.sh
bash scripts/build.sh

# Each demo runs in a fresh folder of its own, where it writes its logs
# (demo-can.buslog, demo-script.buslog), as it does in a user's current directory.
rm -rf build/posix/demo build/windows/demo
mkdir -p build/posix/demo build/windows/demo

echo
echo "== running the demo natively, in build/posix/demo: ../bin/buslog-host demo"
(cd build/posix/demo && ../bin/buslog-host demo)

echo
echo "== running the demo for Windows under Wine, in build/windows/demo: ../bin/buslog-host.exe demo"
[ -d build/windows/wineprefix ] || echo "(Wine sets up build/windows/wineprefix first, once)"
export WINEPREFIX="$PWD/build/windows/wineprefix" WINEDEBUG=-all
(cd build/windows/demo && run_logged ../demo.log "running the demo under Wine" \
  /usr/lib/wine/wine64 ../bin/buslog-host.exe demo --quiet) || { cat build/windows/demo.log; exit 1; }
for log in demo-can.buslog demo-script.buslog; do
  if cmp -s "build/posix/demo/$log" "build/windows/demo/$log"; then
    echo "build/windows/demo/$log is byte-identical to build/posix/demo/$log"
  else
    echo "build/windows/demo/$log DIFFERS from build/posix/demo/$log"
    exit 1
  fi
done
