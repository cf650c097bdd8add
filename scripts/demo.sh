#!/usr/bin/env bash
# Builds buslog for both platforms (installing what a fresh Debian machine
# lacks) and runs the host's demo: a bundled candump trace and a call script
# through the module, then the logs it wrote. The Windows build then does
# the same under Wine, and its logs are compared with the native ones.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
bash scripts/build.sh

echo
echo "== native: build/posix/bin/buslog-host demo"
build/posix/bin/buslog-host demo --quiet

echo
echo "== Windows under Wine: build/windows/bin/buslog-host.exe demo"
export WINEPREFIX="$PWD/build/windows/wineprefix" WINEDEBUG=-all
/usr/lib/wine/wine64 build/windows/bin/buslog-host.exe demo --quiet >/dev/null 2>&1
for log in demo-can.log demo-script.log; do
  if cmp -s "build/posix/bin/$log" "build/windows/bin/$log"; then
    echo "build/windows/bin/$log is byte-identical to build/posix/bin/$log"
  else
    echo "build/windows/bin/$log DIFFERS from build/posix/bin/$log"
    exit 1
  fi
done
