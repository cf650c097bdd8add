#!/usr/bin/python3
"""Every state a power cut could leave behind a run, built from a recording
of the run's file operations and checked like a reader would.

A command (buslog-host, a python-can script, any face of the logger) runs
with the recording library tests/crash/fs_record.c preloaded; it reports
each file operation under one folder, in the order the calls returned. From
that recording alone this program builds the states the power-cut model
allows and checks each. Nothing is asked of the command: a frame counts as
reported logged once a write() that carried its whole line returned
success, on a file opened O_DSYNC; on any other file once a sync of the
file returned after it (a line never synced is a failure of the run).

The power-cut model. At a crash after any operation:
  - a write to a file opened O_DSYNC (or O_SYNC) is on the device when it
    returns; other writes only once the file was synced (fsync, fdatasync);
  - a truncation is kept only once the file was synced;
  - a new file's name, a removal and a rename are kept only once their
    folder was synced (fsync of the folder);
  - sync() and syncfs() keep everything before them;
  - each operation not yet kept may or may not be there, independently of
    the others (a file system without a journal, such as FAT, promises no
    order), and the write in flight at the crash may be there in part: a
    prefix of its bytes.
Folders are taken to exist throughout; a drive that loses what it reported
written (a volatile write cache that is not flushed) is outside the model.

The checks, in every state, on the files that match the log pattern:
  - every line ends CR LF, except a cut at the very end of a file that the
    write in flight explains, or a write that came back short while the
    writer still deals with it (the failed rest, the take-back and its
    sync: the writer's own call has not returned);
  - every line is a log line: FRAME,TIME and a record (see LINE_CHECKS);
  - every frame reported logged up to the crash is there exactly once,
    unless its file had been removed by then (by the run or by anyone the
    recording saw): then at most once;
  - no frame number stands twice (a frame written again after a failure);
  - what the case adds (a ring's limits) and STATE_CHECKS.
LINE_CHECKS and STATE_CHECKS are the places for more rules, such as the
records of lost frames that a log may carry.

Each crash point takes up to 16 choices of what is there, and the write in
flight is cut after its first byte, in its middle, before its last byte and
at a few line ends. Past a budget of states they are sampled with a fixed
seed: first the cuts and crash points where everything is kept, then the
points with pending operations, but for those whose operation became
pending itself or touched a file or folder with one pending: they are
always built.

    crash_states.py --library libbuslog_fs_record.so --root DIR [--logs GLOB]
                    [--ring GLOB --ring-files N --ring-bytes B]
                    [--budget N] [--seed S] [--name NAME] [--status 0,1] -- COMMAND...
"""
import argparse
import collections
import fnmatch
import os
import random
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading

NEVER = float("inf")


# ---- the recording


class Event:
    """One recorded call: its kind letter (see fs_record.c), the process
    and its count, the fields of the header, paths and bytes."""

    __slots__ = ("kind", "proc", "seq", "fields", "paths", "data")

    def __init__(self, datagram):
        head, _, rest = datagram.partition(b"\n")
        parts = head.decode().split(" ")
        self.kind = parts[0]
        self.proc = parts[1]
        self.seq = int(parts[2])
        self.fields = [int(p) for p in parts[3:]]
        self.paths = []
        self.data = b""
        if self.kind == "W":
            self.data = rest
        else:
            self.paths = [os.fsdecode(p) for p in rest.split(b"\n")[:-1]]


