"""The .buslog writer: the line of each message, and where the log lands."""

import os
import shutil
import subprocess
import sys
import tempfile
import threading
import warnings

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
    ("integer channel", can.Message(arbitration_id=0x1, is_extended_id=False, channel=5),
     b"I,CAN     , 6,OK,0,0,01,0"),
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
        b"000000003,+0.000000,I,CAN     , 8,OK,0,0,01,0",  # earlier than the first, by less than 1 s
        b"000000004,+1.234568,I,CAN     , 3,OK,0,0,01,0",
        b"000000005,+89.00000,I,CAN     , 1,OK,0,0,01,0",
        b"000000006,+88.50000,I,CAN     , 3,OK,0,0,01,0",  # 0.5 s before the latest: no jump
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

    writer = can.Logger(str(tmp_path / "x.buslog"), markers=False)
    for match, message in REFUSED:
        with pytest.raises(ValueError, match=match):
            writer(message)
    writer(can.Message(arbitration_id=0x1, is_extended_id=False))  # the writer goes on
    writer.stop()
    with pytest.raises(ValueError, match="stopped"):
        writer(can.Message(arbitration_id=0x1))
    assert (tmp_path / "x.buslog").read_bytes() == START + b"I,CAN     , 1,OK,0,0,01,0\r\n"

    # A start time that a log's start marker cannot say.
    with can.Logger(str(tmp_path / "m.buslog")) as writer:
        for stamp in (-1.0, 1e12):
            with pytest.raises(ValueError, match="outside the years 1970 to 9999"):
                writer(can.Message(timestamp=stamp, arbitration_id=0x1))
    assert (tmp_path / "m.buslog").read_bytes() == b""


# (what the error says, a message no bus can carry or the log cannot show)
REFUSED = [
    ("11 bits", can.Message(arbitration_id=0x800, is_extended_id=False)),
    ("29 bits", can.Message(arbitration_id=0x20000000)),
    ("64 data bytes", can.Message(arbitration_id=0x1, is_fd=True, data=bytes(65), check=False)),
    ("classic CAN frame carries at most 8", can.Message(arbitration_id=0x1, data=bytes(12), check=False)),
    ("0 to 15, not 16", can.Message(arbitration_id=0x1, is_remote_frame=True, dlc=16, check=False)),
    ("error class 0x20000004 is wider than 29 bits",
     can.Message(arbitration_id=0x20000004, is_error_frame=True, data=bytes(8), check=False)),
    ("not a finite", can.Message(timestamp=float("inf"), arbitration_id=0x1)),
    ("not a finite", can.Message(timestamp=float("nan"), arbitration_id=0x1)),
    ("not a finite", can.Message(timestamp=float("-inf"), arbitration_id=0x1)),
]


@pytest.mark.parametrize("value,expected", [("true", True), ("False", False), ("1", True), ("0", False), (1, True),
                                            (0, False), (True, True), ("no", False)])
def test_flags_as_can_logger_hands_them_over(tmp_path, value, expected):
    writer = buslog.BuslogWriter(str(tmp_path / "x.buslog"), write_through=value, markers=value)
    writer.stop()
    assert (writer.write_through, writer.markers) == (expected, expected)


def test_flag_that_is_neither_is_refused(tmp_path):
    with pytest.raises(ValueError, match="write_through must be true or false, not 'maybe'"):
        buslog.BuslogWriter(str(tmp_path / "x.buslog"), write_through="maybe")
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
    write(log, [can.Message(arbitration_id=0x3, is_extended_id=False)])
    assert log.read_bytes() == START + b"I,CAN     , 1,OK,0,0,03,0\r\n"


def marker(time, text):
    return b"000000000,+%s,M,Marker  , -,OK,%s" % (time, text)


WRITER_LINE = marker(b"0.000000", b"buslog writer buslog-python " + buslog.__version__.encode())


def frame_line(number, time):
    return b"%09d,+%s,I,CAN     , 1,OK,0,1,23,0" % (number, time)


