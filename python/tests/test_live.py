"""The .buslog writer on a live bus: python-can's virtual interface, a
Notifier, python-can's logger program, and processes stopped or killed."""

import os
import signal
import subprocess
import sys
import threading
import time
import uuid

import can
import pytest

from frames import forms

CHILD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "live_child.py")


def lines_of(path):
    """The log's frame lines (marker lines left out), each checked whole:
    CR LF at its end, none inside, frame numbers from 1 without a gap."""
    data = path.read_bytes()
    assert data == b"" or data.endswith(b"\r\n"), "the log ends in a part line"
    lines = [line for line in data.split(b"\r\n")[:-1] if not line.startswith(b"000000000,")]
    for number, line in enumerate(lines, 1):
        assert b"\r" not in line and b"\n" not in line
        assert line.startswith(b"%09d," % number), line
    return lines


def same_frame(got, sent):
    return (got.arbitration_id == sent.arbitration_id and got.is_extended_id == sent.is_extended_id
            and got.is_remote_frame == sent.is_remote_frame and got.is_error_frame == sent.is_error_frame
            and got.is_fd == sent.is_fd and got.bitrate_switch == sent.bitrate_switch
            and got.error_state_indicator == sent.error_state_indicator and bytes(got.data) == bytes(sent.data)
            and (got.dlc == sent.dlc or not got.is_remote_frame))


def wait_for_lines(path, count, seconds=60):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        # Whole frame lines only: the last may still be being written.
        if path.exists() and sum(not line.startswith(b"000000000,")
                                 for line in path.read_bytes().split(b"\r\n")[:-1]) >= count:
            return
        time.sleep(0.02)
    raise AssertionError(f"{path} did not reach {count} lines")


def test_notifier_logs_every_frame_once_in_order(memory_path):
    frames = 10000
    channel = f"live-{uuid.uuid4()}"
    logged = can.Bus(interface="virtual", channel=channel, receive_own_messages=True)
    other = can.Bus(interface="virtual", channel=channel)
    log = memory_path / "x.buslog"
    logger = can.Logger(str(log))
    notifier = can.Notifier(logged, [logger])

    def send():
        # Every third frame is sent by the logged bus itself (kind O).
        for index in range(frames):
            (logged if index % 3 == 0 else other).send(forms(index))

    sender = threading.Thread(target=send)
    sender.start()
    sender.join()
    wait_for_lines(log, frames)
    notifier.stop()
    logger.stop()
    logged.shutdown()
    other.shutdown()

    assert len(lines_of(log)) == frames
    back = list(can.LogReader(str(log)))
    assert len(back) == frames
    for index, message in enumerate(back):
        assert same_frame(message, forms(index)), index
        assert message.is_rx == (index % 3 != 0), index
        assert message.channel == channel


def test_can_logger_stopped_with_sigint_leaves_whole_lines(tmp_path):
    log = tmp_path / "x.buslog"
    child = subprocess.Popen([sys.executable, CHILD, "cli", str(log), f"cli-{uuid.uuid4()}"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        wait_for_lines(log, 500)
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=30)
    finally:
        child.kill()
    assert child.returncode == 0, err.decode()
    lines = lines_of(log)
    assert len(lines) >= 500
    with can.LogReader(str(log)) as reader:
        back = list(reader)
        assert (reader.malformed, reader.unfinished) == (0, 0)
    assert len(back) == len(lines)
    assert os.listdir(tmp_path) == ["x.buslog"]


@pytest.mark.parametrize("mode", ["count", "flushed"], ids=["write-through", "group commit, flush"])
def test_sigkill_loses_no_message_the_writer_returned_from(tmp_path, mode):
    """write-through: every message on_message_received returned from;
    group commit: every message taken before flush() returned."""
    log = tmp_path / "x.buslog"
    child = subprocess.Popen([sys.executable, CHILD, mode, str(log), f"kill-{uuid.uuid4()}"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        returned = 0
        while returned < 2000:
            line = child.stdout.readline()
            assert line, child.stderr.read().decode()
            returned = int(line)
        child.send_signal(signal.SIGKILL)
        rest = child.stdout.read().split(b"\n")
    finally:
        child.kill()
        child.wait()
    # Only whole numbers count: the last one may have been cut by the kill.
    for text in rest[:-1]:
        returned = int(text)
    lines = lines_of(log)
    if mode == "count":
        assert returned <= len(lines) <= returned + 1
    else:
        assert returned <= len(lines)
    back = list(can.LogReader(str(log)))
    assert len(back) == len(lines)
    for index, message in enumerate(back):
        assert same_frame(message, forms(index)), index
