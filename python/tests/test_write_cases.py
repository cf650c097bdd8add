"""The engine's table of write cases (tests/writer/write_cases.txt) through
the python-can writer: each case's candump lines as can.Messages into
can.Logger in group commit and write-through, its steps (a deletion, a
pause) made once flush() says the frames before are in the log, and the
files it leaves compared byte for byte, with what the writer said (the
"buslog.writer" logger) and the frames WriteErrors named as lost. Cases
with a storage fault run in a process of their own under the preloaded
fault library.

    test_write_cases.py CASE FOLDER WRITE_THROUGH   (such a process: prints
                                                     what was said and lost)
"""

import json
import logging
import os
import re
import subprocess
import sys
import time
import unittest

import can
import pytest

import buslog

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "writer"))
import write_cases  # noqa: E402

CASES = write_cases.read_cases() if os.path.isfile(write_cases.TABLE) else []
WRITER = "buslog-python " + buslog.__version__
# The table's options as can.logger hands them over (--rotate-size=300, ...).
OPTIONS = {"rotate-size": "rotate_size", "rotate-seconds": "rotate_seconds", "max-files": "max_files",
           "max-total": "max_total", "filter": "log_filter", "trigger": "trigger", "start-trigger": "start_trigger",
           "stop-trigger": "stop_trigger", "pre": "pre", "post": "post", "pre-buffer": "pre_buffer"}
CANDUMP = re.compile(r"\((\d+)\.(\d{6})\) (\S+) ([0-9A-Fa-f]{3}|[0-9A-Fa-f]{8})(##?)(\S*)(?: ([RT]))?$")


def message_of(line):
    """A can.Message of a candump line, as SocketCAN delivers the frame."""
    seconds, micros, interface, identifier, marks, rest, direction = CANDUMP.match(line).groups()
    number = int(identifier, 16)
    fields = {"timestamp": int(seconds) + int(micros) / 1e6, "channel": interface, "is_rx": direction != "T",
              "is_extended_id": len(identifier) == 8, "check": False}
    if marks == "##":
        flags, data = int(rest[0], 16), bytes.fromhex(rest[1:].replace(".", ""))
        return can.Message(arbitration_id=number, is_fd=True, bitrate_switch=bool(flags & 1),
                           error_state_indicator=bool(flags & 2), data=data, **fields)
    if rest.startswith("R"):
        return can.Message(arbitration_id=number, is_remote_frame=True, dlc=int(rest[1:] or "0", 16), **fields)
    data, _, code = rest.replace(".", "").partition("_")
    data = bytes.fromhex(data)
    dlc = int(code, 16) if code else len(data)
    if number & 0x20000000:
        return can.Message(arbitration_id=number & 0x1FFFFFFF, is_error_frame=True, data=data, dlc=dlc,
                           **dict(fields, is_extended_id=True))
    return can.Message(arbitration_id=number, data=data, dlc=dlc, **fields)


def run_case(case, folder, write_through):
    """Logs the case into FOLDER/run.buslog; (what was said, lost ranges)."""
    said, lost = [], []
    handler = logging.Handler()
    handler.emit = lambda record: said.append(record.getMessage())
    logger = logging.getLogger("buslog.writer")
    logger.addHandler(handler)
    try:
        options = {OPTIONS[key]: value for key, value in case.options if key in OPTIONS}
        options["markers"] = ("markers", "off") not in case.options
        options["time_base_per_file"] = ("time-base", "file") in case.options
        writer = can.Logger(os.path.join(folder, "run.buslog"), write_through=write_through, **options)
        for step in case.steps:
            if not step.startswith("@ "):
                writer(message_of(step))
                continue
            writer.flush()
            what, _, argument = step[2:].partition(" ")
            if what == "delete":
                os.remove(os.path.join(folder, argument))
            else:
                time.sleep(float(argument))
        try:
            writer.stop()
        except buslog.WriteError as error:
            lost += [(first, last) for first, last, _ in error.ranges]
    finally:
        logger.removeHandler(handler)
    return "\n".join(said), lost


def runnable(case, write_through):
    mode = "write-through" if write_through else "queued"
    if case.modes and mode not in case.modes:
        return "not a mode of this case"
    if any(step.startswith("DROPCOUNT") for step in case.steps):
        return "python-can has no drop reports"
    return None


@pytest.mark.skipif(not CASES, reason=f"no table of write cases at {write_cases.TABLE}")
@pytest.mark.parametrize("write_through", [False, True], ids=["group commit", "write-through"])
@pytest.mark.parametrize("index", range(len(CASES)), ids=[case.name for case in CASES])
def test_write_case(tmp_path, module_path, index, write_through):
    case = CASES[index]
    why_not = runnable(case, write_through)
    if why_not:
        pytest.skip(why_not)
    folder = tmp_path / "case"
    folder.mkdir()
    if case.faults:
        faults = os.path.join(os.path.dirname(module_path), "libbuslog_storage_faults.so")
        if not os.path.isfile(faults):
            pytest.skip(f"no fault library at {faults}")
        env = dict(os.environ, LD_PRELOAD=faults, **case.fault_environment(str(folder)))
        done = subprocess.run([sys.executable, __file__, str(index), str(folder), str(write_through)], env=env,
                              capture_output=True, timeout=60)
        assert done.returncode == 0, done.stderr.decode()
        said, lost = json.loads(done.stdout)
        lost = [tuple(pair) for pair in lost]
    else:
        said, lost = run_case(case, str(folder), write_through)
    checker = unittest.TestCase()
    checker.maxDiff = None
    write_cases.check(checker, case, str(folder), WRITER, said, lost)


if __name__ == "__main__":
    print(json.dumps(run_case(CASES[int(sys.argv[1])], sys.argv[2], sys.argv[3] == "True")))