class Recorder:
    """Runs a command with the recording library preloaded and collects
    its events from a datagram socket."""

    def __init__(self, library, root):
        self.library = os.path.abspath(library)
        self.root = os.path.realpath(root)
        self.folder = tempfile.mkdtemp(prefix="buslog-rec-", dir="/tmp")
        self.address = os.path.join(self.folder, "events")
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
        self.socket.bind(self.address)
        self.socket.settimeout(0.05)
        self.events = []
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._receive, daemon=True)

    def _receive(self):
        while True:
            try:
                self.events.append(Event(self.socket.recv(1 << 17)))
            except socket.timeout:
                if self.stopping.is_set():
                    return

    def environment(self, env=None):
        environment = dict(os.environ)
        environment.update(env or {})
        preload = environment.get("LD_PRELOAD", "")
        environment["LD_PRELOAD"] = self.library + (" " + preload if preload else "")
        environment["BUSLOG_RECORD_ROOT"] = self.root
        environment["BUSLOG_RECORD_SOCKET"] = self.address
        # The sanitizers' runtime would insist on coming first.
        environment.setdefault("ASAN_OPTIONS", "verify_asan_link_order=0")
        return environment

    def run(self, command, env=None, cwd=None, preexec=None, stdin=None, timeout=120):
        """Runs `command`; returns its exit status and standard error."""
        def start(environment):
            done = subprocess.run(command, env=environment, cwd=cwd, preexec_fn=preexec, input=stdin,
                                  stdin=None if stdin is not None else subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=timeout)
            return done.returncode, done.stderr.decode(errors="replace")
        return self.run_with(start, env)

    def run_with(self, start, env=None):
        """Records while `start` runs, called with the environment that
        preloads the library; returns what `start` returns."""
        self.thread.start()
        try:
            return start(self.environment(env))
        finally:
            self.stopping.set()
            self.thread.join()
            self.socket.close()
            shutil.rmtree(self.folder, True)


def snapshot(root, logs):
    """The files under `root` before the run: {path: (device, inode,
    content)}, the content only for logs (other files are never read)."""
    files = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            st = os.lstat(path)
            content = b""
            if is_log(root, path, logs):
                with open(path, "rb") as f:
                    content = f.read()
            files[path] = (st.st_dev, st.st_ino, content)
    return files


def is_log(root, path, pattern):
    return fnmatch.fnmatch(os.path.relpath(path, root), pattern)


# ---- operations


class Op:
    """One operation in the model. kind: write, trunc, create, unlink,
    rename, fsync, dirsync, sync, close, failed. `inode` is the model's
    number for the file (a new one at each create, so that a number the
    system reuses is not confused). `durable` is the index of the operation
    from which on it is kept (NEVER: not in this run)."""

    __slots__ = ("kind", "inode", "paths", "offset", "data", "ok", "dsync", "length", "durable")

    def __init__(self, kind, inode=None, paths=(), offset=0, data=b"", ok=False, dsync=False, length=0):
        self.kind = kind
        self.inode = inode
        self.paths = list(paths)
        self.offset = offset
        self.data = data
        self.ok = ok
        self.dsync = dsync
        self.length = length
        self.durable = NEVER


def check_sequence(events):
    """Every process's events, counted from 0 without a gap: else the
    recording lost some."""
    seen = collections.defaultdict(list)
    for event in events:
        seen[event.proc].append(event.seq)
    for proc, numbers in seen.items():
        if numbers != list(range(len(numbers))):
            return "the recording of process %s has gaps: events lost" % proc
    return None


def operations(events, files):
    """The model's operations from the events, with the files there before
    the run. Returns (ops, (initial names {path: inode}, initial contents
    {inode: bytes}))."""
    by_identity = {}
    names = {}
    contents = {}
    counter = [0]

    def new_inode(identity):
        counter[0] += 1
        by_identity[identity] = counter[0]
        contents[counter[0]] = b""
        return counter[0]

    for path, (device, inode, content) in files.items():
        number = new_inode((device, inode))
        names[path] = number
        contents[number] = content
    initial = (dict(names), dict(contents))

    def inode_of(device, inode):
        return by_identity.get((device, inode)) or new_inode((device, inode))

    ops = []
    for e in events:
        f = e.fields
        if e.kind == "W":
            ops.append(Op("write", inode_of(f[0], f[1]), offset=f[2], data=e.data, ok=bool(f[4]),
                          dsync=bool(f[5])))
        elif e.kind == "E":
            ops.append(Op("failed", inode_of(f[0], f[1])))
        elif e.kind == "O":
            if f[2]:  # created
                ops.append(Op("create", new_inode((f[0], f[1])), paths=e.paths))
            else:
                number = inode_of(f[0], f[1])
                if f[3]:  # an existing file emptied
                    ops.append(Op("trunc", number, length=0))
        elif e.kind == "T":
            ops.append(Op("trunc", inode_of(f[0], f[1]), length=f[2]))
        elif e.kind == "S":
            ops.append(Op("fsync", inode_of(f[0], f[1])))
        elif e.kind == "D":
            ops.append(Op("dirsync", paths=e.paths))
        elif e.kind == "U":
            ops.append(Op("unlink", inode_of(f[0], f[1]), paths=e.paths))
        elif e.kind == "R":
            ops.append(Op("rename", inode_of(f[0], f[1]), paths=e.paths))
        elif e.kind == "C":
            ops.append(Op("close", inode_of(f[0], f[1])))
        elif e.kind == "G":
            ops.append(Op("sync"))
    return ops, initial


