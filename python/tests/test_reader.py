"""The .buslog reader: which line is which frame."""

import json
import os
import re

import can

import buslog
import pytest

from buslog.reader import NotALogError, is_log, iter_records, parse_can_line

H = b"000000001,+0.000123,I,CAN     , 1,"  # header up to the status field

# (name, line, expected: (id, extended, remote, error, fd, brs, esi, dlc,
# data hex, channel, is_rx) or None for a line that is no CAN record, or
# ValueError for a CAN record that cannot be read)
ROWS = [
    ("standard", H + b"OK,0,1,23,2,AA,BB", (0x123, False, False, False, False, False, False, 2, "aabb", 0, True)),
    ("extended, sent, channel 12", b"000000002,+1.500000,O,CAN     ,12,OK,1,1F,FF,FF,FE,8,01,02,03,04,05,06,07,08",
     (0x1FFFFFFE, True, False, False, False, False, False, 8, "0102030405060708", 11, False)),
    ("empty", H + b"OK,0,7,FF,0", (0x7FF, False, False, False, False, False, False, 0, "", 0, True)),
    ("remote", H + b"OK,0,1,23,4,RTR", (0x123, False, True, False, False, False, False, 4, "", 0, True)),
    ("extended remote", H + b"OK,1,00,00,01,00,0,RTR", (0x100, True, True, False, False, False, False, 0, "", 0, True)),
    ("error frame", H + b"NG,1,00,00,00,80,8,00,00,00,00,00,00,00,01,(0:ERR=00000080)",
     (0x80, True, False, True, False, False, False, 8, "0000000000000001", 0, True)),
    ("CAN FD, flags 3", H + b"OK,0,3,21,9," + b",".join([b"AB"] * 12) + b",FD,3",
     (0x321, False, False, False, True, True, True, 12, "ab" * 12, 0, True)),
    ("CAN FD, 64 bytes", H + b"OK,1,00,00,03,21,F," + b",".join([b"01"] * 64) + b",FD,1",
     (0x321, True, False, False, True, True, False, 64, "01" * 64, 0, True)),
    ("CAN FD of 2 bytes", H + b"OK,0,1,23,2,11,22,FD,2",
     (0x123, False, False, False, True, False, True, 2, "1122", 0, True)),
    ("data ending in FD and 01 is classic", H + b"OK,0,1,23,4,11,22,FD,01",
     (0x123, False, False, False, False, False, False, 4, "1122fd01", 0, True)),
    ("8 bytes with length code C", H + b"OK,0,1,23,C,01,02,03,04,05,06,07,08",
     (0x123, False, False, False, False, False, False, 12, "0102030405060708", 0, True)),
    ("nibble 8 with 10 bytes", H + b"OK,0,1,23,8,01,02,03,04,05,06,07,08,09,0A",
     (0x123, False, False, False, False, False, False, 10, "0102030405060708090a", 0, True)),
    ("no time stamp", b"000000001,I,CAN     , 3,OK,0,1,23,0",
     (0x123, False, False, False, False, False, False, 0, "", 2, True)),
    # Lines that are not CAN records.
    ("LIN", b"000000001,+0.000000,I,LIN     , 1,OK,A,3C,8,01", None),
    ("marker", b"000000001,+0.000000,M,Marker  , -,OK,hello", None),
    ("generic form", b"000000001,+0.000000,3030,00,01,0,AB", None),
    ("free text", b"some text, with commas", None),
    ("CAN not padded", b"000000001,+0.000000,I,CAN, 1,OK,0,1,23,0", None),
    ("time +1e3", b"000000001,+1e3,I,CAN     , 1,OK,0,1,23,0", None),
    ("time +nan", b"000000001,+nan,I,CAN     , 1,OK,0,1,23,0", None),
    ("frame number of 11 digits", b"00000000001,+0.000000,I,CAN     , 1,OK,0,1,23,0", None),
    ("behind NUL bytes", b"\x00\x00000000001,+0.000000,I,CAN     , 1,OK,0,1,23,0", None),
    # A trailing error field with status OK is the line's, not the frame's.
    ("error field with status OK", H + b"OK,1,00,00,00,80,0,(0:ERR=00000080)",
     (0x80, True, False, False, False, False, False, 0, "", 0, True)),
    ("remote with status OK and an error field", H + b"OK,0,3,21,4,RTR,(0:ERR=00000002)",
     (0x321, False, True, False, False, False, False, 4, "", 0, True)),
    # CAN records that cannot be read.
    ("data before RTR", H + b"OK,0,3,21,1,AA,RTR", ValueError),
    ("CAN flags 8", H + b"OK,8,1,23,0", ValueError),
    ("data byte with a blank", H + b"OK,0,1,23,2, A,BB", ValueError),
    ("FD fields not matching the length", H + b"OK,0,3,21,9," + b",".join([b"AB"] * 11) + b",FD,1", ValueError),
    # A body that stops before its nibble: a record without identifier or length.
    ("standard record cut short", H + b"OK,0,1", None),
    ("extended record cut short", H + b"OK,1,00,00,00", None),
    ("one-digit data byte", H + b"OK,0,1,23,1,A", ValueError),
    ("standard identifier digit 8", H + b"OK,0,8,23,0", ValueError),
]