# (name, time stamps, the log's lines with markers, how many messages are
# logged with markers=False before one is refused)
TIME_ROWS = [
    ("0.0 then epoch times", [0.0, 1.48e9, 1.48e9 + 0.25], [
        marker(b"0.000000", b"buslog start 1970-01-01T00:00:00.000000Z"), WRITER_LINE,
        marker(b"0.000000", b"buslog channel 1 can0"), frame_line(1, b"0.000000"),
        marker(b"0.000000", b"buslog start 2016-11-24T15:06:40.000000Z"),
        marker(b"0.000000", b"buslog channel 1 can0"), frame_line(2, b"0.000000"), frame_line(3, b"0.250000"),
    ], 1),
    ("clock steps back by an hour", [1e9, 1e9 + 1.5, 1e9 + 1.5 - 3600, 1e9 + 0.5 - 3600], [
        marker(b"0.000000", b"buslog start 2001-09-09T01:46:40.000000Z"), WRITER_LINE,
        marker(b"0.000000", b"buslog channel 1 can0"), frame_line(1, b"0.000000"), frame_line(2, b"1.500000"),
        marker(b"0.000000", b"buslog start 2001-09-09T00:46:41.500000Z"),
        marker(b"0.000000", b"buslog channel 1 can0"), frame_line(3, b"0.000000"),
        frame_line(4, b"0.000000"),  # 1 s before the latest, before the base: stamped as the base
    ], 2),
    ("past 100,000,000 s", [1000.0, 1000.0 + 99999999.5, 1000.0 + 100000000.0], [
        marker(b"0.000000", b"buslog start 1970-01-01T00:16:40.000000Z"), WRITER_LINE,
        marker(b"0.000000", b"buslog channel 1 can0"), frame_line(1, b"0.000000"), frame_line(2, b"99999999"),
        marker(b"0.000000", b"buslog start 1973-03-03T10:03:20.000000Z"),
        marker(b"0.000000", b"buslog channel 1 can0"), frame_line(3, b"0.000000"),
    ], 2),
    ("past 2^32 s", [0.5, 4294967296.5], [
        marker(b"0.000000", b"buslog start 1970-01-01T00:00:00.500000Z"), WRITER_LINE,
        marker(b"0.000000", b"buslog channel 1 can0"), frame_line(1, b"0.000000"),
        marker(b"0.000000", b"buslog start 2106-02-07T06:28:16.500000Z"),
        marker(b"0.000000", b"buslog channel 1 can0"), frame_line(2, b"0.000000"),
    ], 1),
    ("out of order by microseconds", [5.0, 5.000002, 4.999999], [
        marker(b"0.000000", b"buslog start 1970-01-01T00:00:05.000000Z"), WRITER_LINE,
        marker(b"0.000000", b"buslog channel 1 can0"), frame_line(1, b"0.000000"), frame_line(2, b"0.000002"),
        frame_line(3, b"0.000000"),
    ], 3),
]


@pytest.mark.parametrize("options", [{"write_through": False}, {"write_through": True}],
                         ids=["group commit", "write-through"])
@pytest.mark.parametrize("name,stamps,expected,logged_without_markers", TIME_ROWS, ids=[r[0] for r in TIME_ROWS])
def test_time_jumps(tmp_path, name, stamps, expected, logged_without_markers, options):
    messages = [can.Message(timestamp=stamp, arbitration_id=0x123, is_extended_id=False, channel="can0")
                for stamp in stamps]
    jumps = sum(line.startswith(marker(b"0.000000", b"buslog start")) for line in expected) - 1
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        assert write(tmp_path / "on.buslog", messages, markers=True, **options).split(b"\r\n") == expected + [b""]
    said = [str(w.message) for w in caught if issubclass(w.category, RuntimeWarning)]
    assert len(said) == jumps and all("begins a new time base" in text for text in said)

    # Read back: the absolute times to the microsecond (where the field keeps
    # them) and the channel's name.
    back = list(can.LogReader(str(tmp_path / "on.buslog")))
    assert [m.channel for m in back] == ["can0"] * len(stamps)
    for message, stamp in zip(back, stamps):
        # (The field keeps whole seconds at 99,999,999 s; a frame before
        # its base is stamped as the base.)
        early = 1.0 if name == "past 100,000,000 s" else 1.1e-6
        late = 1.0 if name == "clock steps back by an hour" else 1.1e-6
        assert stamp - early <= message.timestamp <= stamp + late

    # Without markers, the jump is refused and nothing of it written.
    writer = can.Logger(str(tmp_path / "off.buslog"), markers=False, **options)
    for index, message in enumerate(messages):
        if index < logged_without_markers:
            writer(message)
        else:
            with pytest.raises(ValueError, match="markers=False the log cannot begin a new time base"):
                writer(message)
    writer.stop()
    lines = (tmp_path / "off.buslog").read_bytes().split(b"\r\n")
    assert len(lines) == logged_without_markers + 1
    assert [line for line in lines if line] == [line for line in expected if not line.startswith(b"000000000,")][
        :logged_without_markers]


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
    named = {"can0": "can0", "vcan 1": "vcan 1", 7: 7, None: 2, "PCAN_USBBUS1": "PCAN_USBBUS1"}
    for got, sent in zip(back, messages):
        assert round(got.timestamp * 1e6) == round(sent.timestamp * 1e6)
        assert got.channel == named[sent.channel]
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
    writer = can.Logger(str(memory_path / "x.buslog"), markers=False)

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


