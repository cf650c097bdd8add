"""The .buslog writer when the storage fails, through python-can: a log
deleted under a Notifier, a file-size limit, a disk that fills and frees
under a Notifier (a real tmpfs as root, the preloaded fault library
otherwise). python-can's Notifier ends its thread at a listener's first
exception, so on_message_received must survive every fault: each test
checks that every message got a frame number, that each number is either
in a log, once, in a whole line, or named as lost by flush()/stop(), and
that logging went on after the fault."""

import json
import logging
import os
import shutil
import subprocess
import sys
import time
import uuid

import can
import pytest

import buslog

CHILD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "faults_child.py")
MODES = [pytest.param(False, id="group commit"), pytest.param(True, id="write-through")]


def frame_numbers(path):
    """The frame numbers of a log's frame lines, every line whole."""
    data = open(path, "rb").read()
    assert data == b"" or data.endswith(b"\r\n"), f"{path} ends in a part line"
    return [int(line[:9]) for line in data.split(b"\r\n")[:-1] if not line.startswith(b"000000000,")]


def run_child(*args, env=None):
    done = subprocess.run([sys.executable, CHILD, *map(str, args)], capture_output=True, timeout=60,
                          env=dict(os.environ, **(env or {})))
    assert done.returncode == 0, done.stderr.decode()
    return json.loads(done.stdout), done.stderr.decode()


def wait_for_frames(path, count):
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if path.exists() and len(frame_numbers(path)) >= count:
            return
        time.sleep(0.01)
    raise AssertionError(f"{path} did not reach {count} frames")


@pytest.mark.parametrize("write_through", MODES)
def test_deleted_log_under_a_notifier_goes_on_in_a_new_file(tmp_path, caplog, write_through):
    channel = f"deleted-{uuid.uuid4()}"
    bus, sender = can.Bus(interface="virtual", channel=channel), can.Bus(interface="virtual", channel=channel)
    log = tmp_path / "x.buslog"
    writer = can.Logger(str(log), write_through=write_through)
    notifier = can.Notifier(bus, [writer])
    with caplog.at_level(logging.WARNING, logger="buslog.writer"):
        for index in range(500):
            if index == 100:
                wait_for_frames(log, 100)
                os.remove(log)
            sender.send(can.Message(arbitration_id=index, is_extended_id=False, data=index.to_bytes(2, "big")))
            time.sleep(0.003)  # the writer looks at its log about once a second
        deadline = time.monotonic() + 10
        while writer.counts().framesAdded < 500 and time.monotonic() < deadline:
            time.sleep(0.01)
        with pytest.raises(buslog.WriteError) as caught:
            notifier.stop()  # python-can's Notifier stops its listeners too
        writer.stop()  # said once
    bus.shutdown()
    sender.shutdown()
    error = caught.value
    first, last, reason = error.ranges[0]
    assert len(error.ranges) == 1 and first == 1 and last >= 100
    assert reason == f"the log {log} was deleted"
    assert str(error) == f"could not log frames 1-{last}: the log {log} was deleted"
    assert list(error.frames) == list(range(1, last + 1))
    assert writer.files == [str(tmp_path / "x-002.buslog")]
    assert frame_numbers(tmp_path / "x-002.buslog") == list(range(last + 1, 501))
    said = [record.getMessage() for record in caplog.records]
    assert any(f"the log {log} was deleted under the logger" in text and "going on in" in text for text in said)


@pytest.mark.parametrize("write_through", MODES)
def test_file_size_limit_goes_on_in_new_files(tmp_path, write_through):
    log = tmp_path / "x.buslog"
    result, said = run_child("size-limit", log, str(write_through).lower(), 100, 2000)
    assert (result["lost"], result["raised"], result["added"], result["logged"]) == ([], [], 100, 100)
    files = result["files"]
    assert files[:3] == [str(log), str(tmp_path / "x-002.buslog"), str(tmp_path / "x-003.buslog")]
    assert sorted(os.listdir(tmp_path)) == sorted(os.path.basename(path) for path in files)
    assert [number for path in files for number in frame_numbers(path)] == list(range(1, 101))
    assert all(os.path.getsize(path) <= 2000 for path in files)
    assert f"the log {log} may not grow: File too large; going on in {tmp_path / 'x-002.buslog'}" in said


def mount_tmpfs(path, size):
    if os.geteuid() != 0 or not shutil.which("mount"):
        pytest.skip("mounting a small tmpfs needs root (the fault library's case runs without)")
    path.mkdir()
    done = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", str(path)], capture_output=True)
    if done.returncode != 0:
        pytest.skip(f"cannot mount a tmpfs here: {done.stderr.decode().strip()}")


@pytest.mark.parametrize("write_through", MODES)
@pytest.mark.parametrize("where", ["tmpfs", "fault library"])
def test_disk_that_fills_and_frees_under_a_notifier(tmp_path, module_path, where, write_through):
    if where == "tmpfs":
        disk = tmp_path / "disk"
        mount_tmpfs(disk, "64k")
        filler = disk / "filler"
        filler.write_bytes(b"x" * 60 * 1024)  # room for about 4 KiB of lines
        extra, env = [filler, 150], {}
    else:
        faults = os.path.join(os.path.dirname(module_path), "libbuslog_storage_faults.so")
        if not os.path.isfile(faults):
            pytest.skip(f"no fault library at {faults}")
        disk = tmp_path
        extra, env = [], {"LD_PRELOAD": faults, "BUSLOG_FAULT_PATH": str(disk / "x*.buslog"),
                          "BUSLOG_FAULT_WRITE": "20", "BUSLOG_FAULT_ERRNO": "ENOSPC", "BUSLOG_FAULT_SECONDS": "0.4"}
    log = disk / "x.buslog"
    try:
        result, said = run_child("notifier", log, str(write_through).lower(), 300, *extra, env=env)
        written = [number for path in result["files"] for number in frame_numbers(path)]
    finally:
        if where == "tmpfs":
            subprocess.run(["umount", "--lazy", str(disk)], check=True)
    assert result["notifier alive"] and result["added"] == 300
    assert written == sorted(written) and sorted(written + result["lost"]) == list(range(1, 301))
    assert written[-1] == 300  # written again once there was room
    assert "No space left on device; trying again" in said and "writing works again at frame" in said
    if not write_through:
        # Queued frames wait for the disk: nothing lost.
        assert result["lost"] == [] and result["raised"] == []
    else:
        # Write-through cannot wait: what came while the disk was full is lost, and said once.
        assert result["lost"] and result["raised"] == ["stop"]
        assert result["reasons"] == ["No space left on device"] and result["errno"] == [28]
