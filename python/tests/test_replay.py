"""The .buslog writer against buslog-host replay, and logs read back."""

import os
import shutil
import subprocess
import sys

import can
import pytest

from frames import TRACE, read_trace


def replay(host_path, module_copy, trace, name="replay.buslog"):
    """The log buslog-host replay writes of `trace` (beside the module)."""
    subprocess.run([host_path, "replay", str(trace), "--name", name, "--module", module_copy, "--quiet"],
                   check=True, capture_output=True)
    with open(os.path.join(os.path.dirname(module_copy), name), "rb") as file:
        return file.read()


def write_through_logger(path, messages, **options):
    with can.Logger(str(path), **options) as logger:
        for message in messages:
            logger(message)


MODES = [pytest.param({"write_through": False}, id="group commit"),
         pytest.param({"write_through": True}, id="write-through")]


def replay_without_markers(host_path, module_copy, trace):
    """buslog-host replay's log of `trace` without marker lines (a host that
    writes markers is asked to leave them out)."""
    done = subprocess.run([host_path, "replay", "--help"], capture_output=True)
    help_text = done.stdout + done.stderr
    name = "replay.buslog"
    command = [host_path, "replay", str(trace), "--name", name, "--module", module_copy, "--quiet"]
    if b"--no-markers" in help_text:
        command.append("--no-markers")
    subprocess.run(command, check=True, capture_output=True)
    with open(os.path.join(os.path.dirname(module_copy), name), "rb") as file:
        return file.read()


def without_writer_line(log):
    """The log's lines but its `buslog writer` line, the one line in which
    buslog-host's log and the python writer's differ."""
    return [line for line in log.split(b"\r\n") if b",M,Marker  , -,OK,buslog writer " not in line]


@pytest.mark.parametrize("options", MODES)
def test_writer_gives_the_replays_log_byte_for_byte(tmp_path, host_path, module_copy, options):
    trace = tmp_path / "trace.log"
    trace.write_text(TRACE)
    expected = replay_without_markers(host_path, module_copy, trace)
    assert expected.count(b"\r\n") == len(TRACE.splitlines())

    log = tmp_path / "out" / "run.buslog"
    log.parent.mkdir()
    write_through_logger(log, read_trace(str(trace)), markers=False, **options)
    assert log.read_bytes() == expected
    assert os.listdir(log.parent) == ["run.buslog"]


@pytest.mark.parametrize("options", MODES)
def test_writer_gives_the_replays_log_with_markers(tmp_path, host_path, module_copy, options):
    trace = tmp_path / "trace.log"
    trace.write_text(TRACE)
    expected = replay(host_path, module_copy, trace)
    if b"buslog start " not in expected:
        pytest.skip("buslog-host writes no markers yet")
    log = tmp_path / "run.buslog"
    write_through_logger(log, read_trace(str(trace)), **options)
    assert without_writer_line(log.read_bytes()) == without_writer_line(expected)
    assert b",buslog writer buslog-python " in log.read_bytes()


def comparable(message, channel):
    """What a .buslog log keeps of a message: all but the absolute time
    and the channel's name."""
    return (message.arbitration_id, message.is_extended_id, message.is_remote_frame, message.is_error_frame,
            message.is_fd, message.bitrate_switch, message.error_state_indicator, message.dlc,
            bytes(message.data), message.is_rx, channel)


def resolution(seconds):
    """The step of the log's time field at `seconds`: it keeps nine
    characters, "+1.234567" but "+47.75028"."""
    whole_digits = len(str(int(seconds)))
    return 10.0 ** -(7 - whole_digits) if whole_digits < 7 else 1.0


def assert_same_messages(got, expected, channels, absolute=False):
    """`got` read back from a log of `expected`; `absolute`: the log has its
    marker lines, so its times are the originals to the microsecond; else
    the time since the first frame (0 for a frame before it), cut to the
    field's resolution."""
    assert len(got) == len(expected)
    first = round(expected[0].timestamp * 1e6)
    for index, (back, original) in enumerate(zip(got, expected)):
        assert comparable(back, back.channel) == comparable(original, channels[original.channel]), index
        if absolute:
            assert round(back.timestamp * 1e6) == round(original.timestamp * 1e6), index
            continue
        since = max(round(original.timestamp * 1e6) - first, 0) / 1e6
        assert since - resolution(since) < back.timestamp <= since + 1e-9, index


def test_reader_gives_the_traces_messages_back(tmp_path):
    trace = tmp_path / "trace.log"
    trace.write_text(TRACE)
    messages = read_trace(str(trace))
    log = tmp_path / "run.buslog"
    write_through_logger(log, messages, markers=False)

    back = list(can.LogReader(str(log)))
    assert_same_messages(back, messages, {"can0": 0, "can1": 1})
    # An optional start time is added to every time stamp of a log that
    # does not say when it began.
    with can.LogReader(str(log), start=1000.5) as reader:
        assert [m.timestamp for m in reader] == [m.timestamp + 1000.5 for m in back]

    # With markers, the names and absolute times come back.
    write_through_logger(log, messages, overwrite=True)
    assert_same_messages(list(can.LogReader(str(log))), messages, {"can0": "can0", "can1": "can1"}, absolute=True)


