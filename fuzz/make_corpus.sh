#!/usr/bin/env bash
# Writes the seed inputs of the exports fuzzer into fuzz/corpus/, one file
# per kind of call sequence, in the input format described at the top of
# fuzz/exports_fuzzer.cpp. Each seed is written as hex below, call by call.
set -euo pipefail
cd "$(dirname "$0")/corpus"

seed() {
  local name=$1
  shift
  printf '%s' "$*" | tr -d ' ' | xxd -r -p >"$name"
}

# Calls: Open name, Close, Write, frame number 123, time stamp 1.234567.
open0="00 00"
close="01 00"
write="08 00"
frameid="04 01 7b000000"
stamp="06 02 01000000 47940300"
# PutFrame kind bus channel status length data (kind: 01 I, 02 P, 03 E,
# 04 M, 05 unknown; bus: 00 port in, 01 CAN, 02 LIN, 03 CXPI, 06 unknown).
seed can_standard "$open0 $frameid $stamp 03 01 01 00 00 0b 07ff08 1122334455667788 $write $close"
seed can_extended "$open0 $frameid $stamp 03 01 01 01 00 0d c102030408 1122334455667788 $write $close"
seed lin "$open0 $frameid $stamp 03 00 02 00 00 0b 0a3c08 0102030405060708 $write $close"
seed cxpi "$open0 $frameid $stamp 03 00 03 02 01 07 07c5b7 01020304 $write $close"
seed port "$open0 $frameid $stamp 03 02 00 00 00 09 04 0f00 f0ff aa55 0001 $write $close"
seed port_out "$open0 03 02 04 00 00 01 02 0302 0180 $write $close"
seed environment "$open0 $frameid $stamp 03 03 00 00 00 06 410000023132 $write $close"
seed marker "$open0 $frameid $stamp 03 04 00 00 00 06 414243007879 $write $close"
seed generic "$open0 $frameid $stamp 03 05 06 00 01 04 ab01cdef $write $close"
seed generic_raw_values "$open0 03 f0 34120000 f1 78563412 f2 ffffffff f3 05000000 02 0102 $write $close"
seed error_and_share "07 01 01000000 $open0 02 01 1f000000 05 05 68656c6c6f $write 07 00 $close"
seed open_names "00 04 00 05 00 06 00 07 $write $close 00 01 00 02 $write $close 00 03 00 03 $close"
seed write_without_file "$frameid $write $close $write"
seed huge_counts "$open0 04 f0 ffffffff 7b000000 06 f5 02000080 01000000 02000000 02 f0 00000080 1f000000 07 f0 ffffffff 00000000 $write $close"
seed long_string "$open0 05 c1 a086 78 $write 05 80 1027 $write $close"
seed long_generic "$open0 03 05 06 00 00 c1 a086 55 03 00 01 00 00 c1 a086 ff $write $close"
seed long_marker "$open0 03 04 00 00 00 c1 a086 4d $write $close"
seed long_environment "$open0 03 03 00 00 00 c0 ff0f 4e 0003 414243 $write 03 03 06 00 00 05 4100ffff58 $write $close"
seed full_line "$open0 05 c0 ff0f 7a $frameid $stamp $write $close"
