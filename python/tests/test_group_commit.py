"""Group commit: several lines a Write, within the module's line limit, and
the same log as one Write a line."""

import threading

import can
import pytest

import buslog
from buslog.writer import LINE_LIMIT, encode, frame_line_length
from frames import forms


def every_form():
    """Messages of every frame form: standard and extended data of 0 to 8
    bytes and the "_X" lengths, remote frames of every length, CAN FD of
    every length with each flag, error frames of 0 to 8 bytes."""
    messages = []
    for extended in (False, True):
        identifier = 0x1FFFFFFF if extended else 0x7FF
        for size in range(9):
            messages.append(can.Message(arbitration_id=identifier, is_extended_id=extended, data=bytes(size)))
        for dlc in range(9, 16):
            messages.append(can.Message(arbitration_id=identifier, is_extended_id=extended, data=bytes(8), dlc=dlc,
                                        check=False))
        for dlc in range(16):
            messages.append(can.Message(arbitration_id=identifier, is_extended_id=extended, is_remote_frame=True,
                                        dlc=dlc, check=False))
        for size in range(65):
            messages.append(can.Message(arbitration_id=identifier, is_extended_id=extended, is_fd=True,
                                        bitrate_switch=size % 2 == 1, error_state_indicator=size % 3 == 1,
                                        data=bytes(size), check=False))
    for size in range(9):
        messages.append(can.Message(arbitration_id=0x1FFFFFFF, is_error_frame=True, data=bytes(size)))
    return messages


# (first frame number, channel): frame numbers of 9 and 10 digits, channels
# of 2 to 10 characters.
NUMBERS_AND_CHANNELS = [(1, 0), (999999990, 98), (999999999, 99), (1000000000, 12345), (4294967000, 0x7FFFFFFE)]


@pytest.mark.parametrize("first,channel", NUMBERS_AND_CHANNELS)
def test_worked_out_line_length_is_the_modules(tmp_path, first, channel):
    messages = every_form()
    writer = buslog.BuslogWriter(str(tmp_path / "x.buslog"), write_through=True, markers=False)
    writer._frame_number = first - 1
    expected = []
    for index, message in enumerate(messages):
        message.channel = channel
        message.timestamp = index * 1.5  # time fields of every width
        expected.append(frame_line_length(encode(message)[5], first + index, channel))
        writer(message)
    writer.stop()
    lines = (tmp_path / "x.buslog").read_bytes().split(b"\r\n")[:-1]
    assert [len(line) for line in lines] == expected


def test_worked_out_marker_length_is_the_modules(tmp_path):
    names = ["can0", "", "x" * 3000, "ä" * 1500 + "b", "a\r\nb\0c"]
    messages = [can.Message(timestamp=1.0, arbitration_id=1, is_extended_id=False, channel=name) for name in names]
    writer = buslog.BuslogWriter(str(tmp_path / "x.buslog"), write_through=True)
    for message in messages:
        writer(message)
    writer.stop()
    lines = (tmp_path / "x.buslog").read_bytes().split(b"\r\n")[:-1]
    markers = [line for line in lines if line.startswith(b"000000000,")]
    assert len(markers) == 2 + len(names) - 1  # none for the empty name
    for line in markers:
        assert len(line) == buslog.writer._marker_length(line.split(b",OK,", 1)[1])
        assert len(line) <= LINE_LIMIT
    # Names are kept whole up to 2048 bytes, cut at a character; CR, LF and
    # NUL become blanks. An empty name is no name: its channel reads back
    # as its number.
    named = [message.channel for message in buslog.BuslogReader(str(tmp_path / "x.buslog"))]
    assert named == ["can0", 1, "x" * 2048, "ä" * 1024, "a  b c"]


def mixed(count, first_channel=0):
    messages = []
    for index in range(count):
        message = forms(index)
        message.channel = (first_channel + index % 3) if index % 5 else f"vcan{index % 4}"
        message.timestamp = 1700000000.0 + index * 0.0007
        messages.append(message)
    return messages


def write_held(path, messages, first=0, **options):
    """Logs `messages` in group commit, holding the module for the writer's
    thread until all are queued, so that they go in full batches."""
    writer = buslog.BuslogWriter(str(path), **options)
    writer._frame_number = first
    with writer._module.lock:
        for message in messages:
            writer(message)
    writer.stop()
    return writer


@pytest.mark.parametrize("markers", [True, False], ids=["markers", "no markers"])
def test_full_batches_give_the_log_of_one_write_a_line(memory_path, markers):
    messages = mixed(3000, first_channel=97)
    one_each = memory_path / "one.buslog"
    writer = buslog.BuslogWriter(str(one_each), write_through=True, markers=markers)
    writer._frame_number = 999999000  # across 10-digit frame numbers
    for message in messages:
        writer(message)
    writer.stop()
    batched = memory_path / "batched.buslog"
    grouped = write_held(batched, messages, first=999999000, markers=markers)
    data = batched.read_bytes()
    assert data == one_each.read_bytes()
    # Batches were near full: one Write for no more than a line limit less
    # the longest line (a CAN FD frame of 64 bytes, under 300 bytes).
    assert grouped.writes <= len(data) // (LINE_LIMIT - 300) + 1
    assert writer.writes == len(messages)  # a frame and its markers in one Write


def test_stop_logs_everything_queued(memory_path):
    messages = mixed(5000)
    log = memory_path / "x.buslog"
    write_held(log, messages, markers=False)
    back = list(can.LogReader(str(log)))
    assert len(back) == 5000
    assert [bytes(m.data) for m in back] == [bytes(m.data) if not m.is_remote_frame else b"" for m in messages]


def test_flush_waits_until_queued_lines_are_in_the_log(memory_path):
    log = memory_path / "x.buslog"
    writer = buslog.BuslogWriter(str(log), markers=False)
    for round_ in range(5):
        for message in mixed(700):
            writer(message)
        writer.flush()
        assert log.read_bytes().count(b"\r\n") == 700 * (round_ + 1)
    writer.stop()


def test_messages_after_stop_are_refused(memory_path):
    writer = buslog.BuslogWriter(str(memory_path / "x.buslog"))
    writer.stop()
    writer.stop()  # a second stop does nothing
    with pytest.raises(ValueError, match="stopped"):
        writer(forms(0))


def test_a_full_queue_holds_the_caller_until_the_device_catches_up(memory_path):
    log = memory_path / "x.buslog"
    writer = buslog.BuslogWriter(str(log), markers=False, max_queue="50")  # as can.logger hands it over
    messages = mixed(200)
    sender = threading.Thread(target=lambda: [writer(message) for message in messages])
    with writer._module.lock:  # the device does not take a line
        sender.start()
        sender.join(timeout=2)
        assert sender.is_alive()
        assert writer._taken == 50
    sender.join(timeout=60)
    assert not sender.is_alive()
    writer.stop()
    assert log.read_bytes().count(b"\r\n") == 200
    with pytest.raises(ValueError, match="max_queue must be a whole number of messages, 1 or more, not 'x'"):
        buslog.BuslogWriter(str(memory_path / "y.buslog"), max_queue="x")
