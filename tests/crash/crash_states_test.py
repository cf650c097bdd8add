#!/usr/bin/python3
"""The power-cut model and its checks (crash_states.py) on recordings made
up for them: each row a short run of file operations, as the recording
library would send them, and the problem the states must show (None: every
state passes). Run by CTest as crash_states_model."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True  # nothing left beside the sources
import crash_states  # noqa: E402

ROOT = "/logs"


def line(number):
    return b"%09d,+0.%06d,I,CAN     , 1,OK,0,1,23,1,AA\r\n" % (number, number)


def lines(first, last):
    return b"".join(line(n) for n in range(first, last + 1))


MARKER = b"000000000,+0.000000,M,Marker  , -,OK,buslog writer test 1\r\n"
LINE = len(line(1))
SHORT_2 = b"000000002,+0.000002,I,CAN     , 1,OK\r\n"  # frame 2 again, shorter


class Run:
    """Datagrams of one process, numbered as the library numbers them."""

    def __init__(self):
        self.datagrams = []

    def add(self, kind, fields, tail=b""):
        head = "%s p.1 %d%s\n" % (kind, len(self.datagrams), "".join(" %s" % f for f in fields))
        self.datagrams.append(head.encode() + tail)
        return self

    def create(self, inode, name):
        return self.add("O", [0, inode, 1, 0], b"%s/%s\n" % (ROOT.encode(), name.encode()))

    def write(self, inode, offset, data, ok=1, dsync=1):
        return self.add("W", [0, inode, offset, len(data), ok, dsync], data)

    def fail(self, inode):
        return self.add("E", [0, inode, 28])

    def trunc(self, inode, length):
        return self.add("T", [0, inode, length])

    def fsync(self, inode):
        return self.add("S", [0, inode])

    def dirsync(self):
        return self.add("D", [], b"%s\n" % ROOT.encode())

    def unlink(self, inode, name):
        return self.add("U", [0, inode], b"%s/%s\n" % (ROOT.encode(), name.encode()))

    def rename(self, inode, old, new):
        return self.add("R", [0, inode], b"%s/%s\n%s/%s\n" % (ROOT.encode(), old.encode(), ROOT.encode(),
                                                               new.encode()))

    def close(self, inode):
        return self.add("C", [0, inode])

    def opened(self, inode, name):
        """A new log as the module makes it: created, its folder synced."""
        return self.create(inode, name).dirsync()


def model(run):
    """The operations of `run`, the files before it and its timeline."""
    events = [crash_states.Event(d) for d in run.datagrams]
    ops, initial = crash_states.operations(events, {})
    crash_states.settle_durability(ops)
    return ops, initial, crash_states.Timeline(ops, initial, ROOT, "*.buslog")


def problems(run, checks=(), budget=100000):
    """Every problem of every failing state of `run`, and the state count."""
    ops, initial, timeline = model(run)
    checker = crash_states.Checker(ROOT, "*.buslog", ops, initial, timeline, checks, budget=budget)
    checker.run(stop_after=1000)
    return [p for failure in checker.failures for p in failure[4]], checker.states


def batch_cut_short():
    """Lines 1-3 whole and a part of 4 written, the rest refused, the part
    taken back; all four written again in a new file."""
    run = Run().opened(1, "a.buslog").write(1, 0, MARKER)
    batch = lines(1, 4)
    run.write(1, len(MARKER), batch[:200], ok=0).fail(1).trunc(1, len(MARKER))
    return run


CASES = [
    # name, run, the problem some state shows (None: none)
    ("O_DSYNC lines after the folder sync", Run().opened(1, "a.buslog").write(1, 0, MARKER + lines(1, 5))
     .write(1, len(MARKER) + len(lines(1, 5)), lines(6, 9)).close(1), None),
    ("a write in flight may stand in part", Run().opened(1, "a.buslog").write(1, 0, lines(1, 3))
     .write(1, len(lines(1, 3)), lines(4, 9)), None),
    ("a new log's name never synced", Run().create(1, "a.buslog").write(1, 0, lines(1, 2)),
     "frames reported logged but missing: 1-2"),
    ("writes without O_DSYNC count once synced", Run().opened(1, "a.buslog").write(1, 0, lines(1, 2), dsync=0)
     .fsync(1).write(1, 2 * LINE, lines(3, 3), dsync=0), None),
    ("a sync of the file keeps no new name", Run().create(1, "a.buslog").write(1, 0, lines(1, 2), dsync=0)
     .fsync(1), "frames reported logged but missing: 1-2"),
    ("a take-back never synced, a shorter line after it",
     Run().opened(1, "a.buslog").write(1, 0, line(1)).write(1, LINE, lines(2, 3)[:60], ok=0).fail(1)
     .trunc(1, LINE).write(1, LINE, SHORT_2).close(1),
     "a.buslog ends in a cut line that no write in flight explains"),
    ("a take-back synced, a shorter line after it",
     Run().opened(1, "a.buslog").write(1, 0, line(1)).write(1, LINE, lines(2, 3)[:60], ok=0).fail(1)
     .trunc(1, LINE).fsync(1).write(1, LINE, SHORT_2).close(1), None),
    ("a batch taken back without a sync, written again in a new file",
     batch_cut_short().close(1).opened(2, "b.buslog").write(2, 0, MARKER + lines(1, 4)),
     "frames logged twice: 1-3"),
    ("a batch taken back and synced, written again in a new file",
     batch_cut_short().fsync(1).close(1).opened(2, "b.buslog").write(2, 0, MARKER + lines(1, 4)), None),
    ("a log left ending in a cut line (its take-back failed)",
     Run().opened(1, "a.buslog").write(1, 0, line(1)).write(1, LINE, line(2)[:20], ok=0).fail(1).close(1),
     "a.buslog ends in a cut line that no write in flight explains"),
    ("a removed log's frames may be gone",
     Run().opened(1, "a.buslog").write(1, 0, lines(1, 3)).close(1).unlink(1, "a.buslog").dirsync()
     .opened(2, "b.buslog").write(2, 0, lines(4, 5)), None),
    ("a renamed log keeps its frames under one of its names",
     Run().opened(1, "a.buslog").write(1, 0, lines(1, 3)).rename(1, "a.buslog", "c.buslog")
     .write(1, 3 * LINE, line(4)), None),
    ("a line that is no log line", Run().opened(1, "a.buslog").write(1, 0, b"hello\r\n"), "not a log line"),
    ("frame number 0 that is no buslog marker",
     Run().opened(1, "a.buslog").write(1, 0, b"000000000,+0.000000,M,Marker  , -,OK,start\r\n"),
     "frame number 0 but no buslog marker"),
]


def ring_run(synced):
    run = Run().opened(1, "r-001.buslog").write(1, 0, lines(1, 2)).close(1)
    run.unlink(1, "r-001.buslog")
    if synced:
        run.dirsync()
    return run.opened(2, "r-002.buslog").write(2, 0, lines(3, 4))


class ModelTest(unittest.TestCase):
    def test_cases(self):
        for name, run, expected in CASES:
            with self.subTest(name):
                found, states = problems(run)
                self.assertGreater(states, 0)
                if expected is None:
                    self.assertEqual(found, [])
                else:
                    self.assertTrue(any(expected in p for p in found), "%s not in %s" % (expected, found))

    def test_a_ring_removal_needs_its_folder_synced_before_the_next_file(self):
        ring = crash_states.ring_limits(ROOT, "r-*.buslog", max_files=1)
        for synced, expected in ((False, ["the ring holds 2 files, more than 1"]), (True, [])):
            with self.subTest(synced=synced):
                found, _ = problems(ring_run(synced), [ring])
                self.assertEqual(sorted(set(found)), expected)

    def test_lines_never_made_durable_are_counted(self):
        for sync, expected in ((False, 2), (True, 0)):
            with self.subTest(sync=sync):
                run = Run().opened(1, "a.buslog").write(1, 0, lines(1, 2), dsync=0)
                if sync:
                    run.fsync(1)
                self.assertEqual(model(run)[2].never_durable, expected)

    def test_sampling_keeps_the_states_that_matter(self):
        # An unsynced take-back among many lines: a small budget builds a
        # fraction of the states and still finds the cut line.
        run = Run().opened(1, "a.buslog")
        for n in range(1, 41):
            run.write(1, (n - 1) * LINE, line(n))
        run.write(1, 40 * LINE, lines(41, 42)[:60], ok=0).fail(1).trunc(1, 40 * LINE)
        run.write(1, 40 * LINE, SHORT_2)
        for n in range(42, 82):
            run.write(1, 40 * LINE + len(SHORT_2) + (n - 42) * LINE, line(n))
        expected = "a.buslog ends in a cut line that no write in flight explains"
        everything, all_states = problems(run)
        sampled, some_states = problems(run, budget=40)
        self.assertLess(some_states, all_states // 4)
        self.assertTrue(any(expected in p for p in everything))
        self.assertTrue(any(expected in p for p in sampled), sampled)

    def test_a_gap_in_the_recording_is_found(self):
        run = Run().opened(1, "a.buslog").write(1, 0, lines(1, 2))
        events = [crash_states.Event(d) for d in run.datagrams]
        self.assertIsNone(crash_states.check_sequence(events))
        del events[1]
        self.assertEqual(crash_states.check_sequence(events), "the recording of process p.1 has gaps: events lost")

    def test_a_log_read_in_parts_keeps_its_frames_and_markers(self):
        # Read whole, then cut back into its second line and grown again:
        # what later rules see is what one reading of each content gives.
        log = crash_states.ParsedLog()
        content = MARKER + lines(1, 3) + MARKER
        for step in (content, content[:len(MARKER) + LINE + 7], content[:len(MARKER) + LINE] + lines(7, 8)):
            log.update(step)
        self.assertEqual(log.numbers, [1, 7, 8])
        self.assertEqual(log.markers, [(0, b"writer test 1")])
        self.assertEqual(log.whole_end(), len(MARKER) + 3 * LINE)
        log.update(content)
        self.assertEqual((log.numbers, len(log.markers), log.errors), ([1, 2, 3], 2, []))

    def test_cuts_of_a_write_in_flight(self):
        op = crash_states.Op("write", 1, data=lines(1, 3))
        cuts = crash_states.cuts_of(op, crash_states.random.Random(1))
        size = len(lines(1, 3))
        self.assertEqual(sorted({1, size // 2, size - 1, LINE, 2 * LINE} - set(cuts)), [])
        self.assertTrue(all(0 < c < size for c in cuts))


if __name__ == "__main__":
    unittest.main(verbosity=2)
