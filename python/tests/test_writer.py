"""The .buslog writer: the line of each message, and where the log lands."""

import os
import shutil
import subprocess
import sys
import tempfile
import threading

import can
import pytest

import buslog

START = b"000000001,+0.000000,"

# (name, message, the line after frame number and time)
ROWS = [
    ("standard", can.Message(arbitration_id=0x123, is_extended_id=False, data=b"\xaa\xbb", channel="can0"),
     b"I,CAN     , 1,OK,0,1,23,2,AA,BB"),
    ("standard, highest identifier, empty", can.Message(arbitration_id=0x7FF, is_extended_id=False),
     b"I,CAN     , 1,OK,0,7,FF,0"),
    ("extended, sent", can.Message(arbitration_id=0x1FFFFFFF, data=b"\x01", is_rx=False),
     b"O,CAN     , 1,OK,1,1F,FF,FF,FF,1,01"),
    ("remote", can.Message(arbitration_id=0x01020304, is_remote_frame=True, dlc=3),
     b"I,CAN     , 1,OK,1,01,02,03,04,3,RTR"),
    ("8 bytes with length code C", can.Message(arbitration_id=0x10, is_extended_id=False, data=bytes(range(8)), dlc=12,
                                                check=False),
     b"I,CAN     , 1,OK,0,0,10,C,00,01,02,03,04,05,06,07"),
    ("classic with 10 bytes", can.Message(arbitration_id=0x10, is_extended_id=False, data=bytes(10), check=False),
     b"I,CAN     , 1,OK,0,0,10,8,00,00,00,00,00,00,00,00,00,00"),
    ("CAN FD, BRS", can.Message(arbitration_id=0x10, is_extended_id=False, is_fd=True, bitrate_switch=True,
                                data=b"\x11" * 12),
     b"I,CAN     , 1,OK,0,0,10,9," + b",".join([b"11"] * 12) + b",FD,1"),
    ("CAN FD, ESI, padded to 12", can.Message(arbitration_id=0x10, is_fd=True, error_state_indicator=True,
                                              data=b"\x22" * 10, check=False),
     b"I,CAN     , 1,OK,1,00,00,00,10,9," + b",".join([b"22"] * 10 + [b"00"] * 2) + b",FD,2"),
    ("CAN FD, empty", can.Message(arbitration_id=0x10, is_extended_id=False, is_fd=True),
     b"I,CAN     , 1,OK,0,0,10,0,FD,0"),
    ("error frame", can.Message(arbitration_id=0x4, is_error_frame=True, data=b"\x00\x04" + bytes(6)),
     b"I,CAN     , 1,NG,1,00,00,00,04,8,00,04,00,00,00,00,00,00,(0:ERR=00000004)"),
    ("integer channel", can.Message(arbitration_id=0x1, is_extended_id=False, channel=5),
     b"I,CAN     , 6,OK,0,0,01,0"),
]


def write(path, messages):
    with can.Logger(str(path)) as writer:
        for message in messages:
            writer(message)
    return path.read_bytes()


@pytest.mark.parametrize("name,message,expected", ROWS, ids=[row[0] for row in ROWS])
def test_line(tmp_path, name, message, expected):
    assert write(tmp_path / "x.buslog", [message]) == START + expected + b"\r\n"
    assert os.listdir(tmp_path) == ["x.buslog"]


def test_time_frame_numbers_and_channels(tmp_path):
    stamps_and_channels = [(10.0, "can1"), (10.5, "can0"), (9.0, 7), (11.2345678, None), (4294967306.0, "can1"),
                           (10.000001, None)]
    messages = [can.Message(timestamp=stamp, arbitration_id=1, is_extended_id=False, channel=channel)
                for stamp, channel in stamps_and_channels]
    assert write(tmp_path / "x.buslog", messages).split(b"\r\n") == [
        b"000000001,+0.000000,I,CAN     , 1,OK,0,0,01,0",
        b"000000002,+0.500000,I,CAN     , 2,OK,0,0,01,0",
        b"000000003,+0.000000,I,CAN     , 8,OK,0,0,01,0",  # earlier than the first
        b"000000004,+1.234568,I,CAN     , 3,OK,0,0,01,0",
        b"000000005,+42949672,I,CAN     , 1,OK,0,0,01,0",
        b"000000006,+0.000001,I,CAN     , 3,OK,0,0,01,0",
        b"",
    ]


def test_refusals(tmp_path):
    with pytest.raises(ValueError, match="append"):
        can.Logger(str(tmp_path / "x.buslog"), append=True)
    with open(tmp_path / "file", "w") as file, pytest.raises(TypeError, match="path"):
        buslog.BuslogWriter(file)
    with pytest.raises(FileNotFoundError, match="no directory"):
        can.Logger(str(tmp_path / "missing" / "x.buslog"))
    (tmp_path / "d.buslog").mkdir()
    with pytest.raises(buslog.OpenError, match="result 2"):
        can.Logger(str(tmp_path / "d.buslog"))  # a directory of that name
    assert sorted(os.listdir(tmp_path)) == ["d.buslog", "file"]

    writer = can.Logger(str(tmp_path / "x.buslog"))
    with pytest.raises(ValueError, match="11 bits"):
        writer(can.Message(arbitration_id=0x800, is_extended_id=False))
    with pytest.raises(ValueError, match="64 data bytes"):
        writer(can.Message(arbitration_id=0x1, is_fd=True, data=bytes(65), check=False))
    writer(can.Message(arbitration_id=0x1, is_extended_id=False))  # the writer goes on
    writer.stop()
    with pytest.raises(ValueError, match="stopped"):
        writer(can.Message(arbitration_id=0x1))
    assert (tmp_path / "x.buslog").read_bytes() == START + b"I,CAN     , 1,OK,0,0,01,0\r\n"


