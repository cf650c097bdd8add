"""Group commit: the engine's thread writes the messages at hand, several
lines a sync, and on_message_received never waits for one; the log is the
one that write-through gives."""

import json
import os
import subprocess
import sys

import can
import pytest

import buslog
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


def mixed(count):
    messages = []
    for index in range(count):
        message = forms(index)
        message.channel = index % 3 if index % 5 else f"vcan{index % 4}"
        message.timestamp = 1700000000.0 + index * 0.0007
        messages.append(message)
    return messages


def logs_of(path, messages, **options):
    """The files a writer leaves (a time jump without markers begins one)."""
    with can.Logger(str(path), **options) as writer:
        for message in messages:
            writer(message)
    return [open(name, "rb").read() for name in writer.files]


@pytest.mark.parametrize("markers", [True, False], ids=["markers", "no markers"])
def test_group_commit_gives_the_log_of_write_through(memory_path, markers):
    messages = every_form() + mixed(3000)
    for index, message in enumerate(messages[:len(messages) - 3000]):
        message.channel = index % 7
        message.timestamp = 1600000000.0 + index * 0.25  # times that renew the time base
    through = logs_of(memory_path / "through.buslog", messages, write_through=True, markers=markers)
    grouped = logs_of(memory_path / "grouped.buslog", messages, markers=markers)
    assert grouped == through
    assert len(grouped) == (1 if markers else 2)
    assert sum(len(list(can.LogReader(str(path)))) for path in memory_path.glob("grouped*")) == len(messages)


def test_flush_waits_until_queued_lines_are_in_the_log(memory_path):
    log = memory_path / "x.buslog"
    writer = buslog.BuslogWriter(str(log), markers=False)
    for round_ in range(5):
        for message in mixed(700):
            writer(message)
        writer.flush()
        assert log.read_bytes().count(b"\r\n") == 700 * (round_ + 1)
    writer.stop()
    assert writer.counts().framesLogged == 3500


def test_messages_after_stop_are_refused(memory_path):
    writer = buslog.BuslogWriter(str(memory_path / "x.buslog"))
    writer(forms(0))
    writer.stop()
    writer.stop()  # a second stop does nothing
    with pytest.raises(ValueError, match="stopped"):
        writer(forms(1))
    writer.flush()  # nothing to wait for
    assert writer.counts().framesAdded == 1


# Logs COUNT messages on a device that takes 2 ms a sync (the preloaded
# model), and prints the engine's counts.
ON_A_SLOW_DEVICE = """
import json, sys
import can
from frames import forms
writer = can.Logger(sys.argv[1], **json.loads(sys.argv[3]))
for index in range(int(sys.argv[2])):
    message = forms(index)
    message.timestamp = 1700000000 + index / 1000
    writer(message)
writer.stop()
counts = writer.counts()
print(json.dumps({name: getattr(counts, name) for name in ("framesLogged", "writes", "queueDeepest", "queueWaited")}))
"""


def on_a_slow_device(module_path, log, count, **options):
    model = os.path.join(os.path.dirname(module_path), "..", "bench", "libsync_delay.so")
    if not os.path.isfile(model):
        pytest.skip(f"no model of a slow device at {model}")
    env = dict(os.environ, LD_PRELOAD=os.path.abspath(model), BUSLOG_SYNC_DELAY_MS="2",
               PYTHONPATH=os.path.dirname(os.path.abspath(__file__)))
    done = subprocess.run([sys.executable, "-c", ON_A_SLOW_DEVICE, str(log), str(count), json.dumps(options)], env=env,
                          capture_output=True, check=True, timeout=120)
    return json.loads(done.stdout)


def test_a_slow_device_gets_many_lines_a_sync_and_never_holds_the_caller(memory_path, module_path):
    counts = on_a_slow_device(module_path, memory_path / "x.buslog", 2000)
    assert counts["framesLogged"] == 2000
    # Some 57 of these lines fit one Write; the messages came far faster
    # than 2 ms apart, so most Writes were full.
    assert counts["writes"] < 2000 / 10
    assert counts["queueWaited"] == 0.0
    lines = (memory_path / "x.buslog").read_bytes().split(b"\r\n")[:-1]
    assert [int(line[:9]) for line in lines if not line.startswith(b"000000000")] == list(range(1, 2001))


def test_a_full_queue_holds_the_caller_until_the_device_catches_up(memory_path, module_path):
    counts = on_a_slow_device(module_path, memory_path / "x.buslog", 2000, max_queue="50")  # as can.logger hands it over
    assert counts["framesLogged"] == 2000
    assert counts["queueDeepest"] <= 50 and counts["queueWaited"] > 0
    with pytest.raises(ValueError, match="max_queue must be a whole number, 1 or more, not 'x'"):
        buslog.BuslogWriter(str(memory_path / "y.buslog"), max_queue="x")


def test_write_through_writes_each_message_alone(memory_path, module_path):
    counts = on_a_slow_device(module_path, memory_path / "x.buslog", 300, write_through=True)
    assert counts["framesLogged"] == 300 and counts["writes"] == 300
