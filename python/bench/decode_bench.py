"""Signal values (rows) a second: buslog.decode against a plain loop over
canmatrix's own decoder, side by side.

    PYTHONPATH=python /usr/bin/python3 python/bench/decode_bench.py [--cpu] [TRACE DBC] [ROUNDS] [HOST]

TRACE and DBC default to ../shared/data's real drive and its database;
ROUNDS (default 7) rounds take turns over:

- "canmatrix loop": the trace's frames read beforehand with python-can's
  CanutilsLogReader (not timed), then for each frame a dict lookup of its
  canmatrix Frame, Frame.decode(data) and the physical value of every
  signal: the floor of any tool built on canmatrix's decoder;
- "canmatrix loop + reading": the same with the reading timed;
- "decode, trace": list(buslog.decode(TRACE, DBC)): reading, decoding and
  counting, database loaded beforehand;
- "decode, log": the same of a buslog log replayed from the trace by
  HOST (default build/posix/bin/buslog-host), read with iter_records;
- "decode + CSV": what `python3 -m buslog decode TRACE --dbc DBC` does,
  rows written as CSV text into memory.

Prints each one's median rate, and each decode's rate against both
canmatrix loops as the median of the per-round shares, with their range.
--cpu takes the process's CPU time instead of the wall time: steadier on
a loaded machine.
"""

import contextlib
import io
import os
import statistics
import subprocess
import sys
import tempfile
import time

import can

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))

import buslog  # noqa: E402
from buslog.__main__ import write_csv  # noqa: E402
from buslog.decode import load_database  # noqa: E402

SHARED = os.path.join(os.path.dirname(os.path.dirname(HERE)), "..", "shared", "data")


def canmatrix_loop(frames, messages):
    rows = 0
    for message in messages:
        frame = frames.get((message.arbitration_id, message.is_extended_id))
        if frame is None:
            continue
        try:
            decoded = frame.decode(message.data)
        except Exception:  # a frame of another length than its message
            continue
        for item in decoded.values():
            item.phys_value
            rows += 1
    return rows


def main():
    arguments = sys.argv[1:]
    global clock
    clock = time.perf_counter
    if arguments and arguments[0] == "--cpu":
        arguments.pop(0)
        clock = time.process_time
    trace = arguments[0] if len(arguments) > 1 else os.path.join(SHARED, "candump-civic-drive.log")
    dbc = arguments[1] if len(arguments) > 1 else os.path.join(SHARED, "honda_civic_hatchback_ex_2017_can.dbc")
    rounds = int(arguments[2]) if len(arguments) > 2 else 7
    host = arguments[3] if len(arguments) > 3 else "build/posix/bin/buslog-host"

    with contextlib.redirect_stdout(io.StringIO()):
        database = load_database(dbc)  # canmatrix's complaints, once, before timing
    frames = database.frames
    messages = list(can.CanutilsLogReader(trace))
    folder = tempfile.mkdtemp(prefix="decode-bench-", dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    log = os.path.join(folder, "drive.csv")
    subprocess.run([host, "replay", trace, "--output", log, "--quiet"], check=True, capture_output=True)

    def loop():
        return canmatrix_loop(frames, messages)

    def loop_reading():
        return canmatrix_loop(frames, can.CanutilsLogReader(trace))

    def decode_trace():
        return len(list(buslog.decode(trace, database)))

    def decode_log():
        return len(list(buslog.decode(log, database)))

    def decode_csv():
        return write_csv(buslog.decode(trace, database), io.StringIO())

    runs = [("canmatrix loop", loop), ("canmatrix loop + reading", loop_reading), ("decode, trace", decode_trace),
            ("decode, log", decode_log), ("decode + CSV", decode_csv)]
    rates = {name: [] for name, _ in runs}
    counts = {}
    for _ in range(rounds):
        for name, work in runs:
            started = clock()
            rows = work()
            rates[name].append(rows / (clock() - started))
            counts[name] = rows
    os.unlink(log)
    os.rmdir(folder)

    print(f"{os.path.basename(trace)}: {len(messages):,} frames, {rounds} rounds, "
          f"{'CPU' if clock is time.process_time else 'wall'} time")
    for name, _ in runs:
        print(f"  {name:26s} {counts[name]:8,} rows  {statistics.median(rates[name]):10,.0f} rows/s")
    for baseline in ("canmatrix loop", "canmatrix loop + reading"):
        for name in ("decode, trace", "decode, log", "decode + CSV"):
            shares = [ours / theirs for ours, theirs in zip(rates[name], rates[baseline])]
            print(f"  {name} / {baseline}: {statistics.median(shares):.0%} "
                  f"({min(shares):.0%} to {max(shares):.0%})")


if __name__ == "__main__":
    main()
