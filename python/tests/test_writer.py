"""The .buslog writer: the line of each message, its channel and time, what
it refuses, and where the log lands."""

import ctypes
import importlib
import logging
import os
import shutil
import subprocess
import sys
import tempfile
import threading

import can
import pytest

import buslog
from frames import forms

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
    # An integer channel is an interface name like any other: the first one met.
    ("integer channel", can.Message(arbitration_id=0x1, is_extended_id=False, channel=5),
     b"I,CAN     , 1,OK,0,0,01,0"),
]


def write(path, messages, markers=False, **options):
    with can.Logger(str(path), markers=markers, **options) as writer:
        for message in messages:
            writer(message)
    return path.read_bytes()


@pytest.mark.parametrize("name,message,expected", ROWS, ids=[row[0] for row in ROWS])
def test_line(tmp_path, name, message, expected):
    assert write(tmp_path / "x.buslog", [message]) == START + expected + b"\r\n"
    assert os.listdir(tmp_path) == ["x.buslog"]


def test_time_frame_numbers_and_channels(tmp_path):
    stamps_and_channels = [(10.0, "can1"), (10.5, "can0"), (9.6, 7), (11.2345678, None), (99.0, "can1"),
                           (98.5, None)]
    messages = [can.Message(timestamp=stamp, arbitration_id=1, is_extended_id=False, channel=channel)
                for stamp, channel in stamps_and_channels]
    assert write(tmp_path / "x.buslog", messages).split(b"\r\n") == [
        b"000000001,+0.000000,I,CAN     , 1,OK,0,0,01,0",
        b"000000002,+0.500000,I,CAN     , 2,OK,0,0,01,0",
        b"000000003,+0.000000,I,CAN     , 3,OK,0,0,01,0",  # earlier than the first, by less than 1 s
        b"000000004,+1.234568,I,CAN     , 4,OK,0,0,01,0",
        b"000000005,+89.00000,I,CAN     , 1,OK,0,0,01,0",  # one time base a file without markers
        b"000000006,+88.50000,I,CAN     , 4,OK,0,0,01,0",  # 0.5 s before the latest: no jump
        b"",
    ]


def test_channels_of_both_kinds_never_share_a_number(tmp_path):
    # Channel 1 and "vcan0", None and channel 0: each a channel of its own,
    # numbered as they come; each reads back as it was given.
    channels = [1, "vcan0", None, 0, "vcan0", 1, None, 0]
    log = tmp_path / "x.buslog"
    write(log, [can.Message(timestamp=1700000000 + i, arbitration_id=0x100 + i, is_extended_id=False,
                            channel=channel) for i, channel in enumerate(channels)], markers=True)
    lines = log.read_bytes().split(b"\r\n")
    assert [line[31:33] for line in lines if line[:9] not in (b"", b"000000000")] == [
        b" 1", b" 2", b" 3", b" 4", b" 2", b" 1", b" 3", b" 4"]
    assert [line.split(b",OK,")[1] for line in lines if b"buslog channel" in line] == [
        b"buslog channel 1 1", b"buslog channel 2 vcan0", b"buslog channel 4 0"]
    assert [m.channel for m in can.LogReader(str(log))] == channels


# (what the error says, a message no bus can carry or the log cannot show)
REFUSED = [
    ("standard identifier 0x800 does not fit in 11 bits", can.Message(arbitration_id=0x800, is_extended_id=False)),
    ("extended identifier 0x20000000 does not fit in 29 bits", can.Message(arbitration_id=0x20000000)),
    ("a CAN FD frame carries at most 64 data bytes, not 65",
     can.Message(arbitration_id=0x1, is_fd=True, data=bytes(65), check=False)),
    ("a classic CAN frame carries at most 8 data bytes, not 12",
     can.Message(arbitration_id=0x1, data=bytes(12), check=False)),
    ("a remote frame asks for a length code of 0 to 15, not 16",
     can.Message(arbitration_id=0x1, is_remote_frame=True, dlc=16, check=False)),
    ("error class 0x20000004 is wider than 29 bits",
     can.Message(arbitration_id=0x20000004, is_error_frame=True, data=bytes(8), check=False)),
    ("arbitration_id 4294967296 is no CAN identifier", can.Message(arbitration_id=1 << 32, check=False)),
    ("time stamp inf is not a finite number", can.Message(timestamp=float("inf"), arbitration_id=0x1)),
    ("time stamp nan is not a finite number", can.Message(timestamp=float("nan"), arbitration_id=0x1)),
    ("time stamp -1.0 is before 1970-01-01", can.Message(timestamp=-1.0, arbitration_id=0x1)),
]


