#!/usr/bin/env bash
# Tests the python-can package in python/: installs it, offline, into a
# virtual environment under build/ that sees Debian's python3-can, and runs
# its pytest tests there against build/posix's module and buslog-host.
# Skipped, with a note, when python3-can or python3-pytest is missing.
#   scripts/python-test.sh [--ci] [PYTEST ARGS...]
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${1:-}" = --ci ] && shift
python=/usr/bin/python3

for needed in can pytest venv; do
  if ! "$python" -c "import $needed" 2>/dev/null; then
    echo "python tests skipped: $python cannot import $needed (Debian package python3-$needed)"
    exit 0
  fi
done

module=$PWD/build/posix/bin/libbuslog.so
if [ ! -f "$module" ] || [ ! -f build/posix/bin/buslog-host ]; then
  bash scripts/build.sh --posix
fi

# The package is built from a copy, so that the build leaves nothing in
# the source tree.
venv=build/python-venv
rm -rf "$venv" build/python-src
cp -r python build/python-src
rm -rf build/python-src/build build/python-src/*.egg-info
"$python" -m venv --system-site-packages "$venv"
"$venv/bin/pip" install --quiet --no-index --no-build-isolation --no-cache-dir build/python-src
# The module installed into the same prefix, where the package finds it
# without being told.
cmake --install build/posix --prefix "$venv" >/dev/null

status=0
PYTHONDONTWRITEBYTECODE=1 BUSLOG_MODULE="$module" \
  "$venv/bin/python" -m pytest -q -p no:cacheprovider python/tests "$@" || status=$?
if [ $status -eq 5 ]; then
  echo "python tests: pytest collected no tests"
  exit 1
fi
exit $status