def settle_durability(ops):
    """Sets each operation's `durable` index by the model (backwards: the
    next sync of each file and folder after it)."""
    next_file = {}
    next_folder = {}
    next_all = NEVER
    for i in range(len(ops) - 1, -1, -1):
        op = ops[i]
        if op.kind == "write":
            op.durable = i if op.dsync else min(next_file.get(op.inode, NEVER), next_all)
        elif op.kind == "trunc":
            op.durable = min(next_file.get(op.inode, NEVER), next_all)
        elif op.kind in ("create", "unlink", "rename"):
            folders = {os.path.dirname(p) for p in op.paths}
            op.durable = min(max(next_folder.get(d, NEVER) for d in folders), next_all)
        else:
            op.durable = i
        if op.kind == "fsync":
            next_file[op.inode] = i
        elif op.kind == "dirsync":
            next_folder[op.paths[0]] = i
        elif op.kind == "sync":
            next_all = i


# ---- applying operations


def apply(op, names, contents, inode_content, part=None):
    """Applies `op` to a state: `names` {path: inode}, `contents` {inode:
    bytearray} (the inodes changed in this state; others are read through
    `inode_content`). `part`: only the first so many bytes of a write."""
    kind = op.kind
    if kind == "write":
        data = op.data if part is None else op.data[:part]
        content = contents.get(op.inode)
        if content is None:
            content = contents[op.inode] = bytearray(inode_content(op.inode))
        if len(content) < op.offset:
            content.extend(bytes(op.offset - len(content)))
        content[op.offset:op.offset + len(data)] = data
    elif kind == "trunc":
        content = contents.get(op.inode)
        if content is None:
            content = contents[op.inode] = bytearray(inode_content(op.inode))
        if len(content) > op.length:
            del content[op.length:]
        else:
            content.extend(bytes(op.length - len(content)))
    elif kind == "create":
        names[op.paths[0]] = op.inode
        contents.setdefault(op.inode, bytearray())
    elif kind == "unlink":
        if names.get(op.paths[0]) == op.inode:
            del names[op.paths[0]]
    elif kind == "rename":
        old, new = op.paths
        if names.get(old) == op.inode:
            del names[old]
            names[new] = op.inode


# ---- reading a log's lines

LOG_LINE = re.compile(rb"(\d{9,10}),\+[0-9.]{8}(?:,(.*))?\Z", re.S)
BUSLOG_MARKER = re.compile(rb"M,Marker  , *-,OK,buslog (.*)\Z", re.S)


def frame_lines(number, body):
    """A frame line carries a record after its time."""
    if number > 0 and body is None:
        return "a frame line without a record"
    return None


def marker_lines(number, body):
    """Frame number 0 is the writer's own line: a buslog marker."""
    if number == 0 and (body is None or not BUSLOG_MARKER.match(body)):
        return "frame number 0 but no buslog marker"
    return None


# The rules for each whole line of a log: each takes the line's frame number
# and the rest after its time (None when there is none) and returns what is
# wrong, or None.
LINE_CHECKS = [frame_lines, marker_lines]

# The rules for each state as a whole, beside the frames' (each once) and a
# case's own (a ring's limits): each takes the state's logs {path:
# ParsedLog} and returns a list of problems. The place for records that a
# log may carry about its own frames (lost frames, counts), read from the
# markers each ParsedLog keeps.
STATE_CHECKS = []


def read_line(line):
    """(frame number, the rest after the time or None, problem or None) of
    one whole line without its CR LF; frame number -1 for no log line."""
    match = LOG_LINE.match(line)
    if not match:
        return -1, None, "not a log line"
    number = int(match.group(1))
    body = match.group(2)
    for check in LINE_CHECKS:
        problem = check(number, body)
        if problem:
            return number, body, problem
    return number, body, None


