#!/usr/bin/python3
"""buslog-host's command line as a newcomer meets it: what each command
takes and refuses, the help, the messages, and run SCRIPT's no-clobber
rules. Each test runs a copy of buslog-host and the module in a folder of
its own (the module opens a script's logs in its own folder), with that
folder or a fresh one as the current directory. Run by CTest with

  BUSLOG_HOST=path/to/buslog-host[.exe] [BUSLOG_EMULATOR=wine64]
  BUSLOG_VERSION=the project's version
"""
import os
import shutil
import subprocess
import tempfile
import unittest

HOST = os.environ["BUSLOG_HOST"]
EMULATOR = os.environ.get("BUSLOG_EMULATOR", "")
VERSION = os.environ.get("BUSLOG_VERSION", "")
WINDOWS = HOST.endswith(".exe")
MODULE = "buslog.dll" if WINDOWS else "libbuslog.so"
SOURCE_MODULE = os.path.join(os.path.dirname(os.path.abspath(HOST)), MODULE)
SCRATCH = "/dev/shm" if os.path.isdir("/dev/shm") else None
SEE_HELP = "see buslog-host --help"
SIZE_WANTED = ("give a size such as 500k, 1.5M, 10MB or 2GiB (k, M, G are powers of 1024, in any case; a number "
               "alone is bytes)")
FRAME = "(1700000000.000000) can0 123#DEADBEEF\n"


class CommandLineTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="buslog-cli-", dir=SCRATCH)
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.bin = os.path.join(self.dir, "bin")
        self.work = os.path.join(self.dir, "work")
        os.mkdir(self.bin)
        os.mkdir(self.work)
        self.host = os.path.join(self.bin, os.path.basename(HOST))
        shutil.copy2(HOST, self.host)
        shutil.copy2(SOURCE_MODULE, os.path.join(self.bin, MODULE))

    def write(self, path, text):
        with open(path, "w", newline="") as f:
            f.write(text)
        return path

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    # Output to files, not pipes: a wine server that a host starts would
    # hold pipes open for seconds after the host ended.
    def run_host(self, *args, cwd=None, host=None, stdin_text=None):
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err, tempfile.TemporaryFile() as inp:
            if stdin_text is not None:
                inp.write(stdin_text.encode())
                inp.seek(0)
            argv = ([EMULATOR] if EMULATOR else []) + [host or self.host] + [str(a) for a in args]
            status = subprocess.call(argv, cwd=cwd or self.work, stdin=inp if stdin_text is not None else
                                     subprocess.DEVNULL, stdout=out, stderr=err, timeout=60)
            out.seek(0)
            err.seek(0)
            clean = lambda data: data.decode(errors="replace").replace("\r\n", "\n")
            return status, clean(out.read()), clean(err.read())

    def assert_lines(self, err, lines):
        got = [line for line in err.split("\n") if line]
        # Wine may say something of its own before the host's lines.
        self.assertEqual(got[-len(lines):], lines, err)

    # ---- each command refuses what it does not take; errors in one line

    def test_options_a_command_does_not_take(self):
        script = self.write(os.path.join(self.work, "s.script"), "ShareMode 1\n")
        rows = [
            ("run with --output", ["run", script, "--output", "x.buslog"],
             "buslog-host: run does not take --output (run takes --overwrite, --module, --share, --strict, "
             "--quiet)"),
            ("run with --rotate-size", ["run", script, "--rotate-size", "1k"],
             "buslog-host: run does not take --rotate-size (run takes --overwrite, --module, --share, --strict, "
             "--quiet)"),
            ("run with --queue", ["run", script, "--queue", "5"],
             "buslog-host: run does not take --queue (run takes --overwrite, --module, --share, --strict, "
             "--quiet)"),
            ("run with --progress", ["run", script, "--progress"],
             "buslog-host: run does not take --progress (run takes --overwrite, --module, --share, --strict, "
             "--quiet)"),
            ("demo with --output", ["demo", "--output", "foo.buslog"],
             "buslog-host: demo does not take --output (demo takes --overwrite, --module, --share, --quiet)"),
            ("demo with --strict", ["demo", "--strict"],
             "buslog-host: demo does not take --strict (demo takes --overwrite, --module, --share, --quiet)"),
            ("run with --sync-every-frame", ["run", script, "--sync-every-frame"],
             "buslog-host: run does not take --sync-every-frame (run takes --overwrite, --module, --share, "
             "--strict, --quiet)"),
        ]
        for name, args, line in rows:
            with self.subTest(name):
                status, out, err = self.run_host(*args)
                self.assertEqual(status, 2, err)
                self.assert_lines(err, [line, SEE_HELP])
                self.assertEqual(sorted(os.listdir(self.work)), ["s.script"])

    def test_option_errors_say_what_is_accepted(self):
        rows = [
            ("rotate-size 0", ["replay", "-", "--rotate-size", "0"], "buslog-host: --rotate-size 0: " + SIZE_WANTED),
            ("rotate-seconds 0", ["replay", "-", "--rotate-seconds", "0"],
             "buslog-host: --rotate-seconds 0: give seconds above 0, as 3600 or 0.5"),
            ("queue 0", ["record", "--queue", "0"],
             "buslog-host: --queue 0: give a number of lines from 1 up, as 1000000 (the default)"),
            ("report-every x", ["record", "--report-every", "x"],
             "buslog-host: --report-every x: give a number of lines, as 100"),
            ("missing value", ["replay", "x.log", "--module"], "buslog-host: --module needs a value: the module's path"),
            ("empty output", ["replay", "x.log", "--output", ""],
             "buslog-host: --output is empty; give the log file's path"),
            ("unknown option", ["replay", "x.log", "--bogus"],
             "buslog-host: unknown option --bogus (replay takes --output, --name, --overwrite, --rotate-size, "
             "--rotate-seconds, --max-files, --max-total, --queue, --module, --share, --strict, --progress, --quiet, "
             "--report-every, --sync-every-frame, --no-markers, --time-base-per-file, --filter, --trigger, "
             "--start-trigger, --stop-trigger, --pre, --post, --pre-buffer)"),
            # the filter and the triggers in the writer engine's words
            ("wrong filter", ["replay", "x.log", "--filter", "12Z:7FF"],
             "buslog-host: filter 12Z:7FF: 12Z is not an identifier: give 1 to 3 hex digits (up to 7FF), or 8 for "
             "an extended identifier"),
            ("empty filter", ["replay", "x.log", "--filter", ""],
             "buslog-host: --filter is empty; give filters, as 123:7FF,400:700"),
            ("wrong stop trigger", ["record", "--stop-trigger", "100#0|8@1+"],
             "buslog-host: stop trigger 100#0|8@1+: a comparison (< <= > >= == !=) and a threshold must follow the "
             "signal"),
            ("pre without a trigger", ["replay", "x.log", "--pre", "5"],
             "buslog-host: pre and post seconds need a trigger, a start trigger or a stop trigger"),
            ("pre x", ["replay", "x.log", "--trigger", "7E0", "--pre", "x"],
             "buslog-host: --pre x: give seconds from 0 to 1000000, as 10 or 0.5"),
            ("pre-buffer without pre", ["record", "--trigger", "7E0", "--pre-buffer", "1M"],
             "buslog-host: --pre-buffer needs --pre"),
            ("small pre-buffer", ["record", "--trigger", "7E0", "--pre", "1", "--pre-buffer", "1k"],
             "buslog-host: a pre-trigger buffer takes 64k bytes or more"),
            ("unknown command", ["frob"],
             "buslog-host: unknown command frob (the commands: replay, record, run, demo, convert, stats, verify, help)"),
            ("no command", [], "buslog-host: no command given (the commands: replay, record, run, demo, convert, "
             "stats, verify, help)"),
            ("replay without a trace", ["replay"], "buslog-host: replay needs a candump trace (- for standard input)"),
            ("record with an argument", ["record", "x.log"],
             "buslog-host: unexpected argument x.log (record takes none: it reads standard input)"),
            ("help of an unknown command", ["help", "frob"],
             "buslog-host: unknown command frob (the commands: replay, record, run, demo, convert, stats, verify, help)"),
        ]
        for name, args, line in rows:
            with self.subTest(name):
                status, out, err = self.run_host(*args)
                self.assertEqual((status, out), (2, ""), err)
                self.assert_lines(err, [line, SEE_HELP])

    # ---- sizes

    def test_sizes_in_the_usual_spellings(self):
        # 400 lines of about 60 bytes: the small sizes rotate, each file
        # ending with the line that brought it to the size; the large ones
        # keep one file.
        trace = self.write(os.path.join(self.work, "in.log"), "".join(
            "(1700000000.%06d) can0 123#DEADBEEF\n" % (i * 1000) for i in range(400)))
        rows = [
            ("4096", 4096), ("4k", 4096), ("4.5K", 4608), ("5kB", 5120), ("6KiB", 6144), ("6kib", 6144),
            ("0.005M", 5242), ("0.01mb", 10485), ("1.5M", 1572864), ("10MB", 10485760), ("10mb", 10485760),
            ("10MiB", 10485760), ("2g", 2147483648), ("2GB", 2147483648), ("2GiB", 2147483648),
        ]
        for text, size in rows:
            with self.subTest(text):
                folder = tempfile.mkdtemp(dir=self.work)
                status, _, err = self.run_host("replay", trace, "--output", "run.buslog", "--rotate-size", text,
                                               "--quiet", cwd=folder)
                self.assertEqual((status, err), (0, ""))
                files = sorted(os.listdir(folder))
                self.assertEqual(files[0], "run-001.buslog")
                for name in files[:-1]:
                    data = self.read(os.path.join(folder, name))
                    last = len(data) - data.rstrip(b"\r\n").rfind(b"\n") - 1
                    self.assertGreaterEqual(len(data), size, name)
                    self.assertLess(len(data) - last, size, name)
                if size > 100000:
                    self.assertEqual(files, ["run-001.buslog"])

    def test_a_rotate_size_under_4k_is_taken_and_said(self):
        trace = self.write(os.path.join(self.work, "in.log"), FRAME * 3)
        rows = [("100", "; did you mean 100M?"), ("4095", "; did you mean 4095M?"), ("3.99k", ""), ("2k", "")]
        for text, hint in rows:
            with self.subTest(text):
                folder = tempfile.mkdtemp(dir=self.work)
                status, _, err = self.run_host("replay", trace, "--output", "run.buslog", "--rotate-size", text,
                                               "--quiet", cwd=folder)
                self.assertEqual(status, 0, err)
                self.assertIn("buslog-host: warning: --rotate-size %s is under 4k: each file holds only a few frames "
                              "(a CAN frame's line takes about 70 bytes, the longest line 4,098)%s\n"
                              % (text, hint), err)

    def test_sizes_refused_say_what_is_taken(self):
        rows = [
            (["--rotate-size", "10Q"], "--rotate-size 10Q: " + SIZE_WANTED),
            (["--rotate-size", "1.5"], "--rotate-size 1.5: " + SIZE_WANTED),
            (["--rotate-size", "10 MB"], "--rotate-size 10 MB: " + SIZE_WANTED),
            (["--rotate-size", "-1M"], "--rotate-size -1M: " + SIZE_WANTED),
            (["--rotate-size", "20000000000G"], "--rotate-size 20000000000G: " + SIZE_WANTED),
            (["--rotate-size", "1M", "--max-total", "1T"], "--max-total 1T: " + SIZE_WANTED),
            (["--rotate-size", "1M", "--max-total", "1.5M"], "--max-total needs --rotate-size, and at least twice "
             "that size"),
        ]
        for args, line in rows:
            with self.subTest(" ".join(args)):
                status, out, err = self.run_host("replay", "-", *args)
                self.assertEqual((status, out), (2, ""), err)
                self.assert_lines(err, ["buslog-host: " + line, SEE_HELP])

    # ---- help and version

    def test_help_and_version(self):
        status, out, err = self.run_host("--version")
        self.assertEqual((status, out, err), (0, "buslog-host %s\n" % VERSION, ""))
        full = self.run_host("--help")
        self.assertEqual(full[0], 0)
        self.assertTrue(full[1].startswith("usage: buslog-host COMMAND"), full[1])
        rows = [
            (["help"], "usage: buslog-host COMMAND"),
            (["-h"], "usage: buslog-host COMMAND"),
            (["help", "run"], "usage: buslog-host run SCRIPT [options]"),
            (["run", "--help"], "usage: buslog-host run SCRIPT [options]"),
            (["help", "record"], "usage: buslog-host record [options]"),
            (["demo", "-h"], "usage: buslog-host demo [options]"),
            (["help", "convert"], "usage: buslog-host convert"),
            (["stats", "--help"], "usage: buslog-host stats"),
        ]
        for args, start in rows:
            with self.subTest(" ".join(args)):
                status, out, err = self.run_host(*args)
                self.assertEqual((status, err), (0, ""))
                self.assertTrue(out.startswith(start), out)
        # A command's help lists its own options only.
        _, out, _ = self.run_host("help", "run")
        self.assertIn("--strict", out)
        self.assertNotIn("--output", out)

    def test_quiet_means_errors_only(self):
        trace = self.write(os.path.join(self.work, "in.log"), FRAME)
        status, out, err = self.run_host("replay", trace, "--output", "run.buslog", "--quiet")
        self.assertEqual((status, out, err), (0, "", ""))
        script = self.write(os.path.join(self.work, "s.script"), 'Open "s.buslog"\nPutFrameId 1\nWrite\nClose\n')
        status, out, err = self.run_host("run", script, "--quiet")
        self.assertEqual((status, out, err), (0, "", ""))
        # An error still says so.
        status, out, err = self.run_host("replay", os.path.join(self.work, "none.log"), "--quiet")
        self.assertEqual(status, 1)
        self.assertIn("none.log", err)

    # ---- run SCRIPT keeps replay's no-clobber rules

    def test_run_script_replaces_nothing_of_yours(self):
        mine = self.write(os.path.join(self.bin, "mine.log"), "precious\n")
        script = self.write(os.path.join(self.work, "s.script"), 'Open "mine.log"\nClose\n')
        status, _, err = self.run_host("run", script)
        self.assertEqual(status, 1, err)
        self.assertIn("mine.log exists; give --overwrite to replace it", err)
        self.assertEqual(self.read(mine), b"precious\n")
        # With --overwrite it is replaced; written with nothing, it is gone.
        status, _, err = self.run_host("run", script, "--overwrite")
        self.assertEqual(status, 0, err)
        self.assertFalse(os.path.exists(mine))

    def test_run_script_writes_its_log_and_leaves_no_empty_one(self):
        rows = [
            ("a line written", 'Open "new.log"\nPutFrameId 1\nWrite\nClose\n', b"000000001\r\n"),
            ("nothing written", 'Open "new.log"\nClose\n', None),
            ("left open", 'Open "new.log"\n', None),
            ("left open with a line", 'Open "new.log"\nPutFrameId 7\nWrite\n', b"000000007\r\n"),
        ]
        for name, text, expected in rows:
            with self.subTest(name):
                script = self.write(os.path.join(self.work, "s.script"), text)
                status, _, err = self.run_host("run", script)
                self.assertEqual(status, 0, err)
                log = os.path.join(self.bin, "new.log")
                if expected is None:
                    self.assertFalse(os.path.exists(log), err)
                else:
                    self.assertEqual(self.read(log), expected)
                    os.remove(log)

    # ---- the module

    def test_module_named_without_a_folder_is_in_the_current_directory(self):
        shutil.copy2(SOURCE_MODULE, os.path.join(self.work, MODULE))
        trace = self.write(os.path.join(self.work, "in.log"), FRAME)
        status, _, err = self.run_host("replay", trace, "--module", MODULE, "--output", "run.buslog")
        self.assertEqual(status, 0, err)
        self.assertTrue(os.path.exists(os.path.join(self.work, "run.buslog")))

    def test_missing_module_names_every_place_tried(self):
        os.remove(os.path.join(self.bin, MODULE))
        trace = self.write(os.path.join(self.work, "in.log"), FRAME)
        status, _, err = self.run_host("replay", trace)
        self.assertEqual(status, 1, err)
        last = [line for line in err.split("\n") if line][-1]
        self.assertRegex(last, r"^buslog-host: no module: tried .*bin.%s and .*lib.%s; give --module PATH$"
                         % (MODULE.replace(".", r"\."), MODULE.replace(".", r"\.")))
        self.assertEqual(os.listdir(self.work), ["in.log"])

    # ---- inputs and wording

    def test_inputs_that_hold_no_frames_say_so(self):
        empty = self.write(os.path.join(self.work, "empty.log"), "")
        screen = self.write(os.path.join(self.work, "screen.log"),
                            "  can0  123   [4]  DE AD BE EF\n  can0  7FF   [0] \n")
        log = self.write(os.path.join(self.work, "old.buslog"),
                         "000000000,+0.000000,M,Marker  , -,OK,buslog start 2023-11-14T22:13:20.000000Z\r\n"
                         "000000001,+0.000000,I,CAN     , 1,OK,0,1,23,1,11\r\n")
        rows = [
            ("empty trace", ["replay", empty, "--output", "a.buslog"], None,
             "buslog-host: %s held no lines; nothing was logged" % empty),
            ("empty standard input", ["record", "--output", "a.buslog"], "",
             "buslog-host: standard input held no lines; nothing was logged"),
            ("screen format", ["replay", screen, "--output", "a.buslog"], None,
             "buslog-host: %s:1: this is candump's screen format (candump can0), which this host does not log: "
             "it has no time stamps to keep; use candump -L (candump -L can0 | buslog-host record), or replay a "
             "file that candump -l wrote" % screen),
            ("screen format, live", ["record", "--output", "a.buslog"], "  can0  123   [4]  DE AD BE EF\n",
             "buslog-host: standard input:1: this is candump's screen format (candump can0), which this host does "
             "not log: it has no time stamps to keep; use candump -L (candump -L can0 | buslog-host record), or "
             "replay a file that candump -l wrote"),
            ("a buslog log", ["replay", log, "--output", "a.buslog"], None,
             "buslog-host: %s:1: this is a buslog log, not a candump trace: a log goes to buslog-host convert, "
             "stats or verify" % log),
        ]
        for name, args, stdin_text, line in rows:
            with self.subTest(name):
                status, _, err = self.run_host(*args, stdin_text=stdin_text)
                # An input that holds nothing to log is an error, said in one line.
                self.assertEqual(status, 1, err)
                self.assertIn(line + "\n", err)
                self.assertEqual(err.count("screen format"), 1 if "screen" in name else 0, err)
                self.assertNotIn("warning", err)
                self.assertFalse(os.path.exists(os.path.join(self.work, "a.buslog")))

    def test_live_screen_format_ends_the_run(self):
        # candump can0 | buslog-host record: the pipe stays open, and the
        # host must not go on logging nothing.
        argv = ([EMULATOR] if EMULATOR else []) + [self.host, "record", "--output", "a.buslog"]
        with tempfile.TemporaryFile() as err:
            host = subprocess.Popen(argv, cwd=self.work, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=err)
            try:
                host.stdin.write(b"  can0  123   [4]  DE AD BE EF\n")
                host.stdin.flush()
                status = host.wait(timeout=30)
            finally:
                host.kill()
                host.stdin.close()
            err.seek(0)
            text = err.read().decode(errors="replace")
        self.assertEqual(status, 1, text)
        self.assertIn("this is candump's screen format", text)
        self.assertFalse(os.path.exists(os.path.join(self.work, "a.buslog")))

    def test_wording(self):
        trace = self.write(os.path.join(self.work, "in.log"),
                           "(1700000001.000000) can0 123#11\n(1700000000.000000) can0 123#22\n")
        status, _, err = self.run_host("record", "--output", "r.buslog", stdin_text=open(trace).read())
        self.assertEqual(status, 0, err)
        self.assertIn("buslog-host: record from standard input\n", err)
        self.assertNotIn("replay of", err)
        # The earlier frame begins a time base of its own; with one base a
        # file it is stamped +0.000000, and a marker line says how much earlier.
        self.assertNotIn("earlier than", err)
        status, _, err = self.run_host("record", "--time-base-per-file", "--output", "p.buslog",
                                       stdin_text=open(trace).read())
        self.assertEqual(status, 0, err)
        self.assertIn("  note: 1 frame was earlier than its time base, stamped +0.000000\n", err)
        with open(os.path.join(self.work, "p.buslog"), "rb") as log:
            self.assertIn(b"buslog clamped 1.000000\r\n000000002,+0.000000,", log.read())
        junk = self.write(os.path.join(self.work, "junk.log"), "not a frame\n")
        status, _, err = self.run_host("replay", junk, "--output", "j.buslog")
        self.assertEqual(status, 1, err)
        self.assertIn("buslog-host: %s: no candump frames in 1 line\n" % junk, err)
        status, _, err = self.run_host("replay", trace, "--output", "/proc/x.buslog")
        if not WINDOWS and os.path.isdir("/proc"):
            self.assertEqual(status, 1, err)
            self.assertIn("buslog-host: cannot write the log /proc/x.buslog: the folder /proc does not take new "
                          "files", err)

    def test_default_output_name_is_buslog(self):
        trace = self.write(os.path.join(self.work, "in.log"), FRAME)
        status, _, err = self.run_host("replay", trace)
        self.assertEqual(status, 0, err)
        made = [f for f in os.listdir(self.work) if f != "in.log"]
        self.assertEqual(len(made), 1, made)
        self.assertRegex(made[0], r"^buslog-\d{4}-\d\d-\d\d_\d{6}\.buslog$")


if __name__ == "__main__":
    unittest.main(verbosity=2)