@pytest.mark.parametrize("name,line,expected", ROWS, ids=[row[0] for row in ROWS])
def test_line(name, line, expected):
    if expected is ValueError:
        with pytest.raises(ValueError):
            parse_can_line(line)
        return
    message = parse_can_line(line, start=100.0)
    if expected is None:
        assert message is None
        return
    got = (message.arbitration_id, message.is_extended_id, message.is_remote_frame, message.is_error_frame,
           message.is_fd, message.bitrate_switch, message.error_state_indicator, message.dlc, message.data.hex(),
           message.channel, message.is_rx)
    assert got == expected
    assert message.timestamp == pytest.approx(100.0 + float(line.split(b",")[1][1:]) if b",+" in line else 100.0)


RULES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "reader", "expected")


# The text lines of rules.log that are malformed (rule 12): a frame header
# whose body breaks its rule, a time stamp that breaks rule 4 after a frame
# number, a log line behind leading bytes.
MALFORMED = {3, 8, 9, 16, 17, 18, 20, 27, 28, 29, 30, 36, 38, 48, 49, 65, 66, 67, 68, 71}


def test_rules_file_read_as_the_cpp_reader_reads_it():
    """Every line of rules.log against the C++ reader's reading of it."""
    with open(os.path.join(RULES, "rules.jsonl")) as file:
        expected = [json.loads(line) for line in file]
    records = list(iter_records(os.path.join(RULES, "rules.log")))
    assert len(records) == len(expected)
    kinds = {"empty": "empty", "error": "error"}
    # The C++ reader gives the time stamp as written; the python reader
    # adds the time base a buslog start marker gives (none before one, and
    # none after one it cannot read): the same offset for every line of a
    # time base, the start marker's own time.
    offset = 0
    names = {}
    for record, want in zip(records, expected):
        where = f"line {want['line']}"
        assert record.line_number == want["line"], where
        assert record.frame_number == want.get("frame"), where
        if record.kind == "marker" and record.frame_number == 0 and record.text.startswith("buslog start "):
            offset = round(record.time * 1e6) - round(want["time"] * 1e6)
        named = re.match(r"buslog channel ([1-9][0-9]*) (.+)", record.text or "") if record.kind == "marker" else None
        if named:
            names[int(named.group(1))] = named.group(2)
        if "time" in want:
            assert round(record.time * 1e6) - offset == round(want["time"] * 1e6), where
        else:
            assert record.time is None, where
        if want["form"] == "text":
            malformed = want.get("malformed", want["line"] in MALFORMED)
            assert (record.kind, record.text) == ("malformed" if malformed else "text", want["why"]), where
            continue
        if want["form"] != "record":
            assert record.kind == kinds[want["form"]], where
            continue
        if want["record"] == "marker":
            assert (record.kind, record.text) == ("marker", want["text"]), where
            continue
        if want["record"] != "can" or want.get("complete") is False:
            assert record.kind == "record", where
            continue
        assert record.kind == "frame", where
        m = record.message
        frame_type = "error" if m.is_error_frame else "remote" if m.is_remote_frame else "fd" if m.is_fd else "data"
        assert frame_type == want["frame_type"], where
        assert m.arbitration_id == want.get("error_class", want["id"]), where
        assert m.is_extended_id == (want["extended"] or frame_type == "error"), where
        assert bytes(m.data).hex().upper() == want.get("data", ""), where
        # Without a name: None where the log has marker lines (a time base).
        unnamed = None if "abs_time" in want else want["channel"] - 1
        assert m.channel == names.get(want["channel"], unnamed), where
        assert m.is_rx == (want["kind"] != "O"), where
        if frame_type == "fd":
            assert (m.bitrate_switch, m.error_state_indicator) == (bool(want["fd_flags"] & 1),
                                                                   bool(want["fd_flags"] & 2)), where
        else:
            size = len(m.data)
            assert m.dlc == (want["dlc"] if frame_type == "remote" or (size == 8 and want["dlc"] > 8) else size), where