def test_refusals(tmp_path):
    with pytest.raises(ValueError, match="append"):
        can.Logger(str(tmp_path / "x.buslog"), append=True)
    with open(tmp_path / "file", "w") as file, pytest.raises(TypeError, match="path"):
        buslog.BuslogWriter(file)
    with pytest.raises(OSError, match="the folder .*missing does not exist"):
        can.Logger(str(tmp_path / "missing" / "x.buslog"))
    (tmp_path / "d.buslog").mkdir()
    with pytest.raises(IsADirectoryError, match="it is a folder"):
        can.Logger(str(tmp_path / "d.buslog"))
    (tmp_path / "kept.buslog").write_bytes(b"mine")
    with pytest.raises(ValueError, match="a ring keeps 2 files or more"):
        can.Logger(str(tmp_path / "x.buslog"), rotate_size="1k", max_files=1)
    with pytest.raises(ValueError, match=r"rotate_size: 10Q: give a size such as 500k, 1.5M, 10MB or 2GiB"):
        can.Logger(str(tmp_path / "x.buslog"), rotate_size="10Q")
    assert sorted(os.listdir(tmp_path)) == ["d.buslog", "file", "kept.buslog"]

    writer = can.Logger(str(tmp_path / "x.buslog"), markers=False)
    for match, message in REFUSED:
        with pytest.raises(ValueError, match=match):
            writer(message)
    writer(can.Message(arbitration_id=0x1, is_extended_id=False))  # the writer goes on
    writer.stop()
    with pytest.raises(ValueError, match="stopped"):
        writer(can.Message(arbitration_id=0x1))
    assert writer.counts().framesAdded == 1  # refused messages get no frame number
    assert (tmp_path / "x.buslog").read_bytes() == START + b"I,CAN     , 1,OK,0,0,01,0\r\n"
    assert (tmp_path / "kept.buslog").read_bytes() == b"mine"

    # A writer that logged nothing leaves no file.
    can.Logger(str(tmp_path / "empty.buslog")).stop()
    assert not (tmp_path / "empty.buslog").exists()


EXISTS = (" exists; give overwrite=True (can.logger: --overwrite=True) to replace it, or choose another name")
# A log of the user's, long before the new one.
PRECIOUS = b"".join(b"%09d,+%d.000000,I,CAN     , 1,OK,0,1,23,1,01\r\n" % (n, n) for n in range(1, 5001))

# (name, the overwrite keyword as given, or can.logger's argument; replaced)
OVERWRITE_ROWS = [
    ("default", None, False),
    ("overwrite=False", False, False),
    ("overwrite=True", True, True),
    ("can.logger --overwrite=True", "--overwrite=True", True),
    ("can.logger --overwrite=false", "--overwrite=false", False),
]


@pytest.mark.parametrize("name,overwrite,replaced", OVERWRITE_ROWS, ids=[row[0] for row in OVERWRITE_ROWS])
def test_existing_file_is_replaced_only_with_overwrite(tmp_path, name, overwrite, replaced):
    log = tmp_path / "precious.buslog"
    log.write_bytes(PRECIOUS)
    if isinstance(overwrite, str):
        parse = getattr(importlib.import_module("can.logger"), "_parse_additional_config", None)
        if parse is None:
            pytest.skip("this python-can has no can.logger._parse_additional_config")
        keywords = parse([overwrite])
    else:
        keywords = {} if overwrite is None else {"overwrite": overwrite}
    message = can.Message(arbitration_id=0x123, is_extended_id=False, data=b"\x01")
    if replaced:
        assert write(log, [message], **keywords) == START + b"I,CAN     , 1,OK,0,1,23,1,01\r\n"
        return
    with pytest.raises(FileExistsError) as refused:
        write(log, [message], **keywords)
    assert str(refused.value) == str(log) + EXISTS
    assert isinstance(refused.value, OSError)
    assert log.read_bytes() == PRECIOUS
    assert os.listdir(tmp_path) == ["precious.buslog"]


