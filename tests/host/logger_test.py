#!/usr/bin/python3
"""buslog-host as a logger, through its command line and real pipes.

Live input with a paced feeder (each line must be in the log before the next
is sent), stop signals in the middle of a stream, rotation by size and by
time, the no-clobber rules (the file's bytes unchanged afterwards), output
paths and the command line's answers. Run by CTest with

  BUSLOG_HOST=path/to/buslog-host[.exe] [BUSLOG_EMULATOR=wine64]
  [BUSLOG_DISK_DIR=a folder on a disk, where every line is synced]

For the Windows build under Wine the cases that need POSIX (FIFOs, links,
SIGTERM, SIGHUP) are skipped; Wine hands a SIGINT to the program as the
console's Ctrl+C event, so the first stop is tested there too.
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

HOST = os.environ["BUSLOG_HOST"]
EMULATOR = os.environ.get("BUSLOG_EMULATOR", "")
DISK_DIR = os.environ.get("BUSLOG_DISK_DIR", "")
# The benchmarks' slow-storage model (bench/sync_delay.c), POSIX only.
SYNC_DELAY = os.environ.get("BUSLOG_SYNC_DELAY", "")
# A sanitizer build refuses a preloaded library ahead of its runtime unless told.
PRELOAD_ASAN_OPTIONS = ":".join(filter(None, [os.environ.get("ASAN_OPTIONS"), "verify_asan_link_order=0"]))
SHARED_DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "shared", "data")
WINDOWS = HOST.endswith(".exe")
MODULE_DIR = os.path.dirname(os.path.abspath(HOST))
SCRATCH = "/dev/shm" if os.path.isdir("/dev/shm") else None
LINE = re.compile(rb"^(\d{9}),\+(\d+\.\d+),[IO],CAN     , \d,OK,.*$")


def command(*args):
    return ([EMULATOR] if EMULATOR else []) + [HOST] + [str(a) for a in args]


def frame(i, seconds=None, ident="123"):
    """candump line of frame i (from 1), 0.1 s apart unless told."""
    if seconds is None:
        seconds = 1700000000 + (i - 1) / 10
    return "(%.6f) can0 %s#%02X\n" % (seconds, ident, i & 0xFF)


MARKER = re.compile(rb"^000000000,\+\d+\.\d+,M,Marker  , -,OK,buslog (start \S+Z|writer buslog-host \S+|channel \d+ \S+|"
                    rb"lost \d+(-\d+)? .+|gone \d+(-\d+)? .+|removed \d+(-\d+)?|dropped \d+ \d+ .+)$")


def is_marker(line):
    return line.startswith(b"000000000,")


def read_log(path):
    """The log's frame lines; fails unless every line is whole (CR LF) and
    well formed, and the file begins with its start and writer markers."""
    with open(path, "rb") as f:
        data = f.read()
    if not data:
        return []
    assert data.endswith(b"\r\n"), "%s does not end with a whole line" % path
    lines = data[:-2].split(b"\r\n")
    assert lines[0].startswith(b"000000000,+0.000000,M,Marker  , -,OK,buslog start "), "%s: %r" % (path, lines[0])
    assert lines[1].startswith(b"000000000,+0.000000,M,Marker  , -,OK,buslog writer "), "%s: %r" % (path, lines[1])
    for line in lines:
        assert LINE.match(line) or MARKER.match(line), "%s: not a log line: %r" % (path, line)
    return [line for line in lines if not is_marker(line)]


def numbers(lines):
    return [int(line[:9]) for line in lines]


def stamps(lines):
    return [LINE.match(line).group(2).decode() for line in lines]


def count_lines(path):
    """Frame lines written so far (marker lines left out)."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except FileNotFoundError:
        return 0
    return sum(1 for line in data.split(b"\r\n")[:-1] if not is_marker(line))


