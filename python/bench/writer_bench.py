"""Messages per second through python-can writers, side by side.

    BUSLOG_MODULE=build/posix/bin/libbuslog.so \\
      build/python-venv/bin/python python/bench/writer_bench.py [MESSAGES] [ROUNDS] [FOLDER]

Writes the same messages (8-byte standard data frames, with every tenth
an extended one and every hundredth a CAN FD frame) through the .buslog
writer and python-can's own .csv and .log writers, taking turns, ROUNDS
times (default 9), into FOLDER (default /dev/shm). Each writer's time
includes opening and stopping it (python-can's writers flush on stop).
python-can's writers buffer their lines; for comparison the .csv writer
also runs with a flush after every message (one write a line, as the
module does) and with a flush and fdatasync after every message (each
line on the device, the module's promise). Prints each writer's median
rate, and the .buslog writer's rate against the others as the median of
the per-round shares, with their range.
"""

import os
import statistics
import sys
import tempfile
import time

import can


def messages(count):
    result = []
    for index in range(count):
        data = bytes((index + k) & 0xFF for k in range(8))
        if index % 100 == 99:
            message = can.Message(arbitration_id=index & 0x7FF, is_extended_id=False, is_fd=True,
                                  bitrate_switch=True, data=data * 8)
        elif index % 10 == 9:
            message = can.Message(arbitration_id=index, is_extended_id=True, data=data)
        else:
            message = can.Message(arbitration_id=index & 0x7FF, is_extended_id=False, data=data)
        message.timestamp = 1700000000.0 + index * 0.0001
        message.channel = "can0"
        result.append(message)
    return result


def run(path, batch, after_each=None):
    started = time.perf_counter()
    writer = can.Logger(path)
    on_message = writer.on_message_received
    if after_each is None:
        for message in batch:
            on_message(message)
    else:
        file = writer.file
        for message in batch:
            on_message(message)
            after_each(file)
    writer.stop()
    return time.perf_counter() - started


def flush(file):
    file.flush()


def flush_and_sync(file):
    file.flush()
    os.fdatasync(file.fileno())


# name: (suffix, what to do after each message)
WRITERS = {
    ".buslog": (".buslog", None),
    ".csv": (".csv", None),
    ".log": (".log", None),
    ".csv flushed": (".csv", flush),
    ".csv synced": (".csv", flush_and_sync),
}


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 200000
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 9
    folder = sys.argv[3] if len(sys.argv) > 3 else "/dev/shm"
    batch = messages(count)
    names = list(WRITERS)
    times = {name: [] for name in names}
    with tempfile.TemporaryDirectory(dir=folder) as work:
        for round_ in range(rounds):
            shift = round_ % len(names)
            for name in names[shift:] + names[:shift]:
                suffix, after_each = WRITERS[name]
                path = os.path.join(work, "bench" + suffix)
                times[name].append(run(path, batch, after_each))
                os.remove(path)
    print(f"{count} messages, {rounds} rounds, into {folder}")
    for name in names:
        rates = [count / seconds for seconds in times[name]]
        print(f"  {name:13} median {statistics.median(rates):>10,.0f} msg/s   "
              f"(rounds {min(rates):,.0f} - {max(rates):,.0f})")
    for other in names[1:]:
        shares = [theirs / ours for ours, theirs in zip(times[".buslog"], times[other])]
        print(f"  .buslog against {other:13}: {statistics.median(shares):4.0%} "
              f"(rounds {min(shares):.0%} - {max(shares):.0%})")


if __name__ == "__main__":
    main()
