"""Messages per second through python-can writers, side by side.

    build/python-venv/bin/python python/bench/writer_bench.py [--cpu]
        [--baseline PYTHON] [--model LIBRARY] [--through N] [MESSAGES [ROUNDS [FOLDER]]]

Writes the same messages (8-byte standard data frames, with every tenth
an extended one and every hundredth a CAN FD frame, on two interfaces)
through the .buslog writer in both modes (".buslog": group commit, the
default; ".buslog w-thru": write_through=True, each message on the device
when on_message_received returns) and through python-can's own .csv writer
(buffered, and flushed and synced after every message), taking turns,
ROUNDS times (default 9), into FOLDER (default /dev/shm). Each run is a
process of its own; its time is from opening the writer to stop()
returning (the group-commit writer logs all it has queued by then), the
messages made before.

--baseline PYTHON runs the .buslog writers once more through another
interpreter, e.g. a virtual environment with main's package installed
(scripts/python-writer-bench.sh makes one): "main .buslog" and "main
.buslog w-thru". Both find the module through BUSLOG_MODULE.
--model LIBRARY preloads the slow-storage model (bench/sync_delay.c: every
synced write 2 ms late, BUSLOG_SYNC_DELAY_MS) under the .buslog writers;
write-through then logs only --through messages (default MESSAGES / 100),
compared by rate.
--cpu takes the process's CPU time (user and system, all its threads)
instead of the wall time: steadier on a machine that others load, blind to
waiting for a device.

Prints each writer's median rate, and the first writer's rate against each
other as the median of the per-round shares, with their range.
"""

import os
import statistics
import subprocess
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
        message.channel = "can0" if index % 3 else "can1"
        result.append(message)
    return result


def one_run(name, count, folder, cpu):
    """Times one writer over `count` messages in this process (seconds)."""
    clock = time.process_time if cpu else time.perf_counter
    batch = messages(count)
    path = os.path.join(folder, "bench" + (".csv" if name.startswith(".csv") else ".buslog"))
    started = clock()
    writer = can.Logger(path, **({"write_through": True} if name.endswith("w-thru") else {}))
    on_message = writer.on_message_received
    if name == ".csv synced":
        file = writer.file
        for message in batch:
            on_message(message)
            file.flush()
            os.fdatasync(file.fileno())
    else:
        for message in batch:
            on_message(message)
    writer.stop()
    elapsed = clock() - started
    os.remove(path)
    return elapsed


def main():
    args = sys.argv[1:]
    if args[:1] == ["--one"]:  # a run of its own: --one NAME COUNT FOLDER CPU
        print(one_run(args[1], int(args[2]), args[3], args[4] == "cpu"))
        return
    options = {}
    while args and args[0].startswith("--"):
        option = args.pop(0)
        options[option] = True if option == "--cpu" else args.pop(0)
    count = int(args[0]) if len(args) > 0 else 200000
    rounds = int(args[1]) if len(args) > 1 else 9
    folder = args[2] if len(args) > 2 else "/dev/shm"
    through = int(options.get("--through", max(count // 100, 100) if "--model" in options else count))
    model = {"LD_PRELOAD": os.path.abspath(options["--model"])} if "--model" in options else {}
    # name: (interpreter, messages, environment)
    runs = {".buslog": (sys.executable, count, model), ".buslog w-thru": (sys.executable, through, model)}
    if "--baseline" in options:
        runs["main .buslog"] = (options["--baseline"], count, model)
        runs["main .buslog w-thru"] = (options["--baseline"], through, model)
    if not model:
        runs[".csv"] = (sys.executable, count, {})
        runs[".csv synced"] = (sys.executable, through, {})
    names = list(runs)
    times = {name: [] for name in names}
    with tempfile.TemporaryDirectory(dir=folder) as work:
        for round_ in range(rounds):
            shift = round_ % len(names)
            for name in names[shift:] + names[:shift]:
                python, n, env = runs[name]
                done = subprocess.run([python, __file__, "--one", name.replace("main ", ""), str(n), work,
                                       "cpu" if "--cpu" in options else "wall"], env=dict(os.environ, **env),
                                      capture_output=True, text=True, check=True)
                times[name].append(float(done.stdout))
    what = "CPU time" if "--cpu" in options else "wall time"
    print(f"{count} messages ({through} written through), {rounds} rounds, into {folder}, {what}"
          + (", 2 ms sync model" if model else ""))
    rates = {name: [runs[name][1] / seconds for seconds in times[name]] for name in names}
    for name in names:
        print(f"  {name:20} median {statistics.median(rates[name]):>10,.0f} msg/s   "
              f"(rounds {min(rates[name]):,.0f} - {max(rates[name]):,.0f})")
    for first, other in ((".buslog", "main .buslog"), (".buslog w-thru", "main .buslog w-thru"), (".buslog", ".csv"),
                         (".buslog w-thru", ".csv synced")):
        if other in rates:
            shares = [ours / theirs for ours, theirs in zip(rates[first], rates[other])]
            print(f"  {first:14} against {other:20}: {statistics.median(shares):4.0%} "
                  f"(rounds {min(shares):.0%} - {max(shares):.0%})")

if __name__ == "__main__":
    main()
