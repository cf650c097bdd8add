"""python-can and Python's json read what `buslog-host convert` writes.

Run by CTest through run_python_checks.sh with BUSLOG_HOST (the native
buslog-host) and BUSLOG_SOURCE (the project) in the environment; every
file goes into pytest's temporary folders.
"""
import json
import os
import random
import subprocess
from pathlib import Path

import can
import pytest

HOST = os.environ["BUSLOG_HOST"]
SOURCE = Path(os.environ["BUSLOG_SOURCE"])
SHARED = SOURCE.parent / "shared" / "data"

FD_LENGTHS = [0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64]


def host(*args):
    done = subprocess.run([HOST, *map(str, args)], capture_output=True)
    assert done.returncode == 0, done.stderr.decode(errors="replace")
    return done


def python_can_trace(path):
    """A candump trace of every form python-can's candump reader takes
    (all but the _X length codes): data of every length, remote frames with
    and without a length, CAN FD of every length with flags 0 to 3, error
    frames, two interfaces and R/T marks."""
    rng = random.Random(12)
    lines = []
    micros = 1700000000 * 1000000
    for i in range(400):
        ext = rng.random() < 0.3
        ident = rng.randrange(0x20000000 if ext else 0x800)
        ident_text = f"{ident:08X}" if ext else f"{ident:03X}"
        form = i % 5 if i < 100 else rng.randrange(5)
        if form == 0:
            frame = ident_text + "#" + os.urandom(0).hex() + "".join(f"{rng.randrange(256):02X}" for _ in range(i % 9))
        elif form == 1:
            frame = ident_text + "#R" + (str(i % 9) if i % 2 else "")
        elif form == 2:
            frame = ident_text + "##" + str(i % 4) + "".join(
                f"{rng.randrange(256):02X}" for _ in range(FD_LENGTHS[i % 16]))
        elif form == 3:
            error_class = (0x80 | rng.randrange(0x80)) if i % 2 else rng.randrange(1, 0x80)
            frame = f"{0x20000000 | error_class:08X}#" + "".join(f"{rng.randrange(256):02X}" for _ in range(8))
        else:
            frame = ident_text + "#" + "".join(f"{rng.randrange(256):02X}" for _ in range(8))
        mark = ["", " R", " T"][i % 3]
        lines.append(f"({micros // 1000000}.{micros % 1000000:06d}) can{i % 2} {frame}{mark}\n")
        micros += rng.randrange(100, 5000)
    path.write_text("".join(lines))


def first_time_and_interfaces(trace):
    names = []
    first = None
    for line in trace.read_text().splitlines():
        parts = line.split()
        if len(parts) < 3 or not parts[0].startswith("("):
            continue
        first = first or parts[0][1:-1]
        if parts[1] not in names:
            names.append(parts[1])
    return first, names


def convert_trace(trace, name, out_dir):
    """Replays `trace`, converts the log back to candump; returns its path."""
    log = out_dir / f"py-{name}.buslog"
    host("replay", trace, "--output", log, "--quiet", "--overwrite")
    first, names = first_time_and_interfaces(trace)
    out = out_dir / f"{name}.log"
    host("convert", log, "--to", "candump", "--start", first, "--interfaces", ",".join(names),
         "--direction", "--output", out)
    return out, names


def channel_index(channel, names):
    return names.index(channel) if isinstance(channel, str) else channel


def assert_same_messages(expected, got, names, what):
    assert len(got) == len(expected), what
    for i, (a, b) in enumerate(zip(expected, got)):
        where = f"{what}: message {i + 1}: {a} against {b}"
        assert abs(a.timestamp - b.timestamp) < 2e-6, where
        assert a.is_error_frame == b.is_error_frame, where
        # python-can's candump reader gives error frames no channel.
        if a.channel is not None and b.channel is not None:
            assert channel_index(a.channel, names) == channel_index(b.channel, names), where
        if a.is_error_frame:
            continue
        assert (a.arbitration_id, a.is_extended_id, a.is_remote_frame, a.is_fd, a.dlc) == \
               (b.arbitration_id, b.is_extended_id, b.is_remote_frame, b.is_fd, b.dlc), where
        assert (a.bitrate_switch, a.error_state_indicator, a.is_rx) == \
               (b.bitrate_switch, b.error_state_indicator, b.is_rx), where
        assert bytes(a.data) == bytes(b.data), where


TRACES = ["generated", "camaro", "civic"]