def wait_for_lines(path, n, timeout=10.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if count_lines(path) >= n:
            return True
        time.sleep(0.002)
    return False


def summary_number(stderr, label):
    match = re.search(r"^  %s +(\d+)" % re.escape(label), stderr, re.M)
    assert match, "no '%s' in the summary:\n%s" % (label, stderr)
    return int(match.group(1))


def finish(host, timeout=30):
    """Exit status and standard error of a host from start_live."""
    status = host.wait(timeout=timeout)
    if host.stdin:
        host.stdin.close()
    host.errors.seek(0)
    err = host.errors.read().decode(errors="replace")
    host.errors.close()
    return status, err


def posix_only(test):
    return unittest.skipIf(WINDOWS, "needs POSIX (FIFOs, links, SIGTERM, SIGHUP)")(test)


class LoggerTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="buslog-logger-", dir=SCRATCH)
        self.addCleanup(shutil.rmtree, self.dir, True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, text):
        with open(self.path(name), "w") as f:
            f.write(text)
        return self.path(name)

    # The host's output goes to files, not pipes: a wine server that a host
    # starts would hold the pipes open for seconds after the host ended.
    def run_host(self, *args, stdin=subprocess.DEVNULL, cwd=None, input=None):
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            if input is not None:
                stdin = subprocess.PIPE
            host = subprocess.Popen(command(*args), cwd=cwd or self.dir, stdin=stdin, stdout=out, stderr=err)
            if input is not None:
                host.stdin.write(input)
                host.stdin.close()
            status = host.wait(timeout=60)
            out.seek(0)
            err.seek(0)
            return status, out.read().decode(errors="replace"), err.read().decode(errors="replace")

    def start_live(self, *args, command_args=None):
        errors = tempfile.TemporaryFile()
        host = subprocess.Popen(command(*(command_args or ["replay", "-"]), *args), cwd=self.dir,
                                stdin=None if command_args else subprocess.PIPE, stdout=subprocess.DEVNULL,
                                stderr=errors)
        host.errors = errors
        return host

    def listing(self):
        return sorted(os.listdir(self.dir))

    # ---- live input

    def test_paced_pipe_logs_each_line_before_the_next_comes(self):
        host = self.start_live("--output", "live.csv")
        count = 8 if WINDOWS else 20
        for i in range(1, count + 1):
            host.stdin.write(frame(i).encode())
            host.stdin.flush()
            self.assertTrue(wait_for_lines(self.path("live.csv"), i), "line %d not logged in time" % i)
        host.stdin.close()
        status, err = finish(host)
        self.assertEqual(status, 0, err)
        lines = read_log(self.path("live.csv"))
        self.assertEqual(numbers(lines), list(range(1, count + 1)))
        self.assertEqual(stamps(lines)[:3], ["0.000000", "0.100000", "0.200000"])
        self.assertEqual(summary_number(err, "frames read"), count)
        self.assertIn("can0 -> channel 1", err)

    @posix_only
    def test_fifo_is_live_input_and_record_means_replay_stdin(self):
        fifo = self.path("bus.fifo")
        os.mkfifo(fifo)
        host = self.start_live("--output", "fifo.csv", command_args=["replay", "bus.fifo"])
        with open(fifo, "w") as feed:
            for i in range(1, 6):
                feed.write(frame(i))
                feed.flush()
                self.assertTrue(wait_for_lines(self.path("fifo.csv"), i), "line %d not logged in time" % i)
        status, err = finish(host)
        self.assertEqual(status, 0, err)
        self.assertEqual(numbers(read_log(self.path("fifo.csv"))), [1, 2, 3, 4, 5])

        text = "".join(frame(i) for i in range(1, 4)).encode()
        status, _, err = self.run_host("record", "--output", "rec.csv", input=text)
        self.assertEqual(status, 0, err)
        self.assertEqual(numbers(read_log(self.path("rec.csv"))), [1, 2, 3])

    def test_first_stop_logs_every_frame_read_and_exits_0(self):
        # SIGHUP's run rotates every 4 KiB, so the stop may come in a rotation.
        # Wine turns SIGINT into the console's Ctrl+C event for the program.
        rows = [(signal.SIGINT, []), (signal.SIGTERM, []), (signal.SIGHUP, ["--rotate-size", "4k"])]
        for sig, rotate in rows[:1] if WINDOWS else rows:
            with self.subTest(signal=sig.name):
                name = "stop-%s.csv" % sig.name
                host = self.start_live("--output", name, *rotate)
                first = self.path("stop-%s-001.csv" % sig.name if rotate else name)
                for i in range(1, 6):
                    host.stdin.write(frame(i).encode())
                    host.stdin.flush()
                    self.assertTrue(wait_for_lines(first, i))
                # A burst, and the stop in its middle; the feeder stays open.
                host.stdin.write("".join(frame(i) for i in range(6, 3006)).encode())
                host.stdin.flush()
                if rotate:
                    self.assertTrue(wait_for_lines(self.path("stop-%s-002.csv" % sig.name), 1))
                host.send_signal(sig)
                status, err = finish(host)
                self.assertEqual(status, 0, err)
                self.assertIn("stopped         on request", err)
                files = sorted(f for f in self.listing() if f.startswith("stop-%s" % sig.name) and f.endswith(".csv"))
                lines = []
                for log in files:
                    part = read_log(self.path(log))
                    self.assertEqual(stamps(part)[0], "0.000000", log)
                    lines += part
                self.assertEqual(numbers(lines), list(range(1, len(lines) + 1)))
                self.assertGreaterEqual(len(lines), 5)
                self.assertEqual(summary_number(err, "frames read"), len(lines))
                if rotate:
                    self.assertGreater(len(files), 1, files)

    @unittest.skipIf(WINDOWS, "Wine does not sync the log: no backlog builds up to stop in")
    @unittest.skipUnless(DISK_DIR, "needs a folder on a disk")
    def test_second_stop_ends_at_once_and_counts_what_was_not_logged(self):
        # One Write a frame: every line waits for its own sync.
        disk = tempfile.mkdtemp(prefix="buslog-logger-", dir=DISK_DIR)
        self.addCleanup(shutil.rmtree, disk, True)
        log = os.path.join(disk, "second.csv")
        host = self.start_live("--output", log, "--sync-every-frame")
        host.stdin.write(frame(1).encode())
        host.stdin.flush()
        self.assertTrue(wait_for_lines(log, 1))
        # More than the disk syncs in the next moments.
        host.stdin.write("".join(frame(i) for i in range(2, 40002)).encode())
        host.stdin.flush()
        host.send_signal(signal.SIGINT)
        time.sleep(0.3)
        host.send_signal(signal.SIGINT)
        status, err = finish(host, 60)
        self.assertEqual(status, 1, err)
        match = re.search(r"stopped at a second request: of (\d+) frames read, (\d+) were logged and (\d+) not", err)
        self.assertTrue(match, err)
        read, logged, not_logged = (int(n) for n in match.groups())
        lines = read_log(log)
        self.assertEqual(numbers(lines), list(range(1, len(lines) + 1)))
        self.assertEqual((summary_number(err, "frames read"), summary_number(err, "frames logged")), (read, logged))
        self.assertEqual(logged, len(lines))
        self.assertEqual(read, logged + not_logged)
        self.assertGreater(not_logged, 0)
        self.assertLessEqual(read, 40001)
        # Each breakdown counts its own total: all data frames here.
        for label, total in (("frames read", read), ("frames logged", logged)):
            self.assertRegex(err, r"  %s +%d \(data %d, remote 0, CAN FD 0, error 0\)" % (label, total, total))

    @unittest.skipUnless(DISK_DIR, "needs a folder on a disk")
    def test_full_queue_holds_the_reader_and_loses_nothing(self):
        disk = tempfile.mkdtemp(prefix="buslog-logger-", dir=DISK_DIR)
        self.addCleanup(shutil.rmtree, disk, True)
        log = os.path.join(disk, "queue.csv")
        count = 600
        status, _, err = self.run_host("replay", "-", "--output", log, "--queue", "50",
                                       input="".join(frame(i) for i in range(1, count + 1)).encode())
        self.assertEqual(status, 0, err)
        self.assertEqual(numbers(read_log(log)), list(range(1, count + 1)))
        match = re.search(r"queue +deepest (\d+) frames; the reader waited ([0-9.]+) s", err)
        self.assertTrue(match, err)
        self.assertEqual(int(match.group(1)), 50)

    @posix_only
    def test_progress_only_when_asked_off_a_terminal(self):
        for asked in (True, False):
            with self.subTest(progress=asked):
                name = "progress-%s.csv" % asked
                host = self.start_live("--output", name, *(["--progress"] if asked else []))
                for i in range(1, 4):
                    host.stdin.write(frame(i).encode())
                    host.stdin.flush()
                    time.sleep(0.6)
                host.stdin.close()
                status, err = finish(host)
                self.assertEqual(status, 0, err)
                shown = re.search(r"^progress: \d+ frames, \d+ frames/s, queue \d+$", err, re.M)
                self.assertEqual(bool(shown), asked, err)

    # ---- group commit: batches of the lines at hand

    def all_forms_trace(self, count):
        """A trace of `count` frames cycling through every frame form."""
        forms = []
        data = ""
        for n in range(9):
            forms += ["123#" + data, "1ABCDEF0#" + data, "7FF#R%d" % n, "20000004#" + data]
            data += "A5"
        forms += ["123#R", "123#1122334455667788_C", "321#11 T"]
        for length in (0, 1, 5, 8, 12, 16, 20, 24, 32, 48, 64):
            forms += ["123##1" + "5A" * length, "12345678##3" + "5A" * length]
        lines = []
        for i in range(count):
            lines.append("(%.6f) can%d %s\n" % (1700000000 + i * 0.013, i % 3, forms[i % len(forms)]))
        return "".join(lines)

    def test_batches_write_the_bytes_of_one_write_a_frame(self):
        traces = [("forms", self.write("forms.log", self.all_forms_trace(3000)))]
        for name in ("noeculog.log", "candump-2023-01-19_131743.log"):
            path = os.path.join(SHARED_DATA, name)
            if os.path.exists(path):
                traces.append((name, path))
        rotations = [[], ["--rotate-size", "8k"], ["--rotate-size", "100k"], ["--rotate-seconds", "2"]]
        for trace_name, trace in traces:
            for rotate in rotations:
                with self.subTest(trace=trace_name, rotate=rotate):
                    logs = {}
                    for mode in ("batched", "single"):
                        out = os.path.join(self.dir, mode)
                        shutil.rmtree(out, True)
                        os.mkdir(out)
                        extra = ["--sync-every-frame"] if mode == "single" else []
                        status, _, err = self.run_host("replay", trace, "--output", mode + "/run.csv", *rotate,
                                                       *extra)
                        self.assertEqual(status, 0, err)
                        logs[mode] = {}
                        for name in sorted(os.listdir(out)):
                            with open(os.path.join(out, name), "rb") as f:
                                logs[mode][name] = f.read()
                    self.assertEqual(sorted(logs["batched"]), sorted(logs["single"]))
                    for name in logs["batched"]:
                        self.assertEqual(logs["batched"][name], logs["single"][name], name)
                    if rotate and trace_name == "forms":
                        self.assertGreater(len(logs["batched"]), 1)

    @posix_only
    def test_file_size_limit_in_a_batch_goes_on_in_a_new_file(self):
        # A file-size limit cuts the log in the middle of a batch; the
        # module takes the partial write back, the host writes the batch's
        # frames one Write each, and the frame that does not fit goes into
        # the next file: every file is whole lines up to the limit, and no
        # frame is missing.
        import resource

        total = 2000
        trace = self.write("in.log", "".join(frame(i) for i in range(1, total + 1)))
        limit = 40000

        def limited():
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

        for mode in ([], ["--sync-every-frame"]):
            with self.subTest(mode=mode):
                name = "limited%s" % len(mode)
                with tempfile.TemporaryFile() as err:
                    status = subprocess.run(command("replay", trace, "--output", name + ".csv", *mode), cwd=self.dir,
                                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err,
                                            preexec_fn=limited, timeout=60).returncode
                    err.seek(0)
                    text = err.read().decode(errors="replace")
                self.assertEqual(status, 0, text)
                files = [name + ".csv"] + sorted(f for f in self.listing() if f.startswith(name + "-"))
                every = []
                for i, log in enumerate(files):
                    lines = read_log(self.path(log))
                    every += numbers(lines)
                    size = os.path.getsize(self.path(log))
                    self.assertLessEqual(size, limit)
                    if i + 1 < len(files):
                        # Not one more line would have fitted.
                        self.assertGreater(size + len(lines[-1]) + 2, limit)
                self.assertEqual(every, list(range(1, total + 1)))
                self.assertEqual(summary_number(text, "frames logged"), total)
                self.assertRegex(text, r"not logged +0 ")
                self.assertRegex(text, r"may not grow: File too large; going on in .*%s-002\.csv" % name)

    def test_live_batches_never_wait_and_count_only_what_was_written(self):
        # A burst goes out in batches (far fewer Writes than frames, seen in
        # the speed on a synced log), a frame that comes alone at once.
        count = 5000
        host = self.start_live("--output", "burst.csv", "--report-every", "1000")
        host.stdin.write("".join(frame(i) for i in range(1, count + 1)).encode())
        host.stdin.flush()
        self.assertTrue(wait_for_lines(self.path("burst.csv"), count, 30))
        host.stdin.write(frame(count + 1).encode())
        host.stdin.flush()
        self.assertTrue(wait_for_lines(self.path("burst.csv"), count + 1), "a lone frame waited")
        host.stdin.close()
        status, err = finish(host)
        self.assertEqual(status, 0, err)
        self.assertEqual(numbers(read_log(self.path("burst.csv"))), list(range(1, count + 2)))
        reported = [int(n) for n in re.findall(r"^written (\d+)\r?$", err, re.M)]
        self.assertEqual(reported, [1000, 2000, 3000, 4000, 5000])
        self.assertEqual(summary_number(err, "frames logged"), count + 1)

    @unittest.skipUnless(SYNC_DELAY, "needs the slow-storage model (POSIX)")
    def test_progress_comes_once_a_second_at_any_rate_from_the_first(self):
        # Every synced write 10 ms late: from 200 frames a second on, the
        # next frames are always there when a Write returns, so the input
        # is never idle; and too few frames come for any count of lines to
        # bring progress.
        env = dict(os.environ, LD_PRELOAD=SYNC_DELAY, BUSLOG_SYNC_DELAY_MS="10", ASAN_OPTIONS=PRELOAD_ASAN_OPTIONS)
        for rate in (20, 200, 1000):
            with self.subTest(rate=rate):
                name = "progress-%d.csv" % rate
                errors = tempfile.TemporaryFile()
                host = subprocess.Popen(command("replay", "-", "--output", name, "--progress"), cwd=self.dir,
                                        env=env, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=errors)
                host.errors = errors
                started = time.monotonic()
                shown = []
                i = 0
                while time.monotonic() - started < 3.4:
                    i += 1
                    due = started + i / rate
                    host.stdin.write(frame(i).encode())
                    host.stdin.flush()
                    time.sleep(max(0.0, due - time.monotonic()))
                    host.errors.seek(0)
                    seen = host.errors.read().decode(errors="replace").count("progress: ")
                    while len(shown) < seen:
                        shown.append(time.monotonic() - started)
                host.stdin.close()
                status, err = finish(host)
                self.assertEqual(status, 0, err)
                self.assertGreaterEqual(len(shown), 2, err)
                self.assertLess(shown[0], 1.8, shown)
                self.assertRegex(err, r"(?m)^progress: \d+ frames, \d+ frames/s, queue \d+\r?$")

    @unittest.skipUnless(SYNC_DELAY, "needs the slow-storage model (POSIX)")
    def test_stops_say_what_is_queued_and_the_counts_add_up(self):
        # Every synced write 2 ms late: a backlog builds up to stop in.
        total = 200000
        env = dict(os.environ, LD_PRELOAD=SYNC_DELAY, BUSLOG_SYNC_DELAY_MS="2", ASAN_OPTIONS=PRELOAD_ASAN_OPTIONS)
        errors = tempfile.TemporaryFile()
        host = subprocess.Popen(command("replay", "-", "--output", "slow.csv"), cwd=self.dir, env=env,
                                stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=errors)
        host.errors = errors
        host.stdin.write("".join(frame(i) for i in range(1, total + 1)).encode())
        host.stdin.flush()
        self.assertTrue(wait_for_lines(self.path("slow.csv"), 100))
        host.send_signal(signal.SIGINT)
        deadline = time.monotonic() + 5
        said = ""
        while time.monotonic() < deadline and "stopping:" not in said:
            time.sleep(0.02)
            errors.seek(0)
            said = errors.read().decode(errors="replace")
        match = re.search(r"^buslog-host: stopping: logging (\d+) queued frames; Ctrl\+C again to give them up\r?$",
                          said, re.M)
        self.assertTrue(match, said)
        self.assertGreater(int(match.group(1)), 1000)
        time.sleep(0.3)
        host.send_signal(signal.SIGINT)
        status, err = finish(host, 60)
        self.assertEqual(status, 1, err)
        self.assertEqual(err.count("stopping:"), 1, err)
        lines = read_log(self.path("slow.csv"))
        self.assertEqual(numbers(lines), list(range(1, len(lines) + 1)))
        read = summary_number(err, "frames read")
        logged = summary_number(err, "frames logged")
        not_logged = summary_number(err, "not logged")
        self.assertEqual(logged, len(lines))
        self.assertEqual(read, logged + not_logged)
        self.assertGreater(not_logged, 0)
        self.assertRegex(err, r"left at the stop %d\)" % not_logged)
        self.assertIn("buslog-host: stopped at a second request: of %d frames read, %d were logged and %d not"
                      % (read, logged, not_logged), err)

    # ---- rotation

    def check_rotation(self, err, files, total):
        every = []
        for name in files:
            lines = read_log(self.path(name))
            self.assertTrue(lines, name)
            self.assertEqual(stamps(lines)[0], "0.000000", name)
            every += numbers(lines)
            # The summary counts every line, the file's marker lines too.
            with open(self.path(name), "rb") as f:
                written = f.read().count(b"\r\n")
            self.assertIn(name + " (%d lines, first frame " % written, err.replace("\\", "/"))
        self.assertEqual(every, list(range(1, total + 1)))

    def test_rotation_by_size(self):
        total = 600
        trace = self.write("in.log", "".join(frame(i) for i in range(1, total + 1)))
        status, _, err = self.run_host("replay", trace, "--output", "size.csv", "--rotate-size", "8k")
        self.assertEqual(status, 0, err)
        files = sorted(f for f in self.listing() if f.startswith("size"))
        self.assertEqual(files, ["size-001.csv", "size-002.csv", "size-003.csv", "size-004.csv"])
        self.check_rotation(err, files, total)
        for name in files[:-1]:
            size = os.path.getsize(self.path(name))
            last = len(read_log(self.path(name))[-1]) + 2
            # Each file ends with the line that brought it to the size.
            self.assertGreaterEqual(size, 8192, name)
            self.assertLess(size - last, 8192, name)

    def test_rotation_by_time_counts_each_file_from_its_first_frame(self):
        total = 100
        trace = self.write("in.log", "".join(frame(i, 1700000000 + (i - 1) * 0.5) for i in range(1, total + 1)))
        status, _, err = self.run_host("replay", trace, "--output", "age.csv", "--rotate-seconds", "10")
        self.assertEqual(status, 0, err)
        files = sorted(f for f in self.listing() if f.startswith("age"))
        self.assertEqual(len(files), 5, files)
        self.check_rotation(err, files, total)
        for name in files:
            self.assertEqual(stamps(read_log(self.path(name)))[-1], "9.500000", name)

    def test_rotation_by_time_goes_on_after_the_clock_steps_back(self):
        # 15 s of frames, the clock an hour back, 15 s more: the jump begins a
        # new time base in the same file, and the file's age goes on from the
        # last frame before it (the jump's hour is no age).
        times = [1700000000 + i * 0.5 for i in range(30)] + [1699996400 + i * 0.5 for i in range(30)]
        trace = self.write("in.log", "".join(frame(i + 1, t) for i, t in enumerate(times)))
        status, _, err = self.run_host("replay", trace, "--output", "age.csv", "--rotate-seconds", "10")
        self.assertEqual(status, 0, err)
        files = sorted(f for f in self.listing() if f.startswith("age"))
        self.assertEqual(files, ["age-001.csv", "age-002.csv", "age-003.csv"])
        every = []
        for name in files:
            every += numbers(read_log(self.path(name)))
        self.assertEqual(every, list(range(1, 61)))
        # age-002: 10 to 14.5 s, then after the jump 0 to 5 s on the new base
        # (which lies 1 s before the jump's frame).
        self.assertEqual([len(numbers(read_log(self.path(name)))) for name in files], [20, 21, 19])
        self.assertEqual([stamps(read_log(self.path(name)))[-1] for name in files],
                         ["9.500000", "6.000000", "9.000000"])
        self.assertIn("time jump at frame 31: 3614.500000 s before the latest frame (the clock went back); a new "
                      "time base begins", err)
        self.assertIn("time jumps      1 ", err)

    def test_rotation_never_continues_an_earlier_series(self):
        # A file of the series' names is there: this run's series has a name
        # of its own, said in one line; the file is left as it is.
        kept = self.write("run-003.csv", "someone's file\n")
        self.write("run-2.csv", "taken too\n")
        trace = self.write("in.log", "".join(frame(i) for i in range(1, 201)))
        status, _, err = self.run_host("replay", trace, "--output", "run.csv", "--rotate-size", "4k")
        self.assertEqual(status, 0, err)
        with open(kept) as f:
            self.assertEqual(f.read(), "someone's file\n")
        self.assertRegex(err, r"(?m)^buslog-host: .*run-003\.csv is an earlier run's series; this run's logs are "
                              r".*run-3-001\.csv, .*run-3-002\.csv, \.\.\.\r?$")
        files = sorted(f for f in self.listing() if f.startswith("run-3-"))
        self.assertEqual(files[0], "run-3-001.csv")
        self.check_rotation(err, files, 200)

    # ---- nothing of the user's overwritten

    def test_no_clobber(self):
        trace = self.write("in.log", "".join(frame(i) for i in range(1, 4)))
        keep = self.write("keep.csv", "precious\n")
        os.mkdir(self.path("adir"))
        self.write("junk.bin", "\x01\x02 not a frame\n\xff\xfe\n")
        rows = [
            # name, arguments, message, what must stay as it is
            ("existing output", ["replay", "in.log", "--output", "keep.csv"], "keep.csv exists", "keep.csv"),
            ("output is the input", ["replay", "in.log", "--output", "in.log", "--overwrite"], "is the input", "in.log"),
            ("input is a folder", ["replay", "adir", "--output", "keep.csv", "--overwrite"], "adir: is a folder",
             "keep.csv"),
            ("input missing", ["replay", "nothing.log", "--output", "new.csv"], "nothing.log: ", None),
            ("no frames", ["replay", "junk.bin", "--output", "new.csv"], "junk.bin: no candump frames in 2 lines", None),
        ]
        if not WINDOWS:
            os.symlink("in.log", self.path("link.csv"))
            os.link(self.path("in.log"), self.path("hard.csv"))
            rows += [
                ("symbolic link to the input", ["replay", "in.log", "--output", "link.csv", "--overwrite"],
                 "is the input", "in.log"),
                ("hard link to the input", ["replay", "in.log", "--output", "hard.csv", "--overwrite"],
                 "is the input", "in.log"),
            ]
        before = {}
        for name in ("in.log", "keep.csv"):
            with open(self.path(name), "rb") as f:
                before[name] = f.read()
        for name, args, message, kept in rows:
            with self.subTest(name):
                listing = self.listing()
                status, _, err = self.run_host(*args)
                self.assertEqual(status, 1, err)
                self.assertIn(message, err)
                self.assertEqual(self.listing(), listing)
                if kept:
                    with open(self.path(kept), "rb") as f:
                        self.assertEqual(f.read(), before[kept])
        with self.subTest("standard input is the output"):
            with open(self.path("in.log"), "rb") as stdin:
                status, _, err = self.run_host("replay", "-", "--output", "in.log", "--overwrite", stdin=stdin)
            self.assertEqual(status, 1, err)
            # Wine does not tell a redirected input's identity: not replaced either.
            self.assertRegex(err, "is the input|whether it is the input")
            with open(self.path("in.log"), "rb") as f:
                self.assertEqual(f.read(), before["in.log"])
        with self.subTest("the input beside the module, named by --name"):
            beside = os.path.join(MODULE_DIR, "e2e-self-input.candump")
            shutil.copy(self.path("in.log"), beside)
            self.addCleanup(os.remove, beside)
            status, _, err = self.run_host("replay", beside, "--name", "e2e-self-input.candump", "--overwrite")
            self.assertEqual(status, 1, err)
            self.assertIn("is the input", err)
            with open(beside, "rb") as f:
                self.assertEqual(f.read(), before["in.log"])
        with self.subTest("--overwrite replaces another file"):
            status, _, err = self.run_host("replay", "in.log", "--output", "keep.csv", "--overwrite")
            self.assertEqual(status, 0, err)
            self.assertEqual(numbers(read_log(self.path("keep.csv"))), [1, 2, 3])

    def test_a_run_that_writes_nothing_leaves_no_log(self):
        status, _, err = self.run_host("replay", "-", "--output", "empty.csv")
        self.assertEqual(status, 1, err)
        self.assertIn("standard input held no lines; nothing was logged", err)
        self.assertIn("log             none", err)
        self.assertEqual(self.listing(), [])

    # ---- output paths

    def test_output_paths(self):
        trace = self.write("in.log", frame(1))
        os.makedirs(self.path("inner/sub"))
        self.write("afile", "")
        rows = [
            # name, working folder, --output, exit status, message, file expected
            ("sub-folder", "", "inner/sub/a.csv", 0, "inner/sub/a.csv (4 lines", "inner/sub/a.csv"),
            ("up a folder", "inner", "../b.csv", 0, "/b.csv (4 lines", "b.csv"),
            ("folder missing", "", "nowhere/c.csv", 1, "does not exist", None),
            ("folder is a file", "", "afile/d.csv", 1, "not a folder", None),
            # A folder takes a default name in it, as candump -l users expect.
            ("output is a folder", "", "inner", 0, "/inner/buslog-", "inner/"),
            # A trailing separator asks for a folder: made when missing, its parent not.
            ("new folder", "", "fresh/", 0, "made the folder fresh/ for the logs", "fresh/"),
            ("new folder's parent missing", "", "none/fresh/", 1, "cannot make the folder none/fresh/ for the logs",
             None),
        ]
        for name, cwd, output, expected, message, made in rows:
            with self.subTest(name):
                listing = self.listing()
                status, _, err = self.run_host("replay", trace, "--output", output, cwd=self.path(cwd))
                self.assertEqual(status, expected, err)
                self.assertIn(message, err.replace("\\", "/"))
                if made and made.endswith("/"):
                    named = [f for f in os.listdir(self.path(made)) if f.startswith("buslog-")]
                    self.assertEqual(len(named), 1, named)
                    self.assertRegex(named[0], r"^buslog-\d{4}-\d\d-\d\d_\d{6}\.buslog$")
                    self.assertEqual(numbers(read_log(self.path(made + named[0]))), [1])
                elif made:
                    self.assertEqual(numbers(read_log(self.path(made))), [1])
                else:
                    self.assertEqual(self.listing(), listing)

    @posix_only
    def test_folder_without_write_permission(self):
        # As root, the program runs as nobody; otherwise the folder is made
        # read-only.
        trace = self.write("in.log", frame(1))
        os.chmod(trace, 0o644)
        os.chmod(self.dir, 0o755)
        locked = self.path("locked")
        os.mkdir(locked, 0o755)
        prefix = []
        if os.geteuid() == 0:
            if not shutil.which("setpriv"):
                self.skipTest("no setpriv to run as another user")
            prefix = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
            if subprocess.run(prefix + ["test", "-x", HOST], cwd=self.dir).returncode != 0:
                self.skipTest("nobody cannot run the program where it was built")
        else:
            os.chmod(locked, 0o555)
            self.addCleanup(os.chmod, locked, 0o755)
        done = subprocess.run(prefix + command("replay", trace, "--output", "locked/run.csv"), cwd=self.dir,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        err = done.stderr.decode()
        self.assertEqual(done.returncode, 1, err)
        self.assertIn("locked/run.csv: permission denied", err)
        self.assertEqual(os.listdir(locked), [])

    @posix_only
    def test_output_path_too_long_for_the_module(self):
        trace = self.write("in.log", frame(1))
        deep = self.path("/".join(["d" * 90] * 3))
        os.makedirs(deep)
        status, _, err = self.run_host("replay", trace, "--output", os.path.join(deep, "x.csv"))
        self.assertEqual(status, 1, err)
        self.assertIn("more than the 259", err)
        self.assertEqual(os.listdir(deep), [])

    @unittest.skipUnless(WINDOWS, "drives are a Windows notion")
    def test_output_on_another_drive_than_the_module(self):
        # Under Wine the module lies on Z: (the Unix root); C: is the prefix's.
        trace = self.write("in.log", frame(1))
        status, _, err = self.run_host("replay", trace, "--output", "C:\\buslog-other-drive.csv")
        self.assertEqual(status, 1, err)
        self.assertIn("another drive than the module", err)
        self.assertIn("choose an --output on", err)

    def test_default_log_is_a_dated_name_in_the_current_folder(self):
        trace = self.write("in.log", frame(1))
        beside = set(os.listdir(MODULE_DIR))
        status, _, err = self.run_host("replay", trace)
        self.assertEqual(status, 0, err)
        made = [f for f in self.listing() if f != "in.log"]
        self.assertEqual(len(made), 1, made)
        self.assertRegex(made[0], r"^buslog-\d{4}-\d\d-\d\d_\d{6}\.buslog$")
        self.assertEqual(set(os.listdir(MODULE_DIR)), beside)

    # ---- the command line

    def test_command_line(self):
        for flag in ("--help", "-h"):
            with self.subTest(flag):
                status, out, err = self.run_host(flag)
                self.assertEqual((status, err), (0, ""))
                self.assertTrue(out.startswith("usage: buslog-host"), out)
        rows = [
            (["frob"], "buslog-host: unknown command frob"),
            (["replay"], "buslog-host: replay needs a candump trace (- for standard input)"),
            (["replay", "x.log", "--module"], "buslog-host: --module needs a value"),
            (["replay", "x.log", "--bogus"], "buslog-host: unknown option --bogus"),
            (["record", "x.log"], "buslog-host: unexpected argument x.log"),
            (["replay", "x.log", "--rotate-size", "10Q"], "buslog-host: --rotate-size 10Q: give a size such as "),
        ]
        for args, first in rows:
            with self.subTest(" ".join(args)):
                status, _, err = self.run_host(*args)
                self.assertEqual(status, 2, err)
                lines = err.replace("\r", "").split("\n")
                self.assertTrue(lines[0].startswith(first), err)
                self.assertEqual(lines[1:], ["see buslog-host --help", ""], err)


if __name__ == "__main__":
    unittest.main(verbosity=2)