def stray_copies():
    return {name for name in os.listdir(tempfile.gettempdir()) if name.startswith(".buslog-")}


def test_writers_open_at_once_each_get_their_log(tmp_path):
    before = stray_copies()
    writers = [can.Logger(str(tmp_path / f"{n}.buslog")) for n in range(3)]
    for round_ in range(3):
        for n, writer in enumerate(writers):
            writer(can.Message(timestamp=round_, arbitration_id=n, is_extended_id=False))
    for writer in writers:
        writer.stop()
    for n in range(3):
        lines = (tmp_path / f"{n}.buslog").read_bytes().split(b"\r\n")
        assert lines == [b"%09d,+%d.000000,I,CAN     , 1,OK,0,0,%02d,0" % (i + 1, i, n) for i in range(3)] + [b""]
    assert sorted(os.listdir(tmp_path)) == ["0.buslog", "1.buslog", "2.buslog"]
    assert stray_copies() == before
    if os.path.exists("/proc/self/maps"):  # the private copies are unloaded again
        with open("/proc/self/maps") as maps:
            assert "/.buslog-" not in maps.read()


def test_writer_beside_a_log_opened_through_module(tmp_path, module_path):
    direct = buslog.Module(module_path)  # the very module writers share
    direct.open(os.path.relpath(tmp_path / "direct.log", direct.directory))
    try:
        write(tmp_path / "x.buslog", [can.Message(arbitration_id=0x1, is_extended_id=False)])
    finally:
        direct.close()
    assert (tmp_path / "x.buslog").read_bytes() == START + b"I,CAN     , 1,OK,0,0,01,0\r\n"


def test_threads_share_one_writer(memory_path):
    writer = can.Logger(str(memory_path / "x.buslog"))

    def send(thread):
        for index in range(500):
            writer(can.Message(arbitration_id=thread, is_extended_id=False, data=index.to_bytes(2, "big")))

    threads = [threading.Thread(target=send, args=(n,)) for n in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    writer.stop()
    lines = (memory_path / "x.buslog").read_bytes().split(b"\r\n")[:-1]
    assert [line[:10] for line in lines] == [b"%09d," % n for n in range(1, 2001)]
    back = list(can.LogReader(str(memory_path / "x.buslog")))
    for thread in range(4):
        assert [int.from_bytes(m.data, "big") for m in back if m.arbitration_id == thread] == list(range(500))


def test_log_far_from_the_module_goes_through_a_private_copy(tmp_path, module_path, monkeypatch):
    # The module's folder is so deep that no name beside it fits.
    deep = tmp_path / ("m" * 120) / ("n" * 100)
    deep.mkdir(parents=True)
    shutil.copy(module_path, deep)
    monkeypatch.setenv("BUSLOG_MODULE", str(deep / os.path.basename(module_path)))
    before = stray_copies()
    log = tmp_path / "logs" / "x.buslog"
    log.parent.mkdir()
    write(log, [can.Message(arbitration_id=0x1, is_extended_id=False)])
    assert log.read_bytes() == START + b"I,CAN     , 1,OK,0,0,01,0\r\n"
    assert os.listdir(log.parent) == ["x.buslog"]
    assert stray_copies() == before

    # With the temporary folder deep as well, the copy goes into the log's
    # own folder, and leaves it again.
    far = tmp_path / ("t" * 200)
    far.mkdir()
    monkeypatch.setattr(tempfile, "tempdir", str(far))
    write(log, [can.Message(arbitration_id=0x2, is_extended_id=False)])
    assert log.read_bytes() == START + b"I,CAN     , 1,OK,0,0,02,0\r\n"
    assert os.listdir(log.parent) == ["x.buslog"]
    assert os.listdir(far) == []

    # A log whose own folder is too deep as well cannot be written.
    too_deep = tmp_path / ("d" * 250)
    too_deep.mkdir()
    with pytest.raises(OSError, match="259 bytes"):
        can.Logger(str(too_deep / "x.buslog"))
    assert os.listdir(too_deep) == []


FILL_UNTIL_FULL = """
import resource, signal, sys
import can, buslog
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
resource.setrlimit(resource.RLIMIT_FSIZE, (1000, 1000))
writer = can.Logger(sys.argv[1])
for index in range(100):
    try:
        writer(can.Message(arbitration_id=index, is_extended_id=False, data=bytes(8)))
    except buslog.WriteError as error:
        print(index, error)
        break
"""


def test_failed_write_raises_and_leaves_whole_lines(tmp_path):
    log = tmp_path / "x.buslog"
    done = subprocess.run([sys.executable, "-c", FILL_UNTIL_FULL, str(log)], capture_output=True, check=True)
    index, message = done.stdout.decode().split(" ", 1)
    assert "could not write frame %d" % (int(index) + 1) in message
    data = log.read_bytes()
    assert data.count(b"\r\n") == int(index) and data.endswith(b"\r\n")
