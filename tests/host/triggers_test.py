#!/usr/bin/python3
"""Filters and trigger windows through buslog-host's command line, against
a model of what they mean: a trace of two interfaces with triggers in it,
replayed and recorded through a pipe; the log holds exactly the frames the
model's windows (from --pre before each trigger to --post after it, those
that overlap or touch merged into one) and the filter choose, numbered
from 1 without gaps, each window said where it begins and ends, and
`verify` finds nothing lost. Also: start and stop triggers over a ring of
files, a full pre-trigger buffer (a loss, numbered and recorded), and the
summary's counts. The exact bytes of small cases are in
tests/writer/write_cases.txt. Run by CTest with

  BUSLOG_HOST=path/to/buslog-host[.exe] [BUSLOG_EMULATOR=wine64]
"""
import os
import random
import re
import shutil
import subprocess
import tempfile
import unittest

HOST = os.environ["BUSLOG_HOST"]
EMULATOR = os.environ.get("BUSLOG_EMULATOR", "")
SCRATCH = "/dev/shm" if os.path.isdir("/dev/shm") else None
BASE = 1700000000
FRAME = re.compile(r"^(\d{9}),\+(\d+\.\d+),I,CAN     , (\d),OK,(.*)$")
MARKER = "000000000,"
WINDOW = re.compile(r"buslog window (open|close) (\S+) (\S+) ?(.*)$")


def utc(micros):
    """A window marker's time of `micros` since BASE."""
    import datetime
    moment = datetime.datetime(2023, 11, 14, 22, 13, 20) + datetime.timedelta(microseconds=micros)
    return moment.strftime("%Y-%m-%dT%H:%M:%S.%fZ")


def trace(seed, seconds, triggers):
    """(micros, interface, id, data) of a bus of 1,000 frames a second on
    can0 and 200 on can1, and 7E0 on can1 at `triggers` (micros)."""
    rng = random.Random(seed)
    frames = []
    for t in range(0, seconds * 1000000, 1000):
        frames.append((t, "can0", rng.choice((0x100, 0x101, 0x180, 0x200)), rng.randrange(256)))
        if t % 5000 == 0:
            frames.append((t + 300, "can1", 0x300, rng.randrange(256)))
        for trigger in triggers:
            if t < trigger < t + 1000 and trigger != t + 300:
                frames.append((trigger, "can1", 0x7E0, 0x02))
    return frames


