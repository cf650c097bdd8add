#!/usr/bin/env bash
# Checks that a built module exports exactly the nine functions, and that the
# DLL imports nothing but system DLLs.
#   check_exports.sh windows buslog.dll OBJDUMP
#   check_exports.sh posix libbuslog.so NM
set -euo pipefail
kind=$1 module=$2 tool=$3
expected="Close Open PutError PutFrame PutFrameId PutString PutTimeStamp ShareMode Write"

if [ "$kind" = windows ]; then
  dump=$("$tool" -p "$module")
  # The export name table lists "[ordinal] Name" rows after its heading.
  actual=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort | tr '\n' ' ' | sed 's/ $//')
  imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
  for dll in $imports; do
    case "$dll" in
      kernel32.dll|msvcrt.dll) ;;
      *) echo "FAIL: $module imports $dll"; exit 1 ;;
    esac
  done
  echo "imports: $imports"
else
  actual=$("$tool" -D --defined-only "$module" | awk '$2 ~ /^[TtWwDdBbRrVviu]$/ {print $3}' |
    grep -v -E '^(_init|_fini)$' | sort | tr '\n' ' ' | sed 's/ $//')
fi

echo "exports: $actual"
if [ "$actual" != "$expected" ]; then
  echo "FAIL: expected exactly: $expected"
  exit 1
fi
echo "OK"