def test_can_logger_keeps_an_existing_file(tmp_path):
    log = tmp_path / "precious.buslog"
    log.write_bytes(PRECIOUS)
    done = subprocess.run([sys.executable, "-m", "can.logger", "-i", "virtual", "-c", "keep", "-f", str(log)],
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 1
    assert done.stderr.splitlines()[-1] == "FileExistsError: " + str(log) + EXISTS
    assert log.read_bytes() == PRECIOUS


@pytest.mark.parametrize("value,expected", [("true", True), ("False", False), ("1", True), ("0", False), (1, True),
                                            (0, False), (True, True), ("no", False)])
def test_flags_as_can_logger_hands_them_over(tmp_path, value, expected):
    writer = buslog.BuslogWriter(str(tmp_path / "x.buslog"), write_through=value, markers=value)
    writer.stop()
    assert (writer.write_through, writer.markers) == (expected, expected)


def test_flag_that_is_neither_is_refused(tmp_path):
    with pytest.raises(ValueError, match="write_through must be true or false, not 'maybe'"):
        buslog.BuslogWriter(str(tmp_path / "x.buslog"), write_through="maybe")
    with pytest.raises(ValueError, match="max_files must be a whole number, 0 or more, not 'x'"):
        buslog.BuslogWriter(str(tmp_path / "x.buslog"), rotate_size=1000, max_files="x")
    assert os.listdir(tmp_path) == []


def test_second_writer_on_an_open_log_is_refused(tmp_path):
    log = tmp_path / "x.buslog"
    first = can.Logger(str(log), markers=False, write_through=True)
    first(can.Message(arbitration_id=0x1, is_extended_id=False))
    os.link(log, tmp_path / "hard.buslog")
    os.symlink(log, tmp_path / "soft.buslog")
    for path in (log, tmp_path / "soft.buslog", tmp_path / "hard.buslog", tmp_path / "." / "x.buslog"):
        with pytest.raises(ValueError, match="a .buslog writer of this process has it open"):
            can.Logger(str(path))
    first(can.Message(arbitration_id=0x2, is_extended_id=False))
    first.stop()
    assert log.read_bytes() == START + b"I,CAN     , 1,OK,0,0,01,0\r\n000000002,+0.000000,I,CAN     , 1,OK,0,0,02,0\r\n"
    # Once stopped, the path is free again.
    write(log, [can.Message(arbitration_id=0x3, is_extended_id=False)], overwrite=True)
    assert log.read_bytes() == START + b"I,CAN     , 1,OK,0,0,03,0\r\n"


def marker(time, text):
    return b"000000000,+%s,M,Marker  , -,OK,%s" % (time, text)


WRITER_LINE = marker(b"0.000000", b"buslog writer buslog-python " + buslog.__version__.encode())


@pytest.mark.parametrize("write_through", [False, True], ids=["group commit", "write-through"])
def test_relative_times_get_no_date(tmp_path, write_through):
    # A source without real time (an ASC file, a virtual bus): its own clock,
    # said as such, never as a day in 1970.
    stamps = [0.019968, 0.519968, 12.0]
    log = tmp_path / "x.buslog"
    write(log, [can.Message(timestamp=stamp, arbitration_id=0x100, data=b"\x01", channel="can0")
                for stamp in stamps], markers=True, write_through=write_through)
    data = log.read_bytes()
    assert b"1970" not in data
    assert data.split(b"\r\n")[:2] == [marker(b"0.000000", b"buslog start relative 0.019968"), WRITER_LINE]
    assert [m.timestamp for m in can.LogReader(str(log))] == stamps


def test_clock_stepped_back_begins_a_time_base_and_says_so(tmp_path, caplog):
    stamps = [1e9, 1e9 + 1.5, 1e9 + 1.5 - 3600, 1e9 + 0.5 - 3600]
    log = tmp_path / "x.buslog"
    with caplog.at_level(logging.WARNING, logger="buslog.writer"):
        write(log, [can.Message(timestamp=stamp, arbitration_id=0x123, is_extended_id=False, channel="can0")
                    for stamp in stamps], markers=True)
    assert [r.getMessage() for r in caplog.records] == [
        "time jump at frame 3: 3600.000000 s before the latest frame (the clock went back); a new time base begins"]
    assert log.read_bytes().count(b"buslog start 2001-09-09T") == 2
    assert [round(m.timestamp * 1e6) for m in can.LogReader(str(log))] == [round(s * 1e6) for s in stamps]

    # Without marker lines, a new file with its own time base.
    writer = can.Logger(str(tmp_path / "off.buslog"), markers=False)
    for stamp in stamps:
        writer(can.Message(timestamp=stamp, arbitration_id=0x123, is_extended_id=False))
    writer.stop()
    assert writer.files == [str(tmp_path / "off.buslog"), str(tmp_path / "off-002.buslog")]


def test_rotation_keywords_as_can_logger_hands_them_over(tmp_path):
    # --rotate-size=1k --max-files=2 as can.logger passes them on
    log = tmp_path / "run.buslog"
    writer = can.Logger(str(log), rotate_size="1k", max_files=2)
    for index in range(100):
        writer(can.Message(timestamp=1700000000 + index / 100, arbitration_id=index, is_extended_id=False,
                           data=bytes(8), channel="can0"))
    writer.stop()
    assert sorted(os.listdir(tmp_path)) == [os.path.basename(path) for path in writer.files]
    assert len(writer.files) == 2 and writer.files[-1].endswith("run-%03d.buslog" % writer.counts().files)
    assert all(os.path.getsize(path) < 1024 + 200 for path in writer.files)
    assert writer.counts().framesRemoved > 0 and writer.counts().framesLost == 0


def test_filter_and_triggers_as_can_logger_hands_them_over(tmp_path):
    # python3 -m can.logger ... --log-filter=100:700 --trigger=7E0 --pre=0.25 --post=0.25 --pre-buffer=64k
    import can.logger
    parse = getattr(can.logger, "_parse_additional_config", None)
    if parse is None:
        pytest.skip("this python-can has no can.logger._parse_additional_config")
    config = parse(["--log-filter=100:700", "--trigger=7E0", "--pre=0.25", "--post=0.25", "--pre-buffer=64k"])
    log = tmp_path / "run.buslog"
    writer = can.Logger(str(log), **config)
    for index in range(40):
        ident = 0x7E0 if index == 20 else 0x100 if index % 2 else 0x200
        writer(can.Message(timestamp=1700000000 + index / 16, arbitration_id=ident, is_extended_id=False,
                           data=bytes([index]), channel="can0"))
    writer.stop()
    # The window of the trigger at 1.25 s, 1 s to 1.5 s: its frames the filter keeps (not the trigger's own).
    assert [(m.arbitration_id, m.data[0]) for m in buslog.BuslogReader(str(log))] == [(0x100, 17), (0x100, 19),
                                                                                       (0x100, 21), (0x100, 23)]
    with open(log, "rb") as f:
        text = f.read()
    assert b"buslog filter 100:700\r\n" in text and b"buslog trigger pre 0.25 post 0.25; on 7E0\r\n" in text
    # --trigger=100 comes as an int; a wrong item is the engine's word.
    can.Logger(str(tmp_path / "int.buslog"), trigger=100).stop()
    with pytest.raises(ValueError, match="trigger 7E0#: the data after # must be 1 to 64 bytes"):
        can.Logger(str(tmp_path / "wrong.buslog"), trigger="7E0#")


def test_round_trip_with_names_and_absolute_times(tmp_path):
    channels = ["can0", "vcan 1", 7, None, "PCAN_USBBUS1"]
    messages = [forms(index, channels[index % len(channels)]) for index in range(200)]
    for index, message in enumerate(messages):
        message.timestamp = 1700000000.123456 + index * 0.001001
        message.is_rx = index % 3 != 0
    log = tmp_path / "x.buslog"
    write(log, messages, markers=True)
    back = list(buslog.BuslogReader(str(log)))
    assert len(back) == len(messages)
    for got, sent in zip(back, messages):
        assert round(got.timestamp * 1e6) == round(sent.timestamp * 1e6)
        assert got.channel == sent.channel
        assert (got.arbitration_id, bytes(got.data), got.is_rx) == (sent.arbitration_id, bytes(sent.data), sent.is_rx)


def stray_copies():
    return {name for name in os.listdir(tempfile.gettempdir()) if name.startswith(".buslog-")}


def test_writers_open_at_once_each_get_their_log(tmp_path):
    before = stray_copies()
    writers = [can.Logger(str(tmp_path / f"{n}.buslog"), markers=False) for n in range(3)]
    for round_ in range(3):
        for n, writer in enumerate(writers):
            writer(can.Message(timestamp=round_, arbitration_id=n, is_extended_id=False))
    for writer in writers:
        writer.stop()
    for n in range(3):
        lines = (tmp_path / f"{n}.buslog").read_bytes().split(b"\r\n")
        assert lines == [b"%09d,+%d.000000,I,CAN     , 1,OK,0,0,%02d,0" % (i + 1, i, n) for i in range(3)] + [b""]
    assert sorted(os.listdir(tmp_path)) == ["0.buslog", "1.buslog", "2.buslog"]
    # The engine's private copies of the module are gone with their writers.
    assert stray_copies() == before
    if os.path.exists("/proc/self/maps"):
        with open("/proc/self/maps") as maps:
            assert "/.buslog-" not in maps.read()


def test_threads_share_one_writer(memory_path):
    writer = can.Logger(str(memory_path / "x.buslog"), markers=False)

    def send(thread):
        for index in range(500):
            writer(can.Message(arbitration_id=thread, is_extended_id=False, data=index.to_bytes(2, "big"),
                               channel=f"can{thread}"))

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


def test_log_too_far_from_the_module_is_refused_with_the_reason(tmp_path, module_path, monkeypatch):
    # The module opens logs by their way from its own folder, in 259 bytes.
    deep = tmp_path / ("m" * 120) / ("n" * 100)
    deep.mkdir(parents=True)
    shutil.copy(module_path, deep)
    shutil.copy(os.path.join(os.path.dirname(module_path), "libbuslog-writer.so"), deep)
    monkeypatch.setenv("BUSLOG_MODULE", str(deep / os.path.basename(module_path)))
    log = tmp_path / "logs" / "x.buslog"
    log.parent.mkdir()
    with pytest.raises(OSError, match="more than the 259 it takes; choose a shorter path"):
        can.Logger(str(log))
    assert os.listdir(log.parent) == []


LAYOUT = """
#include <stddef.h>
#include <stdio.h>
#include "buslog_writer.h"
#define SHOW(type, field) printf("%s.%s %zu\\n", #type, #field, offsetof(type, field))
int main(void) {
  printf("Frame %zu\\nOptions %zu\\nReport %zu\\nLoss %zu\\nFile %zu\\nCounts %zu\\n", sizeof(BuslogFrame),
         sizeof(BuslogWriterOptions), sizeof(BuslogWriterReport), sizeof(BuslogWriterLoss), sizeof(BuslogWriterFile),
         sizeof(BuslogWriterCounts));
  SHOW(BuslogFrame, dataLength); SHOW(BuslogFrame, interfaceLength); SHOW(BuslogWriterOptions, queueFrames);
  SHOW(BuslogWriterCounts, queueWaited); SHOW(BuslogWriterCounts, channels); SHOW(BuslogWriterFile, startMicros);
  return 0;
}
"""


def test_the_bindings_lay_out_the_engines_structures_as_its_header(tmp_path):
    compiler = shutil.which("cc")
    if compiler is None:
        pytest.skip("no C compiler to read the header's layout with")
    include = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "include")
    (tmp_path / "layout.c").write_text(LAYOUT)
    subprocess.run([compiler, "-std=c99", "-I", include, "-o", str(tmp_path / "layout"), str(tmp_path / "layout.c")],
                   check=True)
    shown = subprocess.run([str(tmp_path / "layout")], capture_output=True, text=True, check=True).stdout.split()
    from buslog import engine
    types = {"Frame": engine.Frame, "Options": engine.Options, "Report": engine.Report, "Loss": engine.Loss,
             "File": engine.File, "Counts": engine.Counts}
    for name, value in zip(shown[::2], shown[1::2]):
        type_name, _, field = name.replace("BuslogWriter", "").replace("Buslog", "").partition(".")
        bound = types[type_name]
        assert (getattr(bound, field).offset if field else ctypes.sizeof(bound)) == int(value), name


def test_a_module_the_program_loaded_itself_is_left_to_it(tmp_path):
    # The program drives the module by itself, a log open in it; a writer
    # then loads a copy of its own instead of that instance.
    own = buslog.Module()
    own_log = os.path.relpath(tmp_path / "own.buslog", own.directory)
    own.open(own_log)
    try:
        assert write(tmp_path / "w.buslog", [can.Message(arbitration_id=0x1, is_extended_id=False)]) == \
            START + b"I,CAN     , 1,OK,0,0,01,0\r\n"
    finally:
        own.close()
