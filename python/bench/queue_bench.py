"""How far the group-commit writer's queue runs behind a bus: what a kill
could lose at a given message rate.

    BUSLOG_MODULE=build/posix/bin/libbuslog.so \\
      build/python-venv/bin/python python/bench/queue_bench.py [RATE] [SECONDS] [FOLDER]

Hands the writer RATE messages a second (default 2000; 8-byte standard
frames, as a bus delivers them: one call each, paced by the clock) for
SECONDS (default 5) into FOLDER (default /dev/shm), and samples after every
call how many messages are taken but not yet written (queued, or in the
batch being written: the engine's framesPending, as of its last round). Prints the median, 99th percentile and largest
figure, the Write calls made, and the rate reached.
"""

import os
import statistics
import sys
import tempfile
import time

import can

import buslog


def main():
    rate = float(sys.argv[1]) if len(sys.argv) > 1 else 2000.0
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 5.0
    folder = sys.argv[3] if len(sys.argv) > 3 else "/dev/shm"
    count = int(rate * seconds)
    messages = [can.Message(timestamp=1700000000.0 + n / rate, arbitration_id=n & 0x7FF, is_extended_id=False,
                            data=bytes((n + k) & 0xFF for k in range(8)), channel="can0") for n in range(count)]
    behind = []
    with tempfile.TemporaryDirectory(dir=folder) as work:
        writer = buslog.BuslogWriter(os.path.join(work, "queue.buslog"))
        started = time.perf_counter()
        for index, message in enumerate(messages):
            due = started + index / rate
            while time.perf_counter() < due:
                pass
            writer.on_message_received(message)
            behind.append(writer.counts().framesPending)
        elapsed = time.perf_counter() - started
        writer.stop()
    behind.sort()
    writes = writer.counts().writes
    print(f"{count} messages at {rate:,.0f}/s into {folder}: reached {count / elapsed:,.0f}/s, "
          f"{writes} Writes ({count / writes:.1f} messages a Write)")
    print(f"  not yet written after a call: median {statistics.median(behind):.0f}, "
          f"p99 {behind[int(len(behind) * 0.99)]}, largest {behind[-1]}")


if __name__ == "__main__":
    main()
