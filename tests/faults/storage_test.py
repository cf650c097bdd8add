#!/usr/bin/python3
"""buslog-host when the storage fails, through its command line.

Real file systems where the test can make the fault: a small tmpfs that the
test mounts itself as root (a full disk, a log deleted or renamed under the
logger, its folder removed, the file system gone and back), a file size
limit set for the logger alone. The rest through the preloaded fault
library (EIO on the n-th write, a partial write whose take-back fails,
EFBIG at a file system's largest file, ENOSPC that goes away). Each case
checks what a user would: the exit status, the messages (the reason named,
no flood), every frame counted as written in the logs exactly once in whole
lines, the summary's missing frames equal to what the logs lack, and that
writing works again when the fault ends. Run by CTest with

  BUSLOG_HOST=path/to/buslog-host[.exe] [BUSLOG_EMULATOR=wine64]
  [BUSLOG_FAULTS=path/to/libbuslog_storage_faults.so]
"""
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HOST = os.path.abspath(os.environ["BUSLOG_HOST"])
EMULATOR = os.environ.get("BUSLOG_EMULATOR", "")
FAULTS = os.environ.get("BUSLOG_FAULTS", "")
WINDOWS = HOST.endswith(".exe")
SCRATCH = "/dev/shm" if os.path.isdir("/dev/shm") else None

FRAME_LINE = re.compile(rb"^(\d{9}),\+(\d+\.\d+),[IO],CAN     , \d,(OK|NG),.*$")
MARKER_LINE = re.compile(rb"^000000000,\+\d+\.\d+,M,")
# The reason for a full disk as each system says it (Wine: "Disk full").
NO_SPACE = r"(?:No space left on device|There is not enough space on the disk|Disk full)"
MISSING = re.compile(r"^  missing +frames? (\d+)(?:-(\d+))? \((.*)\)$", re.M)


def command(*args, markers=False):
    """The host's command line. The logger's marker lines are left out
    unless `markers`: the faults come at the n-th write, which the cases
    count in frames."""
    extra = ["--no-markers"] if args and args[0] in ("replay", "record") and not markers else []
    return ([EMULATOR] if EMULATOR else []) + [HOST] + [str(a) for a in args] + extra


def frame(i):
    """candump line of frame i (from 1), 1 ms apart, 8 data bytes."""
    return "(%.6f) can0 123#%016X\n" % (1700000000 + i / 1000, i)


def trace(count, first=1):
    return "".join(frame(i) for i in range(first, first + count)).encode()


def whole_lines(path, cut_end=False):
    """A log's whole lines (frames and markers), without their CR LF."""
    with open(path, "rb") as f:
        data = f.read()
    if cut_end and not data.endswith(b"\r\n"):
        data = data[: data.rfind(b"\r\n") + 2] if b"\r\n" in data else b""
    return data[:-2].split(b"\r\n") if data else []


def read_log(path, cut_end=False):
    """Frame numbers of a log's frame lines, in order; every line whole (CR
    LF) and well formed, markers let be. With `cut_end` its end may be a
    line cut short, which is left out."""
    with open(path, "rb") as f:
        data = f.read()
    if not data:
        return []
    if not data.endswith(b"\r\n"):
        assert cut_end, "%s does not end with a whole line: %r" % (path, data[-60:])
        data = data[: data.rfind(b"\r\n") + 2] if b"\r\n" in data else b""
        if not data:
            return []
    numbers = []
    for line in data[:-2].split(b"\r\n"):
        if MARKER_LINE.match(line):
            continue
        match = FRAME_LINE.match(line)
        assert match, "%s: not a whole log line: %r" % (path, line)
        numbers.append(int(match.group(1)))
    return numbers


def summary_number(stderr, label):
    match = re.search(r"^  %s +(\d+)" % re.escape(label), stderr, re.M)
    assert match, "no '%s' in the summary:\n%s" % (label, stderr)
    return int(match.group(1))


def summary_missing(stderr):
    """The frames the summary says are not in the logs: {number: reason}."""
    missing = {}
    for first, last, reason in MISSING.findall(stderr):
        for n in range(int(first), int(last or first) + 1):
            missing[n] = reason
    return missing