class ParsedLog:
    """A log's whole lines read once and kept per file: a state that
    shares a prefix of whole lines with the last one read reads only what
    follows it."""

    __slots__ = ("data", "ends", "numbers", "frame_count", "markers", "errors", "version")

    def __init__(self):
        self.version = None     # the base's version of the file read last, None: a state's own
        self.data = b""
        self.ends = []          # offset after each whole line's CR LF
        self.numbers = []       # frame numbers of the frame lines, in order
        self.frame_count = [0]  # frame lines among the first k lines
        self.markers = []       # (line index, the text after "buslog ") of the buslog markers
        self.errors = []        # (line index, offset, problem)

    def update(self, content):
        """Reads `content` (bytes), reusing the longest prefix of whole
        lines it shares with what was read before."""
        ends = self.ends
        keep = 0
        if ends:
            last = ends[-1]
            if len(content) >= last and content[:last] == self.data[:last]:
                keep = len(ends)
            else:
                low, high = 0, len(ends)
                while low < high:
                    middle = (low + high + 1) // 2
                    end = ends[middle - 1]
                    if len(content) >= end and content[:end] == self.data[:end]:
                        low = middle
                    else:
                        high = middle - 1
                keep = low
        del ends[keep:]
        del self.numbers[self.frame_count[keep]:]
        del self.frame_count[keep + 1:]
        self.errors = [e for e in self.errors if e[0] < keep]
        self.markers = [m for m in self.markers if m[0] < keep]
        start = ends[-1] if ends else 0
        while True:
            end = content.find(b"\r\n", start)
            if end < 0:
                break
            number, body, problem = read_line(content[start:end])
            if problem:
                self.errors.append((len(ends), start, problem))
            elif number == 0:
                self.markers.append((len(ends), BUSLOG_MARKER.match(body).group(1)))
            if number > 0:
                self.numbers.append(number)
            ends.append(end + 2)
            self.frame_count.append(len(self.numbers))
            start = end + 2
        self.data = content

    def whole_end(self):
        return self.ends[-1] if self.ends else 0


# ---- the run seen through its recording


class Timeline:
    """The run as it happened (every operation applied): which frames were
    reported logged by which operation, and when each file lost its last
    name."""

    def __init__(self, ops, initial, root, logs):
        names, contents = dict(initial[0]), {k: bytearray(v) for k, v in initial[1].items()}
        self.reported = []       # (op index, frame number, inode)
        self.never_durable = 0   # lines written but never made durable
        self.unlinked_at = {}    # inode: index of the operation that took its last name
        path_of = {inode: path for path, inode in names.items()}  # each file's latest name
        touched = collections.defaultdict(list)  # inode: its writes and truncations so far
        for i, op in enumerate(ops):
            if op.kind == "trunc" and not contents.get(op.inode) and op.length == 0 and \
                    all(o.durable <= i for o in touched[op.inode]):
                # Cuts nothing in any state (an empty new file opened
                # O_TRUNC): kept at once, so that it never holds back the
                # states after it.
                op.durable = i
            if op.kind in ("write", "trunc"):
                touched[op.inode].append(op)
            replaced = names.get(op.paths[1]) if op.kind == "rename" else None
            apply(op, names, contents, lambda inode: b"")
            if op.kind in ("create", "rename"):
                path_of[op.inode] = op.paths[-1]
            for gone in (op.inode if op.kind == "unlink" else None, replaced):
                if gone is not None and gone not in names.values():
                    self.unlinked_at.setdefault(gone, i)
            if op.kind == "write" and op.ok and op.inode in path_of and is_log(root, path_of[op.inode], logs):
                self._note_frames(op, contents[op.inode])
        # In the order they became durable: a write to a file opened
        # O_DSYNC when it returned, any other once its file was synced.
        self.reported.sort(key=lambda r: r[0])
        self.final_names = names
        self.final_contents = contents
        self.path_of = path_of

    def _note_frames(self, op, content):
        """The frames whose line's CR LF this successful write carried,
        reported logged once the write is durable."""
        if op.durable == NEVER:
            self.never_durable += op.data.count(b"\r\n")
            return
        index = op.durable
        at = op.data.find(b"\r\n")
        while at >= 0:
            end = op.offset + at
            previous = content.rfind(b"\r\n", 0, end)
            start = previous + 2 if previous >= 0 else 0
            number = read_line(bytes(content[start:end]))[0]
            if number > 0:
                self.reported.append((index, number, op.inode))
            at = op.data.find(b"\r\n", at + 2)


