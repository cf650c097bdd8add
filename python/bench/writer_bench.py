"""Messages per second through python-can writers, side by side.

    BUSLOG_MODULE=build/posix/bin/libbuslog.so \\
      build/python-venv/bin/python python/bench/writer_bench.py [--cpu] [MESSAGES] [ROUNDS] [FOLDER]

Writes the same messages (8-byte standard data frames, with every tenth
an extended one and every hundredth a CAN FD frame) through the .buslog
writer in both modes (".buslog": group commit, the default; ".buslog
w-thru": write_through=True, one synced Write a message) and python-can's
own .csv and .log writers, taking turns, ROUNDS times (default 9), into
FOLDER (default /dev/shm; give a folder on the disk, e.g. under /work, for
the disk's figures). Each writer's time includes opening and stopping it
(python-can's writers flush on stop; the group-commit writer logs all it
has queued before stop returns).
python-can's writers buffer their lines; for comparison the .csv writer
also runs with a flush after every message (one write a line, as the
module does) and with a flush and fdatasync after every message (each
line on the device, the module's promise). Prints each writer's median
rate, and the .buslog writer's rate against the others as the median of
the per-round shares, with their range.

--cpu takes the process's CPU time (user and system) instead of the wall
time: steadier on a machine that others load, but blind to waiting for a
disk, so for tmpfs only.

"exports only" is the floor of any ctypes host: the four export calls of
a line (PutFrameId, PutTimeStamp, PutFrame, Write) with one prepared
record, and no Python work for the message at all.
"""

import ctypes
import os
import shutil
import statistics
import struct
import sys
import tempfile
import time

import can

import buslog


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


def run(path, batch, after_each=None, options=None):
    started = clock()
    writer = can.Logger(path, **(options or {}))
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
    return clock() - started


def flush(file):
    file.flush()


def flush_and_sync(file):
    file.flush()
    os.fdatasync(file.fileno())


def run_exports_only(path, batch):
    """The export calls alone, through a copy of the module beside the log."""
    folder = os.path.dirname(path)
    copy = os.path.join(folder, "libbuslog-bench.so")
    shutil.copyfile(buslog.find_module(), copy)
    module = buslog.Module(copy)
    started = clock()
    module.open(os.path.basename(path))
    fast = module._fast
    put_frame_id, put_time_stamp, put_frame, write = fast.PutFrameId, fast.PutTimeStamp, fast.PutFrame, module._write
    count = ctypes.byref(ctypes.c_int32())
    cell = ctypes.byref(ctypes.c_void_p())
    frame_id = struct.pack("<I", 1)
    stamp = struct.pack("<II", 0, 0)
    record = bytes.fromhex("0123080102030405060708")
    for _ in batch:
        put_frame_id(1, frame_id, count)
        put_time_stamp(2, stamp, count)
        put_frame(0x3031, 4, 0, 0, len(record), record, count)
        write(0, None, count, cell)
    module.close()
    elapsed = clock() - started
    module.unload()
    os.remove(copy)
    return elapsed


# name: (suffix, what to do after each message, writer options)
WRITERS = {
    ".buslog": (".buslog", None, {"write_through": False}),
    ".buslog w-thru": (".buslog", None, {"write_through": True}),
    ".csv": (".csv", None),
    ".log": (".log", None),
    ".csv flushed": (".csv", flush),
    ".csv synced": (".csv", flush_and_sync),
    "exports only": (".bench", None),
}


clock = time.perf_counter


def main():
    global clock
    args = sys.argv[1:]
    if args[:1] == ["--cpu"]:
        clock = time.process_time
        args = args[1:]
    count = int(args[0]) if len(args) > 0 else 200000
    rounds = int(args[1]) if len(args) > 1 else 9
    folder = args[2] if len(args) > 2 else "/dev/shm"
    batch = messages(count)
    names = list(WRITERS)
    times = {name: [] for name in names}
    with tempfile.TemporaryDirectory(dir=folder) as work:
        for round_ in range(rounds):
            shift = round_ % len(names)
            for name in names[shift:] + names[:shift]:
                suffix, after_each, *options = WRITERS[name]
                path = os.path.join(work, "bench" + suffix)
                if name == "exports only":
                    times[name].append(run_exports_only(path, batch))
                else:
                    times[name].append(run(path, batch, after_each, *options))
                os.remove(path)
    what = "CPU time" if clock is time.process_time else "wall time"
    print(f"{count} messages, {rounds} rounds, into {folder}, {what}")
    for name in names:
        rates = [count / seconds for seconds in times[name]]
        print(f"  {name:14} median {statistics.median(rates):>10,.0f} msg/s   "
              f"(rounds {min(rates):,.0f} - {max(rates):,.0f})")
    for other in names[1:]:
        shares = [theirs / ours for ours, theirs in zip(times[".buslog"], times[other])]
        print(f"  .buslog against {other:14}: {statistics.median(shares):4.0%} "
              f"(rounds {min(shares):.0%} - {max(shares):.0%})")


if __name__ == "__main__":
    main()