def test_markers_give_absolute_times_and_names(tmp_path):
    log = tmp_path / "m.buslog"
    log.write_bytes(b"000000000,+0.000000,M,Marker  , -,OK,buslog start 2023-11-14T22:13:20.001000Z\r\n"
                    b"000000000,+0.000000,M,Marker  , -,OK,buslog writer buslog-host 0.2.0\r\n"
                    b"000000000,+0.004000,M,Marker  , -,OK,buslog channel 1 can0\r\n"
                    b"000000001,+0.004000,I,CAN     , 1,OK,0,1,23,2,AA,BB\r\n"
                    b"000000000,+0.004100,M,Marker  , -,OK,buslog channel 3 2\r\n"
                    b"000000002,+0.004100,I,CAN     , 3,OK,0,1,23,0\r\n"
                    b"000000003,+0.005000,I,CAN     , 2,OK,0,1,23,0\r\n"
                    b"000000000,+0.000000,M,Marker  , -,OK,buslog start 2023-11-14T21:13:20.000000Z\r\n"
                    b"000000000,+0.000000,M,Marker  , -,OK,buslog channel 1 vcan0\r\n"
                    b"000000004,+0.000000,I,CAN     , 1,OK,0,1,23,0\r\n"
                    b"000000005,+1.000000,I,CAN     , 3,OK,0,1,23,0\r\n")
    frames = [(r.frame_number, round(r.time * 1e6), r.channel) for r in iter_records(str(log)) if r.kind == "frame"]
    # Channel 2 has no name in a log with marker lines: its writer was given none.
    assert frames == [(1, 1700000000005000, "can0"), (2, 1700000000005100, 2), (3, 1700000000006000, None),
                      (4, 1699996400000000, "vcan0"), (5, 1699996401000000, 2)]
    kinds = [r.kind for r in iter_records(str(log))]
    assert kinds.count("marker") == 6
    assert [(round(m.timestamp * 1e6), m.channel) for m in can.LogReader(str(log))] == [f[1:] for f in frames]


def test_a_file_without_log_lines_is_no_log(tmp_path):
    trace = tmp_path / "trace.buslog"
    trace.write_text("(1436509052.249713) can0 123#DEADBEEF\n(1436509052.250000) can0 124#\n")
    with pytest.raises(NotALogError, match="is not a buslog log.*line 1: not a log line"):
        list(can.LogReader(str(trace)))
    assert not is_log(str(trace))
    empty = tmp_path / "empty.buslog"
    empty.write_bytes(b"")
    assert is_log(str(empty)) and list(can.LogReader(str(empty))) == []
    # A line that holds a record behind NUL bytes is malformed, not skipped.
    log = tmp_path / "nul.buslog"
    log.write_bytes(b"000000001,+0.000000,I,CAN     , 1,OK,0,1,23,0\r\n"
                    b"\x00\x00000000002,+0.000001,I,CAN     , 1,OK,0,1,23,0\r\n")
    with can.LogReader(str(log)) as reader:
        assert len(list(reader)) == 1
        assert reader.malformed == 1


def test_log_reader_skips_other_lines_and_counts_bad_ones(tmp_path):
    log = tmp_path / "mixed.buslog"
    log.write_bytes(b"000000001,+0.000000,I,CAN     , 1,OK,0,1,23,1,01\r\n"
                    b"000000002,+0.000001,I,LIN     , 1,OK,A,3C,8,01\r\n"
                    b"000000003,+0.000002,I,CAN     , 1,OK,0,1,23,1,A\r\n"
                    b"000000004,+0.000003,I,CAN     , 1,OK,0,1,23,1,02\r\n"
                    b"000000005,+0.000004,I,CAN     , 1,OK,0,1,23,1,0")
    with can.LogReader(str(log)) as reader:
        messages = list(reader)
        assert (reader.malformed, reader.unfinished) == (1, 1)
    assert [bytes(m.data) for m in messages] == [b"\x01", b"\x02"]


def test_read_frames_gives_the_logs_frames_as_columns(tmp_path):
    """read_frames over two logs: the frames can.LogReader gives, as
    columns, files in order; times absolute after a start marker."""
    import numpy
    from frames import forms
    logs = []
    expected = []
    for number, channel in enumerate(["can0", "vcan 1"]):
        path = tmp_path / f"run-{number}.buslog"
        with can.Logger(str(path)) as writer:
            for index in range(300):
                message = forms(index, channel)
                message.timestamp = 1700000000.0 + number * 10 + index * 0.001
                writer(message)
        logs.append(str(path))
        expected += list(can.LogReader(str(path)))
    frames = buslog.read_frames(logs)
    assert len(frames) == len(expected) == 600
    assert frames.interfaces == ["can0", "vcan 1"]
    assert frames["file"].tolist() == [0] * 300 + [1] * 300
    assert frames["absolute"].all()
    for index, message in enumerate(expected):
        length = int(frames["length"][index])
        got = (round(float(frames["time"][index]) * 1e6), int(frames["id"][index]), bool(frames["extended"][index]),
               bool(frames["remote"][index]), bool(frames["error"][index]), bool(frames["fd"][index]),
               bool(frames["brs"][index]), bool(frames["esi"][index]), bytes(frames["data"][index][:length]),
               frames.interfaces[frames["interface"][index]], bool(frames["rx"][index]))
        assert got == (round(message.timestamp * 1e6), message.arbitration_id, message.is_extended_id,
                       message.is_remote_frame, message.is_error_frame, message.is_fd, message.bitrate_switch,
                       message.error_state_indicator, bytes(message.data), message.channel, message.is_rx), index
    assert frames["data"].shape == (600, 64)
    assert numpy.array_equal(frames["frame"], numpy.concatenate([numpy.arange(1, 301)] * 2))
    with pytest.raises(NotALogError):
        trace = tmp_path / "trace.buslog"
        trace.write_text("(1436509052.249713) can0 123#DEADBEEF\n")
        buslog.read_frames([logs[0], str(trace)])