# ---- states


def choices_of(pending, rng, limit=16):
    """Which of the pending operations are there: every combination when
    they are few, else all, none, each one missing, each one alone, and
    random ones up to `limit`."""
    count = len(pending)
    if count == 0:
        return [frozenset()]
    if (1 << count) <= limit:
        return [frozenset(p for bit, p in enumerate(pending) if mask >> bit & 1) for mask in range(1 << count)]
    full = frozenset(pending)
    picked = {full, frozenset()}
    for p in pending:
        if len(picked) + 2 > limit:
            break
        picked.update((full - {p}, frozenset((p,))))
    while len(picked) < limit:
        picked.add(frozenset(p for p in pending if rng.random() < 0.5))
    return sorted(picked, key=sorted)


def cuts_of(op, rng):
    """Prefixes of the write in flight that may be on the device: its
    first byte, its middle, all but its last byte, and a few line ends."""
    size = len(op.data)
    cuts = {1, size // 2, size - 1}
    ends = []
    at = op.data.find(b"\r\n")
    while 0 <= at < size - 2:
        ends.append(at + 2)
        at = op.data.find(b"\r\n", at + 2)
    cuts.update(rng.sample(ends, min(3, len(ends))))
    return sorted(c for c in cuts if 0 < c < size)


def describe(op, root, path_of):
    """The operation in words, e.g. "write of 71 bytes at 16184 to
    run.buslog"; `path_of` names each file by its latest path."""
    def short(path):
        return os.path.relpath(path, root)
    where = short(path_of[op.inode]) if op.inode in path_of else "a file"
    if op.kind == "write":
        return "write of %d bytes at %d to %s%s" % (len(op.data), op.offset, where, "" if op.ok else " (short)")
    if op.kind == "failed":
        return "failed write to %s" % where
    if op.kind == "trunc":
        return "truncation of %s to %d" % (where, op.length)
    if op.kind in ("fsync", "close"):
        return "%s of %s" % ("sync" if op.kind == "fsync" else "close", where)
    if op.kind in ("create", "unlink"):
        return "%s %s" % (op.kind, short(op.paths[0]))
    if op.kind == "rename":
        return "rename %s to %s" % (short(op.paths[0]), short(op.paths[1]))
    if op.kind == "dirsync":
        return "sync of the folder %s" % (short(op.paths[0]) or ".")
    return op.kind


class Checker:
    """Builds and checks the states of one recorded run."""

    def __init__(self, root, logs, ops, initial, timeline, state_checks=(), budget=4000, seed=29):
        self.root = root
        self.logs = logs
        self.ops = ops
        self.initial = initial
        self.timeline = timeline
        self.state_checks = list(state_checks)
        self.budget = budget
        self.rng = random.Random(seed)
        self.parsed = collections.defaultdict(ParsedLog)
        self.log_paths = {}
        self.failures = []
        self.states = 0
        self.points = 0
        self.stopped = False

    def is_log(self, path):
        known = self.log_paths.get(path)
        if known is None:
            known = self.log_paths[path] = is_log(self.root, path, self.logs)
        return known

    def plan(self):
        """What to build: [point, pending, choices, cuts] for each crash
        point (-1: before the first operation). Past the budget, the points
        where nothing is pending are sampled, and so are their cuts; the
        others are all built."""
        ops = self.ops
        plans = []
        first = 0
        for point in range(-1, len(ops)):
            while first <= point and ops[first].durable <= point:
                first += 1
            pending = [i for i in range(first, point + 1) if ops[i].durable > point]
            flight = ops[point + 1] if point + 1 < len(ops) else None
            cuts = [0]
            if flight is not None and flight.kind == "write" and len(flight.data) > 1:
                cuts += cuts_of(flight, self.rng)
            plans.append([point, pending, choices_of(pending, self.rng), cuts])
        busy = [p for p in plans if p[1]]
        quiet = [p for p in plans if not p[1]]
        cost = sum(len(p[2]) * len(p[3]) for p in plans)
        if cost <= self.budget:
            return plans
        # A quarter of the budget at least for the points where all is
        # kept: sampled, each with its uncut state and one cut.
        busy_cost = sum(len(p[2]) * len(p[3]) for p in busy)
        room = max(self.budget - busy_cost, self.budget // 4)
        kept = set(self.rng.sample(range(len(quiet)), min(len(quiet), room // 2)))
        for n, p in enumerate(quiet):
            p[3] = ([0, self.rng.choice(p[3][1:])] if len(p[3]) > 1 else [0]) if n in kept else []
        room = self.budget - room
        if busy_cost > room:
            # The pending points: no cuts, and past the budget only those
            # where something new became pending, and a sample of the rest.
            for p in busy:
                p[3] = [0]
            if sum(len(p[2]) for p in busy) > room:
                fresh = [p for p in busy if self.fresh(p[0], p[1])]
                rest = [p for p in busy if not self.fresh(p[0], p[1])]
                left = max(room - sum(len(p[2]) for p in fresh), 0)
                average = max(sum(len(p[2]) for p in rest) // max(len(rest), 1), 1)
                sampled = set(self.rng.sample(range(len(rest)), min(len(rest), left // average)))
                for n, p in enumerate(rest):
                    if n not in sampled:
                        p[2] = []
        return plans

    def fresh(self, point, pending):
        """Whether the operation at `point` became pending itself or
        touched a file or folder that has a pending operation: the points
        that sampling keeps."""
        op = self.ops[point]
        if pending[-1] == point:
            return True
        touched = {self.ops[i].inode for i in pending} | {os.path.dirname(p) for i in pending
                                                          for p in self.ops[i].paths}
        return op.inode in touched or any(p in touched for p in op.paths)

    def run(self, stop_after=100):
        """Builds and checks the planned states; stops after `stop_after`
        failing ones. Returns True when all passed."""
        ops = self.ops
        names = dict(self.initial[0])
        base = {k: bytearray(v) for k, v in self.initial[1].items()}
        versions = collections.Counter()  # changes to each file of the base
        applied = 0  # operations [0, applied) are in the base
        reported = self.timeline.reported
        unlinked_at = self.timeline.unlinked_at
        next_report = 0
        required = {}    # frame: inode, for frames whose file still has its name
        by_inode = collections.defaultdict(list)
        allowed = set()  # frames of files that lost their name: at most once
        unlinked = sorted((i, inode) for inode, i in unlinked_at.items())
        next_unlink = 0
        # Files in the middle of a write that came back short: from the
        # first short write() through the failures, the take-back and its
        # sync, up to the next other operation on the file. A power cut
        # there may leave the cut part at the file's end, as it may leave a
        # part of any write in flight. {inode: offset where the part begins}
        unfinished = {}

        def base_content(inode):
            return base.get(inode, b"")

        for point, pending, choices, cuts in self.plan():
            self.points += 1
            # The base: every operation before the first pending one.
            first = pending[0] if pending else point + 1
            while applied < first:
                apply(ops[applied], names, base, base_content)
                versions[ops[applied].inode] += 1
                applied += 1
            # What the run had reported logged by this point.
            while next_report < len(reported) and reported[next_report][0] <= point:
                _, number, inode = reported[next_report]
                if unlinked_at.get(inode, NEVER) <= point:
                    allowed.add(number)
                else:
                    required[number] = inode
                    by_inode[inode].append(number)
                next_report += 1
            while next_unlink < len(unlinked) and unlinked[next_unlink][0] <= point:
                for number in by_inode.pop(unlinked[next_unlink][1], ()):
                    required.pop(number, None)
                    allowed.add(number)
                next_unlink += 1
            if point >= 0:
                op = ops[point]
                if op.kind == "write" and not op.ok:
                    unfinished.setdefault(op.inode, op.offset)
                elif op.kind not in ("failed", "trunc", "fsync"):
                    unfinished.pop(op.inode, None)
            flight = ops[point + 1] if point + 1 < len(ops) else None
            window = ops[first:point + 1]
            for chosen in choices:
                for cut in cuts:
                    state = dict(names)
                    changed = {}
                    for i, op in enumerate(window, first):
                        if op.durable <= point or i in chosen:
                            apply(op, state, changed, base_content)
                    if cut:
                        apply(flight, state, changed, base_content, part=cut)
                    self.states += 1
                    problems = self.check(state, changed, base, versions, required,
                                          (flight, cut) if cut else None, unfinished)
                    if problems:
                        self.failures.append((point, pending, chosen, cut, problems))
                        if len(self.failures) >= stop_after:
                            self.stopped = True
                            return False
        return not self.failures

    def check(self, names, changed, base, versions, required, flight, unfinished):
        """The problems of one state: `names` {path: inode}, the contents
        `changed` in it over those of `base`; `flight` the write in flight
        and how much of it is there, or None; `unfinished` the files in the
        middle of a short write."""
        problems = []
        frames = []
        logs = {}
        for path, inode in names.items():
            if not self.is_log(path):
                continue
            log = self.parsed[inode]
            content = changed.get(inode)
            if content is not None:
                log.update(bytes(content))
                log.version = None
            elif log.version != versions[inode]:
                log.update(bytes(base.get(inode, b"")))
                log.version = versions[inode]
            content = log.data
            logs[path] = log
            for line, offset, problem in log.errors[:2]:
                problems.append("%s line %d (byte %d): %s: %r" % (
                    os.path.relpath(path, self.root), line + 1, offset, problem, content[offset:offset + 60]))
            end = log.whole_end()
            if end < len(content):
                # A cut line may end the file only where a write in flight
                # stopped, within that write's bytes, or within a write that
                # came back short and is still being dealt with.
                explained = (flight is not None and flight[0].inode == inode and end >= flight[0].offset and
                             len(content) == flight[0].offset + flight[1]) or \
                    end >= unfinished.get(inode, NEVER)
                if not explained:
                    problems.append("%s ends in a cut line that no write in flight explains: %r" % (
                        os.path.relpath(path, self.root), content[end:end + 60]))
            frames += log.numbers
        present = set(frames)
        if len(present) != len(frames):
            twice = sorted(n for n, k in collections.Counter(frames).items() if k > 1)
            problems.append("frames logged twice: %s" % ranges(twice))
        missing = required.keys() - present
        if missing:
            problems.append("frames reported logged but missing: %s" % ranges(sorted(missing)))
        for check in STATE_CHECKS + self.state_checks:
            problems += check(logs)
        return problems

    def report(self, out, shown=3):
        """Writes the first failing state of each kind of problem, up to
        `shown` of them."""
        ops = self.ops
        kinds = set()
        picked = []
        for failure in self.failures:
            kind = tuple(sorted(re.sub(r"[:\d].*", "", p) for p in failure[4]))
            if kind not in kinds and len(picked) < shown:
                kinds.add(kind)
                picked.append(failure)
        out.write("  %d%s failing states; the first of each kind:\n" % (
            len(self.failures), " or more" if self.stopped else ""))
        def said(i):
            return describe(ops[i], self.root, self.timeline.path_of)

        for point, pending, chosen, cut, problems in picked:
            where = "before the first operation" if point < 0 else "after operation %d, %s" % (point, said(point))
            out.write("  crash %s\n" % where)
            for i in pending:
                out.write("    not yet durable: operation %d, %s: %s\n" % (
                    i, said(i), "done" if i in chosen else "undone by the power cut"))
            if cut:
                out.write("    in flight: %s, %d bytes of it there\n" % (said(point + 1), cut))
            for problem in problems:
                out.write("    %s\n" % problem)


def ranges(numbers):
    parts = []
    for n in numbers:
        if parts and parts[-1][1] + 1 == n:
            parts[-1][1] = n
        else:
            parts.append([n, n])
    text = ", ".join(str(a) if a == b else "%d-%d" % (a, b) for a, b in parts[:8])
    return text + (", ..." if len(parts) > 8 else "")


# ---- checks a case adds


def ring_limits(root, pattern, max_files=0, max_bytes=0):
    """A ring of files matching `pattern` never holds more than `max_files`
    files or `max_bytes` bytes in any state."""
    def check(logs):
        ring = [len(log.data) for p, log in logs.items() if fnmatch.fnmatch(os.path.relpath(p, root), pattern)]
        problems = []
        if max_files and len(ring) > max_files:
            problems.append("the ring holds %d files, more than %d" % (len(ring), max_files))
        if max_bytes and sum(ring) > max_bytes:
            problems.append("the ring holds %d bytes, more than %d" % (sum(ring), max_bytes))
        return problems
    return check


# ---- one case


def check_recording(root, logs, files, events):
    """The recording against what the run left: the replayed logs must be
    the files on the disk, else the recording missed an operation."""
    gap = check_sequence(events)
    if gap:
        return None, gap
    ops, initial = operations(events, files)
    settle_durability(ops)
    timeline = Timeline(ops, initial, root, logs)
    on_disk = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            if is_log(root, path, logs):
                with open(path, "rb") as f:
                    on_disk[path] = f.read()
    replayed = {p: bytes(timeline.final_contents[i]) for p, i in timeline.final_names.items() if is_log(root, p, logs)}
    if on_disk != replayed:
        wrong = sorted(set(on_disk) ^ set(replayed)) or [p for p in on_disk if on_disk[p] != replayed[p]]
        return None, "the recording does not replay to the files left: %s" % ", ".join(
            os.path.relpath(p, root) for p in wrong[:4])
    return (ops, initial, timeline), None


def run_case(name, command, root, library, logs="*", state_checks=(), env=None, cwd=None, preexec=None,
             stdin=None, budget=4000, seed=29, expect_status=(0,), during=None, out=sys.stdout):
    """Runs `command` under the recording library and checks every state
    of its run. `during`, if given, is called with the running recorder's
    environment instead of running `command` itself (for a case that must
    do something while the command runs): it returns (status, stderr).
    Prints one line for the case, and the failing states. Returns True
    when every state passed."""
    root = os.path.realpath(root)
    files = snapshot(root, logs)
    recorder = Recorder(library, root)
    if during is None:
        status, err = recorder.run(command, env=env, cwd=cwd, preexec=preexec, stdin=stdin)
    else:
        status, err = recorder.run_with(during, env)
    if status not in expect_status:
        out.write("%s: FAILED: the run ended with status %s:\n%s\n" % (name, status, err[-2000:]))
        return False
    model, problem = check_recording(root, logs, files, recorder.events)
    if problem:
        out.write("%s: FAILED: %s\n" % (name, problem))
        return False
    ops, initial, timeline = model
    if timeline.never_durable:
        out.write("%s: FAILED: %d lines were written to logs and never made durable (no O_DSYNC, no sync "
                  "after them)\n" % (name, timeline.never_durable))
        return False
    checker = Checker(root, logs, ops, initial, timeline, state_checks, budget, seed)
    passed = checker.run()
    frames = len({n for _, n, _ in timeline.reported})
    summary = "%d operations, %d frames reported logged, %d crash points, %d states" % (
        len(ops), frames, checker.points, checker.states)
    if passed:
        out.write("%s: ok: %s\n" % (name, summary))
    else:
        out.write("%s: FAILED after %s:\n" % (name, summary))
        checker.report(out)
    out.flush()
    return passed


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--library", required=True, help="the recording library (libbuslog_fs_record.so)")
    parser.add_argument("--root", required=True, help="the folder whose files the command writes")
    parser.add_argument("--logs", default="*", help="pattern of the logs, relative to the root")
    parser.add_argument("--ring", help="pattern of a ring's files")
    parser.add_argument("--ring-files", type=int, default=0)
    parser.add_argument("--ring-bytes", type=int, default=0)
    parser.add_argument("--budget", type=int, default=4000, help="about how many states to check")
    parser.add_argument("--seed", type=int, default=29)
    parser.add_argument("--name", default="run")
    parser.add_argument("--status", default="0", help="the command's exit statuses that are right, e.g. 0,1")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command")
    checks = []
    if args.ring:
        checks.append(ring_limits(os.path.realpath(args.root), args.ring, args.ring_files, args.ring_bytes))
    statuses = tuple(int(s) for s in args.status.split(","))
    ok = run_case(args.name, command, args.root, args.library, args.logs, checks, budget=args.budget,
                  seed=args.seed, expect_status=statuses)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
