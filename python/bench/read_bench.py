"""Reading and decoding a large log from Python, side by side in one run:
this package (the reader library behind it) against a baseline copy of
the package (BASELINE, e.g. main's) and python-can's own readers.

    BASELINE=/tmp/buslog-main /usr/bin/python3 python/bench/read_bench.py [ROUNDS]

The log: the real Civic drive (../shared/data/candump-civic-drive.log)
laid end to end 35 times (times shifted so that they increase), 1,009,225
frames, replayed by build/posix's buslog-host into one .buslog on tmpfs
(/dev/shm). python-can's readers read the same frames as a candump trace,
ASC, BLF and CSV (written by python-can from the trace). decode writes a
CSV of every value (3,612,280) and of two chosen signals. Each program runs
in a fresh process; the table gives the median and best wall time of the
rounds (default 3). Not a test: nothing is asserted about speed, but the
decode outputs of both packages are compared byte for byte.
"""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
SHARED = os.path.join(os.path.dirname(REPO), "shared", "data")
DRIVE = os.path.join(SHARED, "candump-civic-drive.log")
DBC = os.path.join(SHARED, "honda_civic_hatchback_ex_2017_can.dbc")
TIMES = 35
PYTHON = "/usr/bin/python3"


def make_trace(path):
    with open(DRIVE) as file:
        lines = file.read().splitlines()
    micros = [int(line[1:line.index(")")].replace(".", "")) for line in lines]
    rests = [line[line.index(")"):] for line in lines]
    span = micros[-1] - micros[0] + 10000
    with open(path, "w") as out:
        for copy in range(TIMES):
            shift = copy * span
            out.write("".join(f"({(m + shift) // 1000000}.{(m + shift) % 1000000:06d}{rest}\n"
                              for m, rest in zip(micros, rests)))


def timed(command, env):
    start = time.perf_counter()
    done = subprocess.run(command, env=env, capture_output=True, text=True)
    elapsed = time.perf_counter() - start
    if done.returncode != 0:
        raise SystemExit(f"failed: {' '.join(command)}\n{done.stderr}")
    return elapsed, done.stdout


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 3
    baseline = os.environ.get("BASELINE")
    host = os.path.join(REPO, "build", "posix", "bin", "buslog-host")
    module = os.path.join(REPO, "build", "posix", "bin", "libbuslog.so")
    work = tempfile.mkdtemp(prefix="buslog-read-bench-", dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    try:
        trace = os.path.join(work, "drive35.log")
        log = os.path.join(work, "drive35.buslog")
        make_trace(trace)
        subprocess.run([host, "replay", trace, "--output", log, "--quiet"], check=True)
        for extension in (".asc", ".blf", ".csv"):
            subprocess.run([PYTHON, "-m", "can.logconvert", trace, os.path.join(work, "drive35" + extension)],
                           check=True, capture_output=True)
        ours = dict(os.environ, PYTHONPATH=os.path.join(REPO, "python"), BUSLOG_MODULE=module)
        theirs = None
        if baseline:
            theirs = dict(os.environ, PYTHONPATH=os.path.join(baseline, "python"),
                          BUSLOG_MODULE=os.path.join(baseline, "build", "posix", "bin", "libbuslog.so"))
        # can.LogReader hands a .buslog to buslog.BuslogReader (the package's
        # entry point, when installed): the same reader, called directly.
        # Each prints the frames read and the seconds of the reading itself
        # (without the interpreter's start and the imports).
        count = ("import sys, time, can, buslog\nn = 0\npath = sys.argv[1]\nstart = time.perf_counter()\n"
                 "reader = buslog.BuslogReader(path) if path.endswith('.buslog') else can.LogReader(path)\n"
                 "for m in reader: n += 1\nprint(n, '%.3f' % (time.perf_counter() - start))")
        columns = ("import sys, time, buslog\nstart = time.perf_counter()\nn = len(buslog.read_frames(sys.argv[1]))\n"
                   "print(n, '%.3f' % (time.perf_counter() - start))")
        cases = [
            ("buslog-host convert --to candump", [host, "convert", log, "--to", "candump", "--output",
                                                  os.path.join(work, "out.candump"), "--overwrite"], ours),
            ("python-can candump reader (can.LogReader)", [PYTHON, "-c", count, trace], ours),
            ("python-can ASC reader", [PYTHON, "-c", count, os.path.join(work, "drive35.asc")], ours),
            ("python-can BLF reader", [PYTHON, "-c", count, os.path.join(work, "drive35.blf")], ours),
            ("python-can CSV reader", [PYTHON, "-c", count, os.path.join(work, "drive35.csv")], ours),
            ("can.LogReader of the .buslog", [PYTHON, "-c", count, log], ours),
            ("buslog.read_frames of the .buslog", [PYTHON, "-c", columns, log], ours),
            ("decode to CSV, every value", [PYTHON, "-m", "buslog", "decode", log, "--dbc", DBC, "--quiet",
                                            "--output", os.path.join(work, "all.csv"), "--overwrite"], ours),
            ("decode to CSV, 2 signals", [PYTHON, "-m", "buslog", "decode", log, "--dbc", DBC, "--quiet", "--signals",
                                          "ENGINE_DATA.XMISSION_SPEED,POWERTRAIN_DATA.ENGINE_RPM", "--output",
                                          os.path.join(work, "two.csv"), "--overwrite"], ours),
        ]
        if theirs is not None:
            cases += [
                ("baseline: can.LogReader of the .buslog", [PYTHON, "-c", count, log], theirs),
                ("baseline: decode to CSV, every value", [PYTHON, "-m", "buslog", "decode", log, "--dbc", DBC,
                                                          "--quiet", "--output", os.path.join(work, "all-base.csv"),
                                                          "--overwrite"], theirs),
                ("baseline: decode to CSV, 2 signals", [PYTHON, "-m", "buslog", "decode", log, "--dbc", DBC,
                                                        "--quiet", "--signals",
                                                        "ENGINE_DATA.XMISSION_SPEED,POWERTRAIN_DATA.ENGINE_RPM",
                                                        "--output", os.path.join(work, "two-base.csv"),
                                                        "--overwrite"], theirs),
            ]
        results = {name: [] for name, _, _ in cases}
        counts = {}
        for _ in range(rounds):
            for name, command, env in cases:
                elapsed, out = timed(command, env)
                results[name].append(elapsed)
                counts[name] = out.strip()
        with open(os.path.join(work, "all.csv")) as file:
            values = sum(1 for _ in file) - 1
        print(f"== {TIMES} x the Civic drive: 1,009,225 frames, {values:,} values; {rounds} rounds on tmpfs")
        print(f"{'program':48} {'median s':>9} {'best s':>8}  frames read, s reading (last round)")
        for name, _, _ in cases:
            times = results[name]
            print(f"{name:48} {statistics.median(times):9.2f} {min(times):8.2f}  {counts[name]}")
        if theirs is not None:
            for ours_file, base_file in (("all.csv", "all-base.csv"), ("two.csv", "two-base.csv")):
                same = subprocess.run(["cmp", os.path.join(work, ours_file), os.path.join(work, base_file)]).returncode
                print(f"{ours_file}: {'the same bytes as the baseline' if same == 0 else 'DIFFERS from the baseline'}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
