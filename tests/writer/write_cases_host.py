#!/usr/bin/python3
"""The table of write cases (write_cases.txt) through buslog-host's command
line: each case replayed from a trace file, and recorded from a pipe (live
input, the engine's queue), its steps (a deletion, a pause) made between
the frames once those before are in the log. Run by CTest with

  BUSLOG_HOST=path/to/buslog-host[.exe] [BUSLOG_EMULATOR=wine64]
  [BUSLOG_FAULTS=path/to/libbuslog_storage_faults.so]

Cases with a storage fault need the fault library (POSIX); under Wine they
and the deletions (a log the module holds open cannot be deleted on
Windows) are passed over.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import write_cases  # noqa: E402

HOST = os.environ["BUSLOG_HOST"]
EMULATOR = os.environ.get("BUSLOG_EMULATOR", "")
FAULTS = os.environ.get("BUSLOG_FAULTS", "")
WINDOWS = HOST.endswith(".exe")
# The host's options for the table's.
OPTIONS = {"markers": lambda v: ["--no-markers"] if v == "off" else [],
           "time-base": lambda v: ["--time-base-per-file"] if v == "file" else []}


def host_options(case):
    args = []
    for key, value in case.options:
        args += OPTIONS[key](value) if key in OPTIONS else ["--" + key, value]
    return args


def environment(case, folder):
    env = dict(os.environ, **case.fault_environment(folder))
    if case.faults:
        env["LD_PRELOAD"] = FAULTS
        env["ASAN_OPTIONS"] = ":".join(filter(None, [os.environ.get("ASAN_OPTIONS"), "verify_asan_link_order=0"]))
    return env


def frame_lines(path):
    try:
        with open(path, "rb") as f:
            return sum(1 for line in f.read().split(b"\r\n") if line and not line.startswith(b"000000000,"))
    except OSError:
        return 0


class WriteCasesTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="buslog-cases-")
        self.addCleanup(shutil.rmtree, self.root, True)
        self.version = subprocess.run(([EMULATOR] if EMULATOR else []) + [HOST, "--version"], capture_output=True,
                                      text=True).stdout.strip()

    def folder(self):
        return tempfile.mkdtemp(dir=self.root)

    def runnable(self, case):
        if case.faults and (WINDOWS or not FAULTS):
            return False
        return not (WINDOWS and case.has_actions())

    def replay(self, case):
        folder = self.folder()
        trace = os.path.join(self.root, "in-%s.log" % os.path.basename(folder))
        with open(trace, "w") as f:
            f.write("".join(line + "\n" for line in case.frames()))
        result = subprocess.run(([EMULATOR] if EMULATOR else []) + [HOST, "replay", trace, "--output", "run.buslog"]
                                + host_options(case), cwd=folder, env=environment(case, folder),
                                capture_output=True, text=True, timeout=60)
        return folder, result.stderr

    def record(self, case):
        folder = self.folder()
        log = os.path.join(folder, "run.buslog")
        host = subprocess.Popen(([EMULATOR] if EMULATOR else []) + [HOST, "record", "--output", "run.buslog"]
                                + host_options(case), cwd=folder, env=environment(case, folder),
                                stdin=subprocess.PIPE, stderr=subprocess.PIPE)
        sent = 0
        for step in case.steps:
            if not step.startswith("@ "):
                host.stdin.write((step + "\n").encode())
                sent += 1
                continue
            host.stdin.flush()
            deadline = time.monotonic() + 10
            while frame_lines(log) < sent and time.monotonic() < deadline:
                time.sleep(0.01)
            what, _, argument = step[2:].partition(" ")
            if what == "delete":
                os.remove(os.path.join(folder, argument))
            else:
                time.sleep(float(argument))
        _, err = host.communicate(timeout=60)
        return folder, err.decode(errors="replace")

    def test_every_case_replayed_and_recorded(self):
        cases = write_cases.read_cases()
        self.assertGreater(len(cases), 10)
        for case in cases:
            if not self.runnable(case):
                continue
            for mode, run in (("replay", self.replay), ("queued", self.record)):
                if case.modes and mode not in case.modes:
                    continue
                if mode == "replay" and case.has_actions():
                    continue
                with self.subTest(case=case.name, mode=mode):
                    folder, err = run(case)
                    write_cases.check(self, case, folder, self.version, err, write_cases.host_lost(err))


if __name__ == "__main__":
    unittest.main(verbosity=2)
