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

# Standard output sent to a file on the full disk: the same, and the reason
# comes before the counts, which say "converted", not "written".
rm -f "$mnt/full.jsonl"
"$host" convert "${logs[@]}" --to jsonl >"$mnt/stdout.jsonl" 2>"$work/stdout.err"
status=$?
cat "$work/stdout.err"
[ $status = 1 ] || { echo "standard output: exit status $status, expected 1"; exit 1; }
head -1 "$work/stdout.err" | grep -q "standard output: write error: No space left on device; it holds the [0-9]* bytes" ||
  { echo "standard output: the reason is not the first line"; exit 1; }
grep -q "^  converted " "$work/stdout.err" || { echo "standard output: the counts say written"; exit 1; }
size=$(stat -c %s "$mnt/stdout.jsonl")
[ "$size" -gt 0 ] || { echo "standard output: nothing kept"; exit 1; }
[ "$(tail -c 1 "$mnt/stdout.jsonl" | od -An -c | tr -d ' ')" = '\n' ] || { echo "standard output ends in a cut line"; exit 1; }
cmp -n "$size" "$mnt/stdout.jsonl" "$work/roomy.jsonl" || { echo "standard output: not the start of the output"; exit 1; }
echo "full disk, standard output: $size bytes of whole lines kept, the reason first"