class TmpFs:
    """A tmpfs of `size` mounted on a fresh folder, unmounted by close()."""

    def __init__(self, size="200k", options=""):
        if WINDOWS and not EMULATOR:
            raise unittest.SkipTest("a tmpfs needs Linux")
        if os.geteuid() != 0:
            raise unittest.SkipTest("mounting a tmpfs needs root (CI runs as root)")
        self.path = tempfile.mkdtemp(prefix="buslog-tmpfs-")
        opts = "size=%s%s" % (size, "," + options if options else "")
        done = subprocess.run(["mount", "-t", "tmpfs", "-o", opts, "buslog-test", self.path],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if done.returncode != 0:
            os.rmdir(self.path)
            raise unittest.SkipTest("mount -t tmpfs refused: %s" % done.stdout.decode(errors="replace").strip())
        self.mounted = True

    def unmount(self):
        if self.mounted:
            subprocess.run(["umount", "-l", self.path])
            self.mounted = False

    def remount(self, size="200k"):
        self.unmount()
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + size, "buslog-test", self.path], check=True)
        self.mounted = True

    def fill(self, leave):
        """Fills the file system up to `leave` bytes with a file; returns its path."""
        filler = os.path.join(self.path, "filler")
        stats = os.statvfs(self.path)
        free = stats.f_bavail * stats.f_frsize
        with open(filler, "wb") as f:
            f.write(b"x" * max(free - leave, 0))
        return filler

    def close(self):
        self.unmount()
        os.rmdir(self.path)