def test_logconvert_to_asc_and_back(tmp_path):
    trace = tmp_path / "trace.log"
    trace.write_text(TRACE)
    run = tmp_path / "run.buslog"
    subprocess.run([sys.executable, "-m", "can.logconvert", str(trace), str(run)], check=True, capture_output=True)
    original = list(can.LogReader(str(run)))
    assert len(original) == len(TRACE.splitlines())

    asc = tmp_path / "run.asc"
    back = tmp_path / "back.buslog"
    subprocess.run([sys.executable, "-m", "can.logconvert", str(run), str(asc)], check=True, capture_output=True)
    subprocess.run([sys.executable, "-m", "can.logconvert", str(asc), str(back)], check=True, capture_output=True)
    # The frame lines come back line for line, but for what python-can
    # 4.1.0's ASC format keeps: no channel for an error frame (its writer
    # puts them all on channel 1), and its reader takes an empty CAN FD
    # frame for a remote frame. (Its interface names and start time do not
    # pass ASC: the marker lines differ.)
    lines = [line for line in run.read_bytes().split(b"\r\n") if not line.startswith(b"000000000,")]
    lines_back = [line for line in back.read_bytes().split(b"\r\n") if not line.startswith(b"000000000,")]
    assert len(lines_back) == len(lines)
    for line, line_back, message in zip(lines, lines_back, original + [None]):
        if message is not None and message.is_error_frame:
            assert line_back == line[:31] + b" 1" + line[33:]
        elif message is not None and message.is_fd and not message.data:
            assert line_back == line[:-4] + b"RTR"
        else:
            assert line_back == line


SHARED_DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "shared", "data")


def shared_traces(suffix):
    if not os.path.isdir(SHARED_DATA):
        return []
    return sorted(name for name in os.listdir(SHARED_DATA) if name.endswith(suffix))


@pytest.mark.skipif(not shared_traces(".log"), reason="no real candump traces in ../shared/data")
@pytest.mark.parametrize("options", MODES)
@pytest.mark.parametrize("name", shared_traces(".log"))
def test_real_candump_trace_gives_the_replays_log(memory_path, host_path, module_copy, name, options):
    trace = os.path.join(SHARED_DATA, name)
    expected = replay_without_markers(host_path, module_copy, trace)
    log = memory_path / "run.buslog"
    write_through_logger(log, can.LogReader(trace), markers=False, **options)
    assert log.read_bytes() == expected


@pytest.mark.skipif(not shared_traces(".log"), reason="no real candump traces in ../shared/data")
@pytest.mark.parametrize("name", shared_traces(".log"))
def test_real_candump_trace_gives_the_replays_log_with_markers(memory_path, host_path, module_copy, name):
    trace = os.path.join(SHARED_DATA, name)
    expected = replay(host_path, module_copy, trace)
    if b"buslog start " not in expected:
        pytest.skip("buslog-host writes no markers yet")
    log = memory_path / "run.buslog"
    write_through_logger(log, can.LogReader(trace))
    assert without_writer_line(log.read_bytes()) == without_writer_line(expected)


@pytest.mark.skipif(not shared_traces(".asc"), reason="no real ASC logs in ../shared/data")
@pytest.mark.parametrize("name", shared_traces(".asc"))
def test_real_asc_log_comes_back(tmp_path, name):
    original = list(can.LogReader(os.path.join(SHARED_DATA, name)))
    log = tmp_path / "run.buslog"
    write_through_logger(log, original)
    # ASC channels come as integers, which the log keeps as they are.
    channels = {message.channel: message.channel for message in original}
    assert all(isinstance(channel, int) for channel in channels)
    assert_same_messages(list(can.LogReader(str(log))), original, channels, absolute=True)


def test_length_codes_python_can_cannot_read(tmp_path, host_path, module_copy):
    # python-can 4.1.0's candump reader fails on candump's "_X"; the
    # messages are built here as SocketCAN delivers such frames.
    trace = tmp_path / "trace.log"
    trace.write_text("(1436509052.249713) can0 123#1122334455667788_C\n"
                     "(1436509052.250000) can1 12345678#0102030405060708_9 T\n")
    expected = replay_without_markers(host_path, module_copy, trace)
    messages = [
        can.Message(timestamp=1436509052.249713, arbitration_id=0x123, is_extended_id=False,
                    data=bytes.fromhex("1122334455667788"), dlc=12, channel="can0", check=False),
        can.Message(timestamp=1436509052.250000, arbitration_id=0x12345678, is_extended_id=True,
                    data=bytes.fromhex("0102030405060708"), dlc=9, channel="can1", is_rx=False, check=False),
    ]
    log = tmp_path / "run.buslog"
    write_through_logger(log, messages, markers=False)
    assert log.read_bytes() == expected
    back = list(can.LogReader(str(log)))
    assert [(m.dlc, bytes(m.data)) for m in back] == [(12, messages[0].data), (9, messages[1].data)]
