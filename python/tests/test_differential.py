"""Both readers over the same logs: the python reader (iter_records) and the
C++ reader (buslog-host convert --to jsonl) find the same frames on the same
lines. Only frames are compared: marker lines and other records may be
read into more fields by one reader than by the other."""

import json
import os
import random
import shutil
import subprocess

import can
import pytest

import buslog
from buslog.reader import FD_LENGTHS, iter_records
from frames import TRACE, read_trace
from test_replay import SHARED_DATA, replay, shared_traces

REPO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


# Lines of the C++ reader's frames on a channel without a name in a log
# with marker lines, which the python reader gives channel None.
UNNAMED = set()


def cpp_frames(host_path, log):
    """{line number: frame} of the C++ reader."""
    done = subprocess.run([host_path, "convert", str(log), "--to", "jsonl"], capture_output=True, check=True)
    frames = {}
    UNNAMED.clear()
    for text in done.stdout.decode("utf-8", "replace").splitlines():
        line = json.loads(text)
        if line.get("record") != "can" or line.get("complete") is False:
            continue
        frame_type = line["frame_type"]
        size = len(line.get("data", "")) // 2
        nibble = line["dlc"]
        # A can.Message's dlc: the requested length of a remote frame, else
        # the number of data bytes, but the nibble 9 to F of 8 bytes ("_X").
        dlc = nibble if frame_type == "remote" or (frame_type != "fd" and size == 8 and nibble > 8) else size
        if "abs_time" in line and "interface" not in line and line["channel"] is not None:
            UNNAMED.add(line["line"])
        frames[line["line"]] = (
            line.get("frame"), frame_type,
            line["error_class"] if frame_type == "error" else line["id"],
            line["extended"] or frame_type == "error",
            line.get("data", ""),
            dlc,
            line.get("fd_flags", 0) & 3,
            line["kind"] != "O",
            line["channel"],
        )
    return frames


def python_frames(log):
    """{line number: frame} of the python reader, in the same terms."""
    frames = {}
    for record in iter_records(str(log)):
        if record.kind != "frame":
            continue
        m = record.message
        frame_type = "error" if m.is_error_frame else "remote" if m.is_remote_frame else "fd" if m.is_fd else "data"
        frames[record.line_number] = [
            record.frame_number, frame_type, m.arbitration_id, m.is_extended_id, bytes(m.data).hex().upper(), m.dlc,
            (1 if m.bitrate_switch else 0) | (2 if m.error_state_indicator else 0), m.is_rx, record.channel]
    return frames


def assert_same_frames(host_path, log, names_fixed=True):
    cpp = cpp_frames(host_path, log)
    ours = python_frames(log)
    assert sorted(ours) == sorted(cpp), "the readers find frames on different lines"
    # A channel the python reader names (from a buslog channel marker) is
    # one channel number of the C++ reader, and the other way round.
    names = {}
    for number, frame in ours.items():
        channel = frame[-1]
        if channel is None and number in UNNAMED:
            frame[-1] = cpp[number][-1]
        elif channel is None or (isinstance(channel, int) and channel + 1 == cpp[number][-1]):
            frame[-1] = None if channel is None else channel + 1
        else:
            # A name (a name of digits reads back as a number).
            if names_fixed:
                assert names.setdefault(cpp[number][-1], channel) == channel, number
            frame[-1] = cpp[number][-1]
        assert tuple(frame) == cpp[number], f"line {number}"
    assert len(set(names.values())) == len(names)
    return len(ours)


def test_trace_replayed(tmp_path, host_path, module_copy):
    trace = tmp_path / "trace.log"
    trace.write_text(TRACE)
    log = tmp_path / "replay.buslog"
    log.write_bytes(replay(host_path, module_copy, trace))
    assert assert_same_frames(host_path, log) == len(TRACE.splitlines())


def test_trace_through_the_python_writer(tmp_path, host_path):
    trace = tmp_path / "trace.log"
    trace.write_text(TRACE)
    log = tmp_path / "run.buslog"
    with can.Logger(str(log)) as writer:
        for message in read_trace(str(trace)):
            writer(message)
    assert assert_same_frames(host_path, log) == len(TRACE.splitlines())