class Host:
    """buslog-host running with a feeder thread that writes `data` to its
    standard input, `rate` lines a second (0: as fast as it takes them)."""

    def __init__(self, args, data=None, rate=0, env=None, cwd=None, limit=None, start_gap=0.0, markers=False):
        self.err = tempfile.TemporaryFile()
        environment = dict(os.environ)
        environment.update(env or {})

        def preexec():
            if limit is not None:
                resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

        self.process = subprocess.Popen(command(*args, markers=markers), cwd=cwd, env=environment,
                                        stdin=subprocess.PIPE if data is not None else subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=self.err,
                                        preexec_fn=preexec if limit is not None else None)
        self.fed = threading.Event()
        self.feeder = None
        if data is not None:
            self.feeder = threading.Thread(target=self.feed, args=(data, rate, start_gap), daemon=True)
            self.feeder.start()

    def feed(self, data, rate, start_gap):
        lines = data.splitlines(keepends=True)
        try:
            time.sleep(start_gap)
            started = time.monotonic()
            step = 50 if rate == 0 else max(1, rate // 100)
            for i in range(0, len(lines), step):
                self.process.stdin.write(b"".join(lines[i:i + step]))
                self.process.stdin.flush()
                if rate:
                    delay = started + (i + step) / rate - time.monotonic()
                    if delay > 0:
                        time.sleep(delay)
            self.process.stdin.close()
        except (BrokenPipeError, OSError):
            pass
        self.fed.set()

    def finish(self, timeout=60):
        status = self.process.wait(timeout=timeout)
        self.err.seek(0)
        text = self.err.read().decode(errors="replace").replace("\r\n", "\n")
        self.err.close()
        return status, text


def run(args, data=b"", env=None, cwd=None, limit=None, timeout=60, markers=False):
    host = Host(args, data=data, env=env, cwd=cwd, limit=limit, markers=markers)
    return host.finish(timeout)


def faults(**settings):
    """Environment that preloads the fault library with these settings
    (BUSLOG_FAULT_<KEY>)."""
    env = {"LD_PRELOAD": FAULTS, "ASAN_OPTIONS": "verify_asan_link_order=0"}
    for key, value in settings.items():
        env["BUSLOG_FAULT_" + key.upper()] = str(value)
    return env


needs_faults = unittest.skipUnless(FAULTS and not WINDOWS, "needs the preloaded fault library (POSIX build)")
posix_only = unittest.skipIf(WINDOWS, "a POSIX case")
# Windows holds an open log without delete sharing, so that it can be
# neither deleted nor renamed; under Wine the test's own unlink would get
# past that, which is not what a Windows user can do.
lost_logs = unittest.skipIf(WINDOWS, "Windows refuses to delete or rename an open log")


class StorageTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="buslog-storage-", dir=SCRATCH)
        self.addCleanup(shutil.rmtree, self.dir, True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def tmpfs(self, size="200k", options=""):
        fs = TmpFs(size, options)
        self.addCleanup(fs.close)
        return fs

    def logs(self, folder, prefix):
        return sorted(os.path.join(folder, f) for f in os.listdir(folder) if f.startswith(prefix) and f.endswith(".csv"))

    def check(self, err, files, total=None, cut=(), markers=False):
        """The logs hold every frame from 1 to `total` (default: the frames
        read) that the summary does not name as missing, each once, in whole
        lines (`cut`: files that may end in a cut line), and the summary's
        line counts agree. With `markers`, each file with a frame begins
        with its start and writer markers, and a channel marker comes before
        the file's first frame; without, there is no marker line."""
        if total is None:
            total = summary_number(err, "frames read")
        seen = []
        lines = 0
        for path in files:
            numbers = read_log(path, cut_end=path in cut)
            seen += numbers
            whole = whole_lines(path, cut_end=path in cut)
            lines += len(whole)
            marked = [line for line in whole if MARKER_LINE.match(line)]
            if not markers:
                self.assertEqual(marked, [], path)
            elif numbers:
                self.assertRegex(whole[0], rb"^000000000,\+0\.000000,M,.*,buslog start \d{4}-", path)
                self.assertRegex(whole[1], rb"^000000000,\+0\.000000,M,.*,buslog writer buslog-host ", path)
                first = next(i for i, line in enumerate(whole) if FRAME_LINE.match(line))
                self.assertTrue(any(b",buslog channel 1 can0" in line for line in whole[:first]), path)
            # Each file's time base is its first line written.
            with open(path, "rb") as f:
                head = f.read(20)
            if numbers:
                self.assertEqual(head[9:19], b",+0.000000", path)
        self.assertEqual(len(seen), len(set(seen)), "a frame is logged twice:\n" + err)
        missing = summary_missing(err)
        self.assertEqual(sorted(set(range(1, total + 1)) - set(seen)), sorted(missing), err)
        in_logs = re.search(r"^  in the logs +(\d+)", err, re.M)
        if in_logs:
            self.assertEqual(int(in_logs.group(1)), lines, err)
        else:
            self.assertEqual(summary_number(err, "frames logged"), len(seen), err)
        return seen, missing

    def count(self, err, pattern):
        return len(re.findall(pattern, err, re.M))

    # ---- preloaded faults

    @needs_faults
    def test_eio_once_is_tried_again_and_nothing_is_lost(self):
        for live in (True, False):
            with self.subTest(live=live):
                out = self.path("eio-%d.csv" % live)
                report = self.path("report-%d" % live)
                env = faults(path="*/eio-*.csv", write=40, errno="EIO", times=1, report=report)
                if live:
                    status, err = Host(["replay", "-", "--output", out, "--sync-every-frame"], trace(200), rate=2000,
                                       env=env).finish()
                else:
                    with open(self.path("in.log"), "wb") as f:
                        f.write(trace(200))
                    status, err = run(["replay", self.path("in.log"), "--output", out, "--sync-every-frame"], env=env)
                with open(report) as f:
                    self.assertEqual(f.read(), "write 40 EIO\n")
                self.assertEqual(status, 0, err)
                self.assertEqual(self.count(err, r"^buslog-host: cannot write the log .*eio-%d\.csv at frame 40: "
                                            r"Input/output error" % live), 1, err)
                self.assertRegex(err, r"at frame 40: Input/output error; written when tried again at once")
                seen, missing = self.check(err, [out], 200)
                self.assertEqual(missing, {})

    @needs_faults
    def test_a_failed_batch_is_tried_again_frame_by_frame_in_order(self):
        with open(self.path("in.log"), "wb") as f:
            f.write(trace(3000))
        out = self.path("batch.csv")
        report = self.path("report")
        env = faults(path="*/batch.csv", write=3, errno="EIO", times=2, report=report)
        status, err = run(["replay", self.path("in.log"), "--output", out], env=env, markers=True)
        with open(report) as f:
            self.assertEqual(f.read(), "write 3 EIO\nwrite 4 EIO\n")
        self.assertEqual(status, 0, err)
        self.assertEqual(self.count(err, r"Input/output error"), 1, err)
        seen, missing = self.check(err, [out], markers=True)
        self.assertEqual(seen, list(range(1, 3001)))

    @needs_faults
    def test_eio_without_end_stops_a_file_replay_with_the_summary(self):
        with open(self.path("in.log"), "wb") as f:
            f.write(trace(300))
        out = self.path("dead.csv")
        env = faults(path="*/dead.csv", write=101, errno="EIO", times=0)
        status, err = run(["replay", self.path("in.log"), "--output", out, "--sync-every-frame"], env=env,
                          timeout=120)
        self.assertEqual(status, 1, err)
        # The first failure, the giving up, the summary's missing frame.
        self.assertEqual(self.count(err, r"Input/output error"), 3, err)
        self.assertRegex(err, r"giving up at frame 101 after 5\.\d s: Input/output error")
        self.assertIn(": writing gave up; the input was not read past line 101\n", err)
        seen, missing = self.check(err, [out])
        self.assertEqual(seen, list(range(1, 101)))
        self.assertEqual(missing, {101: "Input/output error"})

    @needs_faults
    def test_partial_write_that_cannot_be_taken_back_is_never_glued_to(self):
        out = self.path("cut.csv")
        report = self.path("report")
        env = faults(path="*/cut*.csv", write=101, partial=10, errno="EIO", times=1, ftruncate="EIO", report=report)
        status, err = Host(["replay", "-", "--output", out, "--sync-every-frame"], trace(300), rate=3000,
                           env=env).finish()
        with open(report) as f:
            self.assertEqual(f.read(), "write 101 partial 10 of 71\nwrite 102 EIO\nftruncate 7100 EIO\n")
        self.assertEqual(status, 0, err)
        self.assertRegex(err, r"cut\.csv ends in a cut line")
        files = self.logs(self.dir, "cut")
        self.assertEqual(len(files), 2, err)
        files = [out] + [p for p in files if p != out]
        with open(files[0], "rb") as f:
            self.assertTrue(f.read().endswith(b"\r\n000000101,"))
        seen, missing = self.check(err, files, 300, cut=(files[0],))
        self.assertEqual(missing, {})

    @needs_faults
    def test_partial_write_taken_back_leaves_a_clean_file(self):
        out = self.path("back.csv")
        env = faults(path="*/back.csv", write=7, partial=20, errno="ENOSPC", times=1)
        status, err = Host(["replay", "-", "--output", out, "--sync-every-frame"], trace(50), rate=1000,
                           env=env).finish()
        self.assertEqual(status, 0, err)
        self.assertRegex(err, r"at frame 7: No space left on device")
        self.check(err, [out], 50)

    @needs_faults
    def test_enospc_that_goes_away_loses_nothing_of_live_input(self):
        out = self.path("full.csv")
        env = faults(path="*/full.csv", write=200, errno="ENOSPC", seconds=2.5)
        status, err = Host(["replay", "-", "--output", out, "--sync-every-frame"], trace(3000), rate=1000,
                           env=env).finish(120)
        self.assertEqual(status, 0, err)
        self.assertEqual(self.count(err, r"No space left on device"), 1, err)
        self.assertRegex(err, r"writing works again at frame 200 after [23]\.\d s")
        self.check(err, [out], 3000)

    @needs_faults
    def test_a_full_queue_gives_up_its_oldest_frames_and_says_so_once_a_second(self):
        out = self.path("q.csv")
        env = faults(path="*/q.csv", write=100, errno="ENOSPC", seconds=3)
        host = Host(["replay", "-", "--output", out, "--queue", "200", "--sync-every-frame"], trace(5000), rate=1000,
                    env=env)
        status, err = host.finish(120)
        self.assertEqual(status, 1, err)
        self.assertTrue(host.fed.is_set(), "the feeder was held up")
        lines = re.findall(r"^buslog-host: (\d+) more frames? could not be logged \(No space left on device\)$", err, re.M)
        self.assertGreaterEqual(len(lines), 1, err)
        self.assertLessEqual(len(lines), 4, err)
        recovered = re.search(r"writing works again at frame (\d+) after 3\.\d s; (\d+) frames could not be logged", err)
        self.assertTrue(recovered, err)
        seen, missing = self.check(err, [out], 5000)
        self.assertEqual(len(missing), int(recovered.group(2)))
        self.assertGreater(len(missing), 2000)
        # The oldest frames went: what is missing is one run from the failure on.
        self.assertEqual(sorted(missing), list(range(100, 100 + len(missing))))

    @needs_faults
    def test_a_failed_marker_line_is_written_again_before_its_frame(self):
        # With a Write a line, writes 1 to 3 are the start, writer and channel
        # markers: whichever fails is tried again, in its place, before frame
        # 1. Batched, write 1 is the first batch, markers and frames.
        for write, sync in ((1, True), (2, True), (3, True), (1, False)):
            with self.subTest(write=write, sync=sync):
                out = self.path("mark-%d-%d.csv" % (write, sync))
                env = faults(path="*/mark-%d-%d.csv" % (write, sync), write=write, errno="EIO", times=1)
                status, err = Host(["replay", "-", "--output", out] + (["--sync-every-frame"] if sync else []),
                                   trace(100), rate=2000, env=env, markers=True).finish()
                self.assertEqual(status, 0, err)
                self.assertEqual(self.count(err, r"Input/output error"), 1, err)
                seen, missing = self.check(err, [out], 100, markers=True)
                self.assertEqual(seen, list(range(1, 101)))
                lines = whole_lines(out)
                self.assertEqual([line[37:51] for line in lines[:3]],
                                 [b"buslog start 2", b"buslog writer ", b"buslog channel"], err)
                self.assertEqual(summary_number(err, "marker lines"), 3, err)

    @needs_faults
    def test_efbig_at_a_file_systems_largest_file_goes_on_in_a_new_file(self):
        # Lines are 71 bytes: 20,000 bytes hold 281 whole lines and a cut
        # one, which the module takes back.
        for rotate in ([], ["--rotate-size", "1M"]):
            with self.subTest(rotate=rotate):
                folder = tempfile.mkdtemp(dir=self.dir)
                out = os.path.join(folder, "big.csv")
                env = faults(path="*/big*.csv", max_size=20000)
                status, err = Host(["replay", "-", "--output", out] + rotate, trace(1000), env=env,
                                   markers=True).finish()
                self.assertEqual(status, 0, err)
                files = self.logs(folder, "big")
                self.assertEqual(len(files), 4, err)
                for path in files:
                    self.assertLessEqual(os.path.getsize(path), 20000)
                self.assertEqual(self.count(err, r"File too large.*going on in"), 3, err)
                seen, missing = self.check(err, files, 1000, markers=True)
                self.assertEqual(missing, {})

    # ---- a file size limit (real)

    @posix_only
    def test_file_size_limit_never_kills_the_logger(self):
        out = self.path("limit.csv")
        status, err = Host(["record", "--output", out], trace(2000), limit=30000, markers=True).finish()
        self.assertEqual(status, 0, err)
        self.assertNotEqual(status, -signal.SIGXFSZ)
        self.assertRegex(err, r"File too large; going on in .*limit-002\.csv")
        files = self.logs(self.dir, "limit")
        self.assertGreaterEqual(len(files), 3, err)
        self.check(err, files, 2000, markers=True)

    @posix_only
    def test_file_size_limit_never_kills_convert(self):
        with open(self.path("in.log"), "wb") as f:
            f.write(trace(3000))
        status, err = run(["replay", self.path("in.log"), "--output", self.path("whole.csv")])
        self.assertEqual(status, 0, err)
        out = self.path("conv.log")
        status, err = run(["convert", self.path("whole.csv"), "--to", "candump", "--output", out], limit=20000)
        self.assertEqual(status, 1, err)
        self.assertRegex(err, r"conv\.log: write error: File too large")

    # ---- real file systems

    def test_full_tmpfs_file_replay_names_the_reason_once_and_lists_what_is_missing(self):
        fs = self.tmpfs("200k")
        with open(self.path("in.log"), "wb") as f:
            f.write(trace(6000))
        out = os.path.join(fs.path, "full.csv")
        status, err = run(["replay", self.path("in.log"), "--output", out], timeout=120)
        self.assertEqual(status, 1, err)
        self.assertEqual(self.count(err, r"^buslog-host: cannot write the log .* %s" % NO_SPACE), 1, err)
        self.assertLessEqual(len(err.splitlines()), 30, err)
        seen, missing = self.check(err, [out])
        self.assertEqual(seen, list(range(1, len(seen) + 1)))
        self.assertEqual(len(set(missing.values())), 1)
        self.assertRegex(list(missing.values())[0], NO_SPACE)

    def test_full_tmpfs_live_recovers_when_space_returns(self):
        fs = self.tmpfs("400k")
        filler = fs.fill(leave=40 * 1024)
        out = os.path.join(fs.path, "live.csv")
        host = Host(["replay", "-", "--output", out], trace(4000), rate=2000)
        # Once the disk is full and the logger said so, space comes back.
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            host.err.seek(0)
            if re.search(NO_SPACE.encode(), host.err.read()):
                break
            time.sleep(0.05)
        time.sleep(0.5)
        os.remove(filler)
        status, err = host.finish(120)
        self.assertEqual(status, 0, err)
        self.assertEqual(self.count(err, NO_SPACE), 1, err)
        self.assertRegex(err, r"writing works again at frame \d+")
        seen, missing = self.check(err, [out], 4000)
        self.assertEqual(missing, {})

    def open_log(self, folder, prefix):
        """The log being written: the newest of the run's files."""
        return self.logs(folder, prefix)[-1]

    @lost_logs
    def test_deleted_log_is_noticed_and_the_logger_goes_on_in_a_new_file(self):
        # The logger looks at its log about once a second; a file of 100k
        # lasts 2.9 s at 500 lines a second, so the look comes before the
        # rotation would close the deleted file.
        for size in (None, 100 * 1024):
            rotate = ["--rotate-size", str(size)] if size else []
            with self.subTest(rotate=rotate):
                folder = tempfile.mkdtemp(dir=self.dir)
                out = os.path.join(folder, "del.csv")
                host = Host(["replay", "-", "--output", out] + rotate, trace(1500), rate=500, markers=True)
                time.sleep(1.0)
                deleted = self.open_log(folder, "del")
                os.remove(deleted)
                status, err = host.finish()
                self.assertEqual(status, 1, err)
                self.assertEqual(self.count(err, r"^buslog-host: the log .*%s was deleted under the logger; its \d+ "
                                            r"lines are lost; going on in " % os.path.basename(deleted)), 1, err)
                files = self.logs(folder, "del")
                seen, missing = self.check(err, files, markers=True)
                # What is missing is the deleted file's frames, one run of them.
                self.assertEqual(sorted(missing), list(range(min(missing), max(missing) + 1)), err)
                self.assertEqual(set(missing.values()), {"the log %s was deleted" % deleted})
                for path in files:
                    self.assertLessEqual(os.path.getsize(path), size + 4098 if size else 1 << 30)

    @lost_logs
    def test_renamed_log_keeps_its_frames_and_rotation_reads_the_open_file(self):
        folder = self.dir
        out = os.path.join(folder, "ren.csv")
        host = Host(["replay", "-", "--output", out, "--rotate-size", "20k"], trace(1500), rate=500)
        time.sleep(1.0)
        renamed = self.open_log(folder, "ren")
        moved = os.path.join(folder, "moved.csv")
        os.rename(renamed, moved)
        status, err = host.finish()
        self.assertEqual(status, 0, err)
        # Said when it is seen: within a second, or when the log is closed at a
        # rotation, whichever comes first.
        self.assertRegex(err, r"the log .*%s was renamed or moved to .*moved\.csv; its lines are there"
                         % os.path.basename(renamed))
        files = [moved] + self.logs(folder, "ren")
        for path in files:
            self.assertLessEqual(os.path.getsize(path), 20 * 1024 + 4098, path)
        seen = []
        for path in files:
            seen += read_log(path)
        self.assertEqual(sorted(seen), list(range(1, 1501)), err)
        self.assertEqual(summary_missing(err), {})

    @lost_logs
    def test_removed_folder_then_back(self):
        fs = self.tmpfs("1M")
        folder = os.path.join(fs.path, "logs")
        os.mkdir(folder)
        out = os.path.join(folder, "gone.csv")
        host = Host(["replay", "-", "--output", out, "--rotate-size", "16k"], trace(2000), rate=500)
        time.sleep(1.0)
        shutil.rmtree(folder)
        time.sleep(1.5)
        os.mkdir(folder)
        status, err = host.finish()
        self.assertEqual(status, 1, err)
        self.assertRegex(err, r"was deleted under the logger; its \d+ lines are lost\n")
        self.assertRegex(err, r"cannot create the log .*gone-\d+\.csv at frame \d+: the folder does not exist; "
                              r"trying again")
        self.assertEqual(self.count(err, r"cannot create the log"), 1, err)
        files = self.logs(folder, "gone")
        seen, missing = self.check(err, files, 2000)
        # The files closed before the folder went are missing too.
        self.assertEqual(seen, list(range(min(seen), 2001)))

    @lost_logs
    def test_file_system_gone_and_back(self):
        # The stick pulled (the tmpfs taken away under the open log) and put
        # back empty: the log's path leads nowhere, then to a new folder.
        fs = self.tmpfs("1M")
        folder = os.path.join(fs.path, "logs")
        os.mkdir(folder)
        out = os.path.join(folder, "stick.csv")
        host = Host(["replay", "-", "--output", out], trace(2000), rate=500)
        time.sleep(1.0)
        fs.unmount()
        time.sleep(1.0)
        fs.remount("1M")
        os.mkdir(folder)
        status, err = host.finish()
        self.assertEqual(status, 1, err)
        self.assertRegex(err, r"the log .*stick\.csv (can no longer be reached|was renamed or moved)")
        files = self.logs(folder, "stick")
        seen, missing = self.check(err, files, 2000)
        self.assertEqual(seen, list(range(min(seen), 2001)))

    # ---- the reason in words, on both platforms (Windows under Wine)

    def test_reason_in_words_for_a_failed_write_and_a_failed_create(self):
        no_space = NO_SPACE
        # A write: the disk full in the middle of the first file.
        fs = self.tmpfs("64k")
        with open(os.path.join(fs.path, "in.log"), "wb") as f:
            f.write(trace(300))
        fs.fill(leave=8 * 1024)
        status, err = run(["replay", "in.log", "--output", "w.csv"], cwd=fs.path, timeout=120)
        self.assertEqual(status, 1, err)
        self.assertRegex(err, r"(?m)^buslog-host: cannot write the log .*w\.csv at frame \d+: %s; trying again" % no_space)
        self.assertRegex(err, r"(?m)^  missing +frames? \d+(-\d+)? \(%s\)$" % no_space)
        # A create: a rotation when the file system has no inode left.
        fs = self.tmpfs("1M", "nr_inodes=4")
        with open(os.path.join(fs.path, "in.log"), "wb") as f:
            f.write(trace(300))
        status, err = run(["replay", "in.log", "--output", "c.csv", "--rotate-size", "4k"], cwd=fs.path, timeout=120)
        self.assertEqual(status, 1, err)
        self.assertRegex(err, r"(?m)^buslog-host: cannot create the log .*c-003\.csv at frame \d+: %s; trying again"
                         % no_space)
        self.assertEqual(self.count(err, r"cannot create the log"), 1, err)
        seen, missing = self.check(err, self.logs(fs.path, "c-"))

    # ---- the ring

    def test_ring_by_total_size_keeps_the_newest_and_only_its_own_files(self):
        folder = self.dir
        mine = os.path.join(folder, "ring-unrelated.csv")
        with open(mine, "w") as f:
            f.write("someone's\n")
        # 71-byte lines; 10 x 40 KiB of them.
        count = 10 * 40 * 1024 // 71
        status, err = run(["replay", "-", "--output", os.path.join(folder, "ring.csv"), "--rotate-size", "4k",
                           "--max-total", "40k"], trace(count))
        self.assertEqual(status, 0, err)
        with open(mine) as f:
            self.assertEqual(f.read(), "someone's\n")
        files = [p for p in self.logs(folder, "ring-") if not p.endswith("unrelated.csv")]
        self.assertLessEqual(sum(os.path.getsize(p) for p in files), 40 * 1024)
        seen = []
        for path in files:
            seen += read_log(path)
        self.assertEqual(seen, list(range(seen[0], count + 1)))
        removed = summary_number(err, "files removed")
        self.assertGreater(removed, 50)
        self.assertRegex(err, r"  removed +frames 1-%d \(by the ring, as asked\)" % (seen[0] - 1))
        self.assertNotIn("  missing", err)

    def test_ring_on_a_full_disk_removes_its_oldest_file_and_goes_on(self):
        fs = self.tmpfs("200k")
        out = os.path.join(fs.path, "disk.csv")
        count = 15000  # about 1 MiB of lines
        status, err = run(["replay", "-", "--output", out, "--rotate-size", "16k", "--max-files", "1000"],
                          trace(count), timeout=120)
        self.assertEqual(status, 0, err)
        files = self.logs(fs.path, "disk-")
        seen = []
        for path in files:
            seen += read_log(path)
        self.assertEqual(seen, list(range(seen[0], count + 1)))
        self.assertGreater(summary_number(err, "files removed"), 0)

    def test_ring_on_a_nearly_full_disk_keeps_the_newest_frames(self):
        # The disk holds less than two of the ring's files: the open file
        # itself makes room, and the newest frames are the ones kept.
        # Marker lines on: the run exits 0 and verify finds nothing lost.
        fs = self.tmpfs("64k")
        out = os.path.join(fs.path, "near.csv")
        count = 6000
        status, err = run(["replay", "-", "--output", out, "--rotate-size", "48k", "--max-files", "10"],
                          trace(count), timeout=120, markers=True)
        self.assertEqual(status, 0, err)
        seen = []
        for path in self.logs(fs.path, "near"):
            seen += read_log(path)
        self.assertEqual(seen, list(range(seen[0], count + 1)))
        self.assertGreater(seen[0], 1)
        self.assertNotIn("  missing", err)
        result = subprocess.run(command("verify", fs.path), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(result.returncode, 0, result.stdout.decode() + result.stderr.decode())

    def test_ring_by_file_count(self):
        out = self.path("few.csv")
        status, err = run(["replay", "-", "--output", out, "--rotate-size", "4k", "--max-files", "3"], trace(1000))
        self.assertEqual(status, 0, err)
        files = self.logs(self.dir, "few-")
        self.assertEqual(len(files), 3, files)
        seen = []
        for path in files:
            seen += read_log(path)
        self.assertEqual(seen, list(range(seen[0], 1001)))

    # ---- live input's last line

    def test_live_input_cut_last_line_is_skipped_with_a_warning(self):
        out = self.path("cutin.csv")
        data = trace(3) + b"(1700000000.001000) can0 123#11223344"
        status, err = Host(["replay", "-", "--output", out], data).finish()
        self.assertRegex(err, r"standard input:4: warning: the input ended in the middle of a line")
        self.assertEqual(read_log(out), [1, 2, 3])

    # ---- an earlier run's series

    def test_second_run_does_not_continue_an_earlier_series(self):
        out = self.path("run.csv")
        args = ["replay", "-", "--output", out, "--rotate-size", "4k"]
        status, err = run(args, trace(200))
        self.assertEqual(status, 0, err)
        first = self.logs(self.dir, "run-")
        status, err = run(args, trace(200))
        self.assertEqual(status, 0, err)
        self.assertRegex(err, r"run-001\.csv and \d+ more are an earlier run's series; this run's logs are "
                              r".*run-2-001\.csv")
        second = [p for p in self.logs(self.dir, "run-2-")]
        self.assertEqual(len(second), len(first))
        self.assertEqual(read_log(second[0])[0], 1)


if __name__ == "__main__":
    unittest.main(verbosity=2)
