#!/usr/bin/env bash
# Makes the release packages into build/packages/:
#   buslog-<version>-win64.zip   from the mingw-w64 build: buslog.dll,
#                                buslog-host.exe, the headers, the samples,
#                                the examples, README.md
#   buslog_<version>_amd64.deb   from the POSIX build: the module, the
#                                headers, buslog-host, the samples, the
#                                examples, the CMake and pkg-config files
#   python3-buslog_<version>_all.deb
#                                the python-can package (python/) for
#                                Debian's python3, depending on buslog of
#                                the same version, python3-can,
#                                python3-canmatrix, python3-matplotlib and
#                                python3-numpy
# They ship stripped binaries. The version is project(VERSION) in
# CMakeLists.txt; python/pyproject.toml must say the same (the build
# checks it).
# Both Debian packages install together:
#   sudo apt install ./build/packages/buslog_*_amd64.deb ./build/packages/python3-buslog_*_all.deb
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
