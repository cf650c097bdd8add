#!/usr/bin/env bash
# Makes the release packages into build/packages/:
#   buslog-<version>-win64.zip   from the mingw-w64 build: buslog.dll,
#                                buslog-host.exe, the headers, the samples,
#                                the examples, README.md
#   buslog_<version>_amd64.deb   from the POSIX build: the module, the
#                                headers, buslog-host, the samples, the
#                                examples, the CMake and pkg-config files
# Both ship stripped binaries. The version is project(VERSION) in
# CMakeLists.txt, the one place it is written.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh
mkdir -p build/packages
for dir in build/windows build/posix; do
  cpack --config "$dir/CPackConfig.cmake" -B build/packages >"$dir.package.log" 2>&1 ||
    { cat "$dir.package.log"; exit 1; }
done
rm -rf build/packages/_CPack_Packages
ls -l build/packages
