#!/usr/bin/env bash
# Runs the python-can and JSON checks of the log tools with Debian's Python;
# skips when python3-can or pytest is not installed.
#   run_python_checks.sh BUSLOG_HOST BUSLOG_SOURCE
# in a fresh temporary folder, removed afterwards.
set -euo pipefail
if ! /usr/bin/python3 -c 'import can, pytest' 2>/dev/null; then
  echo "SKIPPED: python3-can or python3-pytest is not installed"
  exit 0
fi
export BUSLOG_HOST=$1 BUSLOG_SOURCE=$2
cd "$(mktemp -d)"
trap 'rm -rf "$PWD"' EXIT
exec /usr/bin/python3 -m pytest -q -p no:cacheprovider "$BUSLOG_SOURCE/tests/reader/test_python_can.py"
