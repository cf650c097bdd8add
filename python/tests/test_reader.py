"""The .buslog reader: which line is which frame."""

import can
import pytest

from buslog.reader import parse_can_line

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
    # CAN records that cannot be read.
    ("error field with status OK", H + b"OK,1,00,00,00,80,0,(0:ERR=00000080)", ValueError),
    ("FD fields not matching the length", H + b"OK,0,3,21,9," + b",".join([b"AB"] * 11) + b",FD,1", ValueError),
    ("standard record cut short", H + b"OK,0,1", ValueError),
    ("extended record cut short", H + b"OK,1,00,00,00", ValueError),
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


def test_log_reader_skips_other_lines_and_counts_bad_ones(tmp_path):
    log = tmp_path / "mixed.buslog"
    log.write_bytes(b"000000001,+0.000000,I,CAN     , 1,OK,0,1,23,1,01\r\n"
                    b"000000002,+0.000001,I,LIN     , 1,OK,A,3C,8,01\r\n"
                    b"000000003,+0.000002,I,CAN     , 1,OK,0,1\r\n"
                    b"000000004,+0.000003,I,CAN     , 1,OK,0,1,23,1,02\r\n"
                    b"000000005,+0.000004,I,CAN     , 1,OK,0,1,23,1,0")
    with can.LogReader(str(log)) as reader:
        messages = list(reader)
        assert (reader.malformed, reader.unfinished) == (1, 1)
    assert [bytes(m.data) for m in messages] == [b"\x01", b"\x02"]