# Logs 100 messages under a file size limit; prints how many it handed
# over, the frames that the log did not take, as the WriteErrors said, the
# reasons, and where each error came: at a call or at stop(). In group
# commit, the first 60 are queued while the writer's thread is held, so
# that they go in full batches, one of which fails in the middle.
FILL_UNTIL_FULL = """
import resource, signal, sys, time
import can, buslog
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
resource.setrlimit(resource.RLIMIT_FSIZE, (int(sys.argv[3]), int(sys.argv[3])))
through = sys.argv[2] == "true"
writer = can.Logger(sys.argv[1], write_through=through)
lost, reasons, where, taken = [], set(), [], 0
def note(error, at):
    lost.extend(error.frames)
    reasons.add(str(error).split(": ", 1)[1])
    where.append(at)
def send(index):
    global taken
    try:
        writer(can.Message(timestamp=index * 0.01, arbitration_id=index, is_extended_id=False, data=bytes(8)))
        taken += 1
    except buslog.WriteError as error:
        taken += through  # written through: this message's own line failed
        note(error, "call")
if through:
    for index in range(60):
        send(index)
else:
    with writer._module.lock:
        for index in range(60):
            send(index)
    while writer._written < 60:
        time.sleep(0.01)
for index in range(60, 100):
    send(index)
try:
    writer.stop()
except buslog.WriteError as error:
    note(error, "stop")
print(taken, " ".join(map(str, lost)), "|", "; ".join(sorted(reasons)), "|", " ".join(where))
"""


def frame_numbers(data):
    lines = data.split(b"\r\n")
    assert lines[-1] == b""
    return [int(line[:9]) for line in lines[:-1] if not line.startswith(b"000000000,")]


@pytest.mark.parametrize("write_through", ["false", "true"], ids=["group commit", "write-through"])
def test_failed_write_is_reported_with_its_reason(tmp_path, write_through):
    log = tmp_path / "x.buslog"
    done = subprocess.run([sys.executable, "-c", FILL_UNTIL_FULL, str(log), write_through, "2000"],
                          capture_output=True, check=True)
    counts, reasons, where = done.stdout.decode().split("|")
    taken, *lost = counts.split()
    assert reasons.strip() == "File too large (errno 27)"
    # Said at the next call (group commit: once for the failed batches,
    # once for the later ones; write-through: at each call whose line
    # failed), and the frames not yet reported at stop().
    where = where.split()
    assert where[0] == "call" and where.count("stop") <= 1 and where[-1] in ("call", "stop")
    if write_through == "false":
        assert where.count("call") == 1
    written = frame_numbers(log.read_bytes())
    # Every frame taken is either in the log, whole, or reported lost;
    # never both, never neither.
    assert sorted(written + [int(n) for n in lost]) == list(range(1, int(taken) + 1))
    assert lost and written == list(range(1, len(written) + 1))
    assert len(log.read_bytes()) <= 2000


def mount_tmpfs(path, size):
    if os.geteuid() != 0 or not shutil.which("mount"):
        pytest.skip("mounting a small tmpfs needs root")
    path.mkdir()
    done = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", str(path)], capture_output=True)
    if done.returncode != 0:
        pytest.skip(f"cannot mount a tmpfs here: {done.stderr.decode().strip()}")


@pytest.mark.parametrize("write_through", [False, True], ids=["group commit", "write-through"])
def test_full_disk_is_reported_with_its_reason_and_writing_resumes(tmp_path, write_through):
    disk = tmp_path / "disk"
    mount_tmpfs(disk, "64k")
    try:
        filler = disk / "filler"
        filler.write_bytes(b"x" * 48 * 1024)
        log = disk / "x.buslog"
        writer = can.Logger(str(log), write_through=write_through)
        errors = []
        taken = 0
        for index in range(400):
            if index == 300:
                try:
                    writer.flush()  # every frame so far written, or reported
                except buslog.WriteError as error:
                    errors.append(error)
                filler.unlink()  # room again
            try:
                writer(can.Message(timestamp=index * 0.01, arbitration_id=index, is_extended_id=False, data=bytes(8)))
                taken += 1
            except buslog.WriteError as error:
                taken += write_through
                errors.append(error)
        try:
            writer.stop()
        except buslog.WriteError as error:
            errors.append(error)
        assert errors and all(error.errno == 28 and "No space left on device (errno 28)" in str(error)
                              for error in errors)
        lost = [n for error in errors for n in error.frames]
        written = frame_numbers(log.read_bytes())
        assert sorted(written + lost) == list(range(1, taken + 1))
        assert written[-1] == taken  # written again once there was room
    finally:
        subprocess.run(["umount", "--lazy", str(disk)], check=True)
