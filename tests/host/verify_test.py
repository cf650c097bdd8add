#!/usr/bin/python3
"""buslog-host verify through its command line: a table of made-up runs
(every verdict, every record, files in any order, a folder), and runs of
buslog-host itself whose logs verify says are complete: a ring with marker
lines, candump's drop reports on live input, more interfaces than channels.
Run by CTest with

  BUSLOG_HOST=path/to/buslog-host[.exe] [BUSLOG_EMULATOR=wine64]
"""
import json
import os
import shutil
import subprocess
import tempfile
import unittest

HOST = os.environ["BUSLOG_HOST"]
EMULATOR = os.environ.get("BUSLOG_EMULATOR", "")

START = "000000000,+0.000000,M,Marker  , -,OK,buslog start 2023-11-14T22:13:20.000000Z"
WRITER = "000000000,+0.000000,M,Marker  , -,OK,buslog writer buslog-host 0.1.0"


def frame(number):
    return "%09d,+%d.%06d,I,CAN     , 1,OK,0,1,00,1,%02X" % (number, number // 10, number % 10 * 100000, number & 0xFF)


def record(text):
    return "000000000,+0.000000,M,Marker  , -,OK,buslog " + text


def frames(first, last):
    return [frame(n) for n in range(first, last + 1)]


def make_logs(folder, files):
    """Writes {name: lines} into `folder` (a file's text ends without CR LF
    when its last line is None); returns the full paths, sorted."""
    os.makedirs(folder, exist_ok=True)
    for name, lines in files.items():
        text = "\r\n".join(line for line in lines if line is not None)
        if lines[-1] is not None:
            text += "\r\n"
        with open(os.path.join(folder, name), "w", newline="") as f:
            f.write(text)
    return [os.path.join(folder, name) for name in sorted(files)]


# name, {file: lines} (a file's text ends without CR LF when its last line
# is None), expected exit status, the lines the report must hold.
CASES = [
    ("intact", {"run.buslog": [START, WRITER] + frames(1, 3)}, 0,
     ["frames          3 numbered: 3 present, 0 removed, 0 lost, 0 gone, 0 unexplained", "verdict         nothing lost"]),
    ("the ring's removals are no loss",
     {"run-005.buslog": [START, WRITER, record("removed 1-40")] + frames(41, 50)}, 0,
     ["removed         frames 1-40 (by the ring, as asked)", "verdict         nothing lost"]),
    ("a loss with its record",
     {"run.buslog": [START, WRITER] + frames(1, 2) + [record("lost 3-4 No space left on device")] + frames(5, 6)}, 1,
     ["lost            frames 3-4 (No space left on device)",
      "verdict         frames lost, and a record explains every loss"]),
    ("a loss after the last frame",
     {"run.buslog": [START, WRITER] + frames(1, 3) + [record("lost 4-10 left at a second stop")]}, 1,
     ["frames          10 numbered: 3 present, 0 removed, 7 lost", "lost            frames 4-10 (left at a second stop)"]),
    ("a log gone",
     {"run-002.buslog": [START, WRITER, record("gone 1-3 deleted run.buslog")] + frames(4, 5)}, 1,
     ["gone            frames 1-3 (deleted run.buslog)"]),
    ("the kernel's drops",
     {"run.buslog": [START, WRITER] + frames(1, 2) + [record("dropped 3 3 can0")] + frames(3, 3)}, 1,
     ["dropped         3 frames on can0, by the kernel (run.buslog:5)"]),
    ("a gap without a record",
     {"run.buslog": [START, WRITER] + frames(1, 2) + frames(5, 6)}, 3,
     ["unexplained     frames 3-4 (no record says why)", "verdict         something is unexplained"]),
    ("a file missing",
     {"run-001.buslog": [START, WRITER] + frames(1, 3), "run-003.buslog": [START, WRITER] + frames(7, 9)}, 3,
     ["unexplained     frames 4-6 (no record says why)"]),
    ("a cut last line",
     {"run.buslog": [START, WRITER] + frames(1, 2) + ["000000003,+0.3", None]}, 3,
     ["run.buslog  frames 1-2 (2 frames, 5 lines); ends in a cut line", "verdict         something is unexplained"]),
    ("a frame twice",
     {"a.buslog": [START, WRITER] + frames(1, 3), "b.buslog": [START, WRITER] + frames(3, 4)}, 3,
     ["twice           1 frame numbers stand more than once (logs of more than one run?)"]),
    ("files in any order",
     {"z-first.buslog": [START, WRITER] + frames(1, 2), "a-second.buslog": [START, WRITER] + frames(3, 4)}, 0,
     ["frames          4 numbered: 4 present"]),
]


class VerifyTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="buslog-verify-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def run_host(self, *args, cwd=None, stdin=None):
        result = subprocess.run(([EMULATOR] if EMULATOR else []) + [HOST] + list(args), cwd=cwd or self.dir,
                                input=stdin, capture_output=True, timeout=120)
        # Standard error has CR LF line ends on Windows.
        return (result.returncode, result.stdout.decode(errors="replace"),
                result.stderr.decode(errors="replace").replace("\r\n", "\n"))

    def test_made_up_runs(self):
        for name, files, status, said in CASES:
            with self.subTest(name):
                folder = os.path.join(self.dir, name.replace(" ", "-").replace("'", ""))
                names = [os.path.basename(path) for path in make_logs(folder, files)]
                got, out, err = self.run_host("verify", *reversed(names), cwd=folder)
                self.assertEqual(got, status, out + err)
                for line in said:
                    self.assertIn(line, out)
                # The same from the folder, and as JSON and CSV.
                got, out, _ = self.run_host("verify", folder, "--json")
                self.assertEqual(got, status, out)
                self.assertEqual(json.loads(out)["verdict"], status)
                got, out, _ = self.run_host("verify", folder, "--csv")
                self.assertEqual(got, status, out)
                self.assertTrue(out.startswith("item,file,first,last,count,why"), out)
                self.assertIn("\nverdict,,,,%d," % status, out)

    def test_convert_names_a_cut_last_line_and_writes_no_frame_of_it(self):
        folder = os.path.join(self.dir, "cut")
        make_logs(folder, {"run.buslog": [START, WRITER] + frames(1, 2) + [frames(3, 3)[0][:-3], None]})
        status, out, err = self.run_host("convert", "run.buslog", "--to", "candump", cwd=folder)
        self.assertEqual(status, 0, err)
        self.assertEqual(len(out.splitlines()), 2, out)
        self.assertIn("    last line cut (no line end)                  1\n", err)
        self.assertNotIn("text (not a record)", err)

    def test_command_line(self):
        rows = [(["verify"], 2, "no LOG given"), (["verify", "x", "--bogus"], 2, "unknown option --bogus"),
                (["verify", "x", "--csv", "--json"], 2, "not both"),
                (["verify", "no-such.buslog"], 3, "cannot read no-such.buslog"),
                (["verify", "."], 3, "the folder . holds no log (no .buslog or .csv file)")]
        for args, status, words in rows:
            with self.subTest(args=args):
                got, out, err = self.run_host(*args)
                self.assertEqual(got, status, out + err)
                self.assertIn(words, err)

    def test_a_ring_with_marker_lines_exits_0_and_verifies_complete(self):
        trace = "".join("(%.6f) can0 123#1122334455667788\n" % (1700000000 + i / 100) for i in range(600))
        with open(os.path.join(self.dir, "in.log"), "w") as f:
            f.write(trace)
        status, _, err = self.run_host("replay", "in.log", "--output", "ring.buslog", "--rotate-size", "4k",
                                       "--max-files", "3")
        self.assertEqual(status, 0, err)
        self.assertIn("files removed", err)
        files = sorted(f for f in os.listdir(self.dir) if f.startswith("ring"))
        self.assertEqual(len(files), 3, files)
        status, out, _ = self.run_host("verify", *files)
        self.assertEqual(status, 0, out)
        self.assertRegex(out, r"removed         frames 1-\d+ \(by the ring, as asked\)")

    def test_live_drop_reports_are_in_the_log_and_verify_names_them(self):
        lines = ["(1700000000.%06d) can0 123#%02X\n" % (i * 1000, i) for i in range(1, 6)]
        lines.insert(3, "DROPCOUNT: dropped 3 CAN frames on 'can0' socket (total drops 3)\n")
        lines.append("DROPCOUNT: dropped 1 CAN frame on 'can0' socket (total drops 4)\n")
        status, _, err = self.run_host("record", "--output", "live.buslog", "--strict",
                                       stdin="".join(lines).encode())
        self.assertEqual(status, 1, err)
        self.assertNotIn("warning", err)
        self.assertIn("  dropped         4 frames by the kernel, before candump read them (2 reports; recorded in the "
                      "log)\n", err)
        self.assertIn("buslog-host: the kernel dropped 4 frames before candump read them; they are in no log\n", err)
        with open(os.path.join(self.dir, "live.buslog"), "rb") as f:
            log = f.read()
        self.assertIn(b",buslog dropped 3 3 can0\r\n", log)
        self.assertIn(b",buslog dropped 1 4 can0\r\n", log)
        status, out, _ = self.run_host("verify", "live.buslog")
        self.assertEqual(status, 1, out)
        self.assertIn("dropped         3 frames on can0, by the kernel", out)
        # Without marker lines the summary is the only word on them.
        status, _, err = self.run_host("record", "--output", "bare.buslog", "--no-markers",
                                       stdin="".join(lines).encode())
        self.assertEqual(status, 1, err)
        self.assertIn("(2 reports; not in the log: marker lines are off)\n", err)

    def test_frames_of_too_many_interfaces_are_recorded_as_lost(self):
        trace = "".join("(1700000000.%06d) can%d 123#01\n" % (i, i) for i in range(258))
        with open(os.path.join(self.dir, "in.log"), "w") as f:
            f.write(trace)
        status, _, err = self.run_host("replay", "in.log", "--output", "many.buslog")
        self.assertEqual(status, 1, err)
        self.assertIn("more than 256 interfaces", err)
        status, out, _ = self.run_host("verify", "many.buslog")
        self.assertEqual(status, 1, out)
        self.assertIn("lost            frames 257-258 (more interfaces than channels)", out)


if __name__ == "__main__":
    unittest.main(verbosity=2)