@pytest.mark.parametrize("name", TRACES)
def test_python_can_reads_the_converted_trace(name, tmp_path):
    if name == "generated":
        trace = tmp_path / "trace.log"
        python_can_trace(trace)
    else:
        trace = SHARED / {"camaro": "noeculog.log", "civic": "candump-2023-01-19_131743.log"}[name]
        if not trace.exists():
            pytest.skip(f"{trace} is not here")
    converted, names = convert_trace(trace, name, tmp_path)
    original = list(can.LogReader(str(trace)))
    assert_same_messages(original, list(can.LogReader(str(converted))), names, "candump")
    for source, stem in ((converted, name), (trace, name + "-original")):
        for suffix in (".blf", ".asc"):
            target = tmp_path / (stem + suffix)
            done = subprocess.run(["/usr/bin/python3", "-m", "can.logconvert", str(source), str(target)],
                                  capture_output=True)
            assert done.returncode == 0, done.stderr.decode(errors="replace")
            assert target.stat().st_size > 0
    # BLF keeps its start time in milliseconds, so the original goes through
    # BLF too: both must give the same messages.
    assert_same_messages(list(can.LogReader(str(tmp_path / (name + "-original.blf")))),
                         list(can.LogReader(str(tmp_path / (name + ".blf")))), names, "BLF")


def logs_of_every_kind(tmp_path):
    """The demo's logs, the host tests' expected logs, and a log with
    oversize lines, NUL bytes and bytes outside ASCII."""
    logs = sorted((SOURCE / "tests" / "host" / "expected").glob("*.log"))
    ragged = tmp_path / "oversize.log"
    ragged.write_bytes(
        b"000000001,+0.000000,M,Marker  , -,OK,caf\xc3\xa9 \x00 \x01 \"q\" \\ \x7f\xff\r\n"
        b"000000002,+0.000001,E,Env     , 1,OK,N,\"a,\"b\",(0:ERR=0000001F)\r\n"
        + b"000000003,+0.000002,M,Marker  , -,OK," + b"x" * 5000 + b"\r\n"
        + b"y" * 70000 + b"\n"
        + b"\xfe\xff junk\n"
        + b"000000004,+0.000003,I,CAN     , 1,OK,0,1,23,2,AA,BB")
    return logs + [ragged]


def test_every_jsonl_line_is_json(tmp_path):
    seen_records = set()
    for log in logs_of_every_kind(tmp_path):
        out = tmp_path / (log.stem + ".jsonl")
        host("convert", log, "--to", "jsonl", "--output", out)
        raw_lines = log.read_bytes().split(b"\n")
        if raw_lines[-1] == b"":
            raw_lines.pop()
        objects = [json.loads(line) for line in out.read_text(encoding="ascii").splitlines()]
        assert len(objects) == len(raw_lines), log
        for number, (obj, raw) in enumerate(zip(objects, raw_lines), start=1):
            assert obj["line"] == number
            seen_records.add(obj.get("record", obj["form"]))
            # Free text comes back byte for byte: each \u00XX is one byte.
            for key in ("text", "name", "value"):
                if key in obj:
                    assert obj[key].encode("latin-1") in raw, (log, number, key)
    assert {"can", "lin", "cxpi", "port", "env", "marker", "generic", "error", "text", "empty"} <= seen_records


def test_jsonl_fields_are_typed(tmp_path):
    log = SOURCE / "tests" / "host" / "expected" / "demo-can.log"
    out = tmp_path / "demo.jsonl"
    host("convert", log, "--to", "jsonl", "--output", out)
    every = [json.loads(line) for line in out.read_text().splitlines()]
    # The log's own marker lines say when and what; then come the frames.
    markers = [obj for obj in every if "buslog" in obj]
    assert [(obj["buslog"], obj["frame"]) for obj in markers] == [("start", 0), ("writer", 0), ("channel", 0),
                                                                 ("channel", 0)]
    assert (markers[0]["start"], markers[0]["start_time"]) == ("2023-11-14T22:13:20.000000Z", 1700000000.0)
    assert [(obj["names_channel"], obj["interface"]) for obj in markers[2:]] == [(1, "can0"), (2, "can1")]
    objects = [obj for obj in every if "buslog" not in obj]
    first = objects[0]
    assert (first["frame"], first["time"], first["channel"], first["id"], first["data"]) == (1, 0.0, 1, 0x123,
                                                                                           "DEADBEEF")
    assert (first["abs_time"], first["interface"]) == (1700000000.0, "can0")
    fd = objects[5]
    assert (fd["frame_type"], fd["fd_flags"], fd["dlc"], len(fd["data"])) == ("fd", 1, 9, 24)
    error = objects[6]
    assert (error["frame_type"], error["error_class"], error["status"]) == ("error", 4, "NG")