def candump(frames):
    return "".join("(%d.%06d) %s %03X#%02X\n" % (BASE + t // 1000000, t % 1000000, name, ident, data)
                   for t, name, ident, data in frames)


def windows(triggers, pre, post):
    """The model's windows: [t - pre, t + post] of each trigger, those that
    overlap or touch merged."""
    merged = []
    for t in sorted(triggers):
        start, end = t - pre, t + post
        if merged and start <= merged[-1][1]:
            merged[-1][1] = max(merged[-1][1], end)
        else:
            merged.append([start, end])
    return merged


def read_log(paths):
    """The frame lines (number, channel, body) and window markers of the
    files, in order; every line whole."""
    frames, markers = [], []
    for path in paths:
        with open(path, "rb") as f:
            data = f.read().decode()
        assert data.endswith("\r\n"), path
        for line in data[:-2].split("\r\n"):
            if line.startswith(MARKER):
                match = WINDOW.search(line)
                if match:
                    markers.append(match.groups())
                continue
            match = FRAME.match(line)
            assert match, line
            frames.append((int(match.group(1)), int(match.group(3)), match.group(4)))
    return frames, markers


def body(ident, data):
    return "0,%X,%02X,1,%02X" % (ident >> 8, ident & 0xFF, data)


class TriggersTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="buslog-triggers-", dir=SCRATCH)
        self.addCleanup(shutil.rmtree, self.dir, True)

    def run_host(self, *args, input=None):
        result = subprocess.run(([EMULATOR] if EMULATOR else []) + [HOST] + [str(a) for a in args], cwd=self.dir,
                                input=input, capture_output=True, timeout=120)
        # Standard error under Wine ends its lines with CR LF.
        return result.returncode, result.stderr.decode(errors="replace").replace("\r\n", "\n")

    def path(self, name):
        return os.path.join(self.dir, name)

    def verify(self, *paths):
        status, err = self.run_host("verify", *paths)
        return status

    def test_windows_as_the_model_says(self):
        triggers = [700500, 4000500, 5200500, 6250500, 11000500, 14999500]
        pre, post = 1000000, 250000
        frames = trace(1, 15, triggers)
        with open(self.path("in.log"), "w") as f:
            f.write(candump(frames))
        spans = windows(triggers, pre, post)
        # the filter keeps 100 to 1FF on can0 (not 200) and every frame of can1
        kept = [(t, name, ident, data) for t, name, ident, data in frames
                if any(start <= t <= end for start, end in spans) and (name == "can1" or ident < 0x200)]
        options = ["--trigger", "can1,7E0", "--pre", "1", "--post", "0.25", "--filter", "can0,100:700",
                   "--rotate-size", "64k"]
        status, err = self.run_host("replay", "in.log", "--output", "replay.buslog", *options)
        self.assertEqual(status, 0, err)
        with open(self.path("in.log"), "rb") as f:
            status, err_live = self.run_host("record", "--output", "record.buslog", *options, input=f.read())
        self.assertEqual(status, 0, err_live)
        files = sorted(name for name in os.listdir(self.dir) if name.startswith("replay-"))
        self.assertGreater(len(files), 1)
        for name in files:
            with open(self.path(name), "rb") as a, open(self.path(name.replace("replay", "record")), "rb") as b:
                self.assertEqual(a.read(), b.read(), name)
        got, markers = read_log([self.path(name) for name in files])
        self.assertEqual([number for number, _, _ in got], list(range(1, len(kept) + 1)))
        # channels by the first frame of each interface that the filter keeps
        channels = {}
        for _, name, ident, _ in frames:
            if (name == "can1" or ident < 0x200) and name not in channels:
                channels[name] = len(channels) + 1
        self.assertEqual([(channels[name], body(ident, data)) for _, name, ident, data in kept],
                         [(channel, text) for _, channel, text in got])
        # each window opens once (and again at the head of a file that begins inside it) and closes once
        opens = sorted(set(m[1] for m in markers if m[0] == "open"))
        closes = [(m[1], m[3].split()[-1]) for m in markers if m[0] == "close"]
        self.assertEqual(opens, [utc(start) for start, _ in spans])
        last = spans[-1][1] > frames[-1][0]
        self.assertEqual(closes, [(utc(end), "post") for _, end in spans[:-1]] +
                         [(utc(frames[-1][0] if last else spans[-1][1]), "end" if last else "post")])
        self.assertEqual(self.verify(*[self.path(name) for name in files]), 0)
        left = re.search(r"left out +(\d+) \(by the filter (\d+), outside the trigger windows (\d+)\)", err)
        self.assertTrue(left, err)
        self.assertEqual(int(left.group(1)), len(frames) - len(kept), err)
        self.assertIn("  windows         %d\n" % len(spans), err)

    def test_start_and_stop_over_a_ring(self):
        frames = []
        for i in range(6000):
            t = i * 2000
            frames.append((t, "can0", 0x100, i & 0xFF))
            if i % 50 == 0:
                # ignition: on from 2 s to 5 s and from 8 s on
                frames.append((t + 1, "can0", 0x3C0, 1 if 2000000 <= t < 5000000 or t >= 8000000 else 0))
        with open(self.path("in.log"), "w") as f:
            f.write(candump(frames))
        os.mkdir(self.path("ring"))
        status, err = self.run_host("replay", "in.log", "--output", "ring/run.buslog", "--start-trigger",
                                    "3C0#0|1@1+==1", "--stop-trigger", "3C0#0|1@1+==0", "--post", "0.5",
                                    "--rotate-size", "16k", "--max-files", "3")
        self.assertEqual(status, 0, err)
        self.assertIn("  windows         2\n", err)
        files = sorted(os.listdir(self.path("ring")))
        self.assertEqual(len(files), 3, files)
        got, markers = read_log([self.path(os.path.join("ring", name)) for name in files])
        numbers = [number for number, _, _ in got]
        self.assertEqual(numbers, list(range(numbers[0], numbers[0] + len(numbers))))
        # 2 s to 5.5 s and 8 s to the end (12 s): 100 at 500 a second, and 3C0 at 10 a second among them
        logged = re.search(r"frames logged +(\d+)", err)
        self.assertEqual(int(logged.group(1)), 1750 + 36 + 1999 + 40, err)
        self.assertEqual(self.verify(self.path("ring")), 0)

    def test_a_full_buffer_is_a_loss_with_a_record(self):
        lines = "".join("(%d.%06d) can0 123##0%s\n" % (BASE + t // 1000000, t % 1000000, "00" * 64)
                        for t in range(0, 5000000, 1000))
        lines += "(%d.000000) can0 7E0#01\n" % (BASE + 5)
        with open(self.path("in.log"), "w") as f:
            f.write(lines)
        status, err = self.run_host("replay", "in.log", "--output", "full.buslog", "--trigger", "7E0", "--pre", "2",
                                    "--pre-buffer", "64k")
        self.assertEqual(status, 1, err)
        missing = re.search(r"missing +frames 1-(\d+) \(the pre-trigger buffer was full\)", err)
        self.assertTrue(missing, err)
        self.assertIn("the pre-trigger buffer (65536 bytes) was full", err)
        self.assertEqual(self.verify(self.path("full.buslog")), 1)


if __name__ == "__main__":
    unittest.main(verbosity=2)
