"""The READMEs' python-can examples record something on one machine:
python-can's logger on a udp_multicast bus writes the frames that
python-can's player sends on it from a candump trace into a .buslog log,
and logconvert makes ASC of it (a virtual bus exists only inside one
process, so two programs cannot meet on it); and the in-program example of
python/README.md, run as it stands, logs its frame. The commands are the
README's, with a port of the test's own so that runs at the same time do
not hear each other.
"""
import os
import random
import signal
import subprocess
import sys
import time

import can
import pytest

README = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "README.md")

GROUP = "239.74.163.2"  # python-can's IPv4 default group, as in the README

TRACE = [
    "(1700000000.000000) can0 123#DEADBEEF",
    "(1700000000.001250) can0 7FF#",
    "(1700000000.002500) can1 1ABCDEF0#0102030405060708",
    "(1700000000.003750) can0 321#R",
    "(1700000000.005000) can1 0C8#1122334455667788",
]
EXPECTED = [  # identifier, extended, remote, data
    (0x123, False, False, bytes.fromhex("DEADBEEF")),
    (0x7FF, False, False, b""),
    (0x1ABCDEF0, True, False, bytes.fromhex("0102030405060708")),
    (0x321, False, True, b""),
    (0x0C8, False, False, bytes.fromhex("1122334455667788")),
]


def test_logger_records_what_player_sends_on_udp_multicast(tmp_path):
    trace = tmp_path / "trace.log"
    trace.write_text("\n".join(TRACE) + "\n")
    port = f"--port={random.randrange(40000, 60000)}"
    logger = subprocess.Popen([sys.executable, "-m", "can.logger", "-i", "udp_multicast", "-c", GROUP, port,
                               "-f", "run.buslog"], cwd=tmp_path, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        # The logger says so once its bus is up.
        ready = logger.stdout.readline().decode()
        assert ready.startswith("Connected to UdpMulticastBus"), ready + logger.stderr.read().decode()
        played = subprocess.run([sys.executable, "-m", "can.player", "-i", "udp_multicast", "-c", GROUP, port,
                                 "trace.log"], cwd=tmp_path, capture_output=True, timeout=60)
        if played.returncode != 0 and b"unreachable" in played.stderr:
            pytest.skip("this machine has no route for IPv4 multicast: " + played.stderr.decode()[-200:])
        assert played.returncode == 0, played.stderr.decode()
        # The player returns once it has sent; the logger is handed each
        # datagram by the system, so wait until the last frame is logged.
        log = tmp_path / "run.buslog"
        for _ in range(100):
            if log.exists() and len(log.read_bytes().splitlines()) >= len(TRACE):
                break
            time.sleep(0.05)
        logger.send_signal(signal.SIGINT)
        logger.communicate(timeout=30)
    finally:
        logger.kill()
    assert logger.returncode == 0
    with can.LogReader(str(tmp_path / "run.buslog")) as reader:
        got = [(m.arbitration_id, m.is_extended_id, m.is_remote_frame, bytes(m.data)) for m in reader]
    assert got == EXPECTED
    subprocess.run([sys.executable, "-m", "can.logconvert", "run.buslog", "run.asc"], cwd=tmp_path, check=True,
                   capture_output=True)
    with can.LogReader(str(tmp_path / "run.asc")) as reader:
        assert [(m.arbitration_id, bytes(m.data)) for m in reader] == [(e[0], e[3]) for e in EXPECTED]


def test_program_in_python_readme_logs_its_frame(tmp_path, monkeypatch):
    text = open(README).read()
    blocks = [block.split("```", 1)[0] for block in text.split("```python\n")[1:]]
    program = [block for block in blocks if "sender.send" in block]
    assert len(program) == 1, "python/README.md has no one-process program"
    monkeypatch.chdir(tmp_path)
    exec(compile(program[0], "python/README.md", "exec"), {})
    with can.LogReader("run.buslog") as reader:
        got = [(m.arbitration_id, bytes(m.data)) for m in reader]
    assert got == [(0x123, bytes.fromhex("DEADBEEF"))]
