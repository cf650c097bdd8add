#!/usr/bin/env bash
# convert on a full disk: a small tmpfs as the output's file system. The
# error names the reason, the output keeps whole lines only (cut back to the
# last whole line), and they are the start of what a roomy disk gets.
#   full_disk.sh buslog-host LOG WORK
set -u
host=$1 log=$2 work=$3
if [ "$(id -u)" != 0 ]; then echo "SKIPPED: mounting a small tmpfs needs root"; exit 0; fi
mnt=$work/full-disk
mkdir -p "$mnt"
if ! mount -t tmpfs -o size=64k tmpfs "$mnt" 2>/dev/null; then echo "SKIPPED: cannot mount a tmpfs here"; exit 0; fi
trap 'umount "$mnt"' EXIT
logs=()
for i in $(seq 40); do logs+=("$log"); done
"$host" convert "${logs[@]}" --to jsonl --output "$work/roomy.jsonl" --overwrite 2>/dev/null || { echo "roomy run failed"; exit 1; }
"$host" convert "${logs[@]}" --to jsonl --output "$mnt/full.jsonl" 2>"$work/full.err"
status=$?
cat "$work/full.err"
[ $status = 1 ] || { echo "exit status $status, expected 1"; exit 1; }
grep -q "$mnt/full.jsonl: write error: No space left on device; it holds the [0-9]* bytes of whole lines" "$work/full.err" ||
  { echo "the error does not name the reason"; exit 1; }
size=$(stat -c %s "$mnt/full.jsonl")
[ "$size" -gt 0 ] || { echo "nothing kept"; exit 1; }
[ "$(tail -c 1 "$mnt/full.jsonl" | od -An -c | tr -d ' ')" = '\n' ] || { echo "the output ends in a cut line"; exit 1; }
cmp -n "$size" "$mnt/full.jsonl" "$work/roomy.jsonl" || { echo "the kept lines are not the start of the output"; exit 1; }
echo "full disk: $size bytes of whole lines kept, the reason named"