def test_rules_file(host_path):
    assert assert_same_frames(host_path, os.path.join(REPO, "tests", "reader", "expected", "rules.log")) > 0


def test_demo_logs(tmp_path, host_path):
    subprocess.run([host_path, "demo", "--quiet"], cwd=tmp_path, check=True, capture_output=True)
    logs = sorted(name for name in os.listdir(tmp_path) if name.endswith(".buslog"))
    assert logs
    for name in logs:
        assert_same_frames(host_path, tmp_path / name)


@pytest.fixture
def module_in_memory(module_path, memory_path):
    """A copy of the module on tmpfs, where buslog-host replay's log beside
    it does not wait for a disk's syncs."""
    folder = memory_path / "module"
    folder.mkdir()
    copy = folder / os.path.basename(module_path)
    shutil.copyfile(module_path, copy)
    return str(copy)


@pytest.mark.skipif(not shared_traces(".log"), reason="no real candump traces in ../shared/data")
@pytest.mark.parametrize("name", shared_traces(".log"))
def test_real_trace_replayed(memory_path, host_path, module_in_memory, name):
    log = memory_path / "replay.buslog"
    log.write_bytes(replay(host_path, module_in_memory, os.path.join(SHARED_DATA, name)))
    assert assert_same_frames(host_path, log) > 0


def random_message(rng):
    form = rng.randrange(5)
    extended = rng.random() < 0.5
    identifier = rng.randrange(0x20000000 if extended else 0x800)
    if form == 0:
        size = rng.randrange(9)
        dlc = rng.randrange(9, 16) if size == 8 and rng.random() < 0.3 else size
        return can.Message(arbitration_id=identifier, is_extended_id=extended, data=rng.randbytes(size), dlc=dlc,
                           check=False)
    if form == 1:
        return can.Message(arbitration_id=identifier, is_extended_id=extended, is_remote_frame=True,
                           dlc=rng.randrange(16), check=False)
    if form == 2:
        return can.Message(arbitration_id=identifier, is_extended_id=extended, is_fd=True,
                           bitrate_switch=rng.random() < 0.5, error_state_indicator=rng.random() < 0.5,
                           data=rng.randbytes(rng.choice(FD_LENGTHS)), check=False)
    if form == 3:
        return can.Message(arbitration_id=rng.randrange(0x20000000), is_error_frame=True,
                           data=rng.randbytes(rng.randrange(9)), check=False)
    return can.Message(arbitration_id=identifier, is_extended_id=extended, is_fd=True,
                       data=rng.randbytes(rng.randrange(65)), check=False)


@pytest.mark.parametrize("seed", range(3))
def test_random_logs_and_their_damaged_lines(memory_path, host_path, seed):
    rng = random.Random(seed)
    log = memory_path / "random.buslog"
    channels = ["can0", "can1", 0, 5, None, "vcan 2"]
    time = 1700000000.0
    with can.Logger(str(log)) as writer:
        for index in range(3000):
            message = random_message(rng)
            time += rng.random() * 0.01
            message.timestamp = time
            message.channel = rng.choice(channels)
            message.is_rx = rng.random() < 0.7
            writer(message)
    assert assert_same_frames(host_path, log) == 3000

    # The same lines with bytes changed, cut, doubled or put in: whatever
    # each line becomes, both readers read it alike.
    lines = log.read_bytes().split(b"\r\n")[:-1]
    alphabet = b"0123456789ABCDEFabcdefx,+.- \x00RTFDNGOK()=:E\r"
    damaged = []
    for line in lines:
        line = bytearray(line)
        for _ in range(rng.randrange(1, 4)):
            at = rng.randrange(len(line) + 1)
            action = rng.randrange(4)
            if action == 0 and at < len(line):
                line[at] = rng.choice(alphabet)
            elif action == 1:
                del line[at:at + rng.randrange(1, 4)]
            elif action == 2:
                line[at:at] = bytes([rng.choice(alphabet)])
            else:
                line[at:at] = line[at:at + rng.randrange(1, 20)]
        damaged.append(bytes(line))
    bad = memory_path / "damaged.buslog"
    bad.write_bytes(b"".join(line + b"\r\n" for line in damaged))
    # (A damaged channel marker may rename a channel.)
    assert assert_same_frames(host_path, bad, names_fixed=False) > 0
