"""Decoding signals: values worked out by hand from the databases'
definitions, canmatrix's own decoder on random frames, the real drive's
extremes, and what the command line writes and counts."""

import copy
import json
import math
import os
import random
import subprocess
import sys

import pytest

pytest.importorskip("canmatrix", reason="canmatrix (Debian's python3-canmatrix) is not installed")

import buslog  # noqa: E402
from buslog.decode import DatabaseError, DecodeError, Summary, load_database  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
DEMO_DBC = os.path.join(HERE, "data", "demo.dbc")
BROKEN_DBC = os.path.join(HERE, "data", "broken.dbc")
SHARED = os.path.join(os.path.dirname(os.path.dirname(HERE)), "..", "shared", "data")
DRIVE = os.path.join(SHARED, "candump-civic-drive.log")
CIVIC_DBC = os.path.join(SHARED, "honda_civic_hatchback_ex_2017_can.dbc")
PYTHON_PATH = os.path.dirname(HERE)

needs_drive = pytest.mark.skipif(not (os.path.isfile(DRIVE) and os.path.isfile(CIVIC_DBC)),
                                 reason="../shared/data (the real drive and its database) is absent")


def run(*args, cwd=None):
    environment = dict(os.environ, PYTHONPATH=PYTHON_PATH + os.pathsep + os.environ.get("PYTHONPATH", ""))
    return subprocess.run([sys.executable, "-m", "buslog", *args], capture_output=True, text=True, cwd=cwd,
                          env=environment, timeout=300)


def write(path, text):
    path.write_text(text)
    return str(path)


# Frames of demo.dbc and the signals in them, worked out by hand from its
# definitions. (name, candump frame, {MESSAGE.SIGNAL: (value, label)})
DEMO_ROWS = [
    # VEHICLE D2 04 38 3F FE 0C 1F 40: little-endian 0x04D2 = 1234 * 0.01;
    # 12 bits from bit 16, 0xF38 = -200 signed; bits 28..31 = 3, "D";
    # big-endian FE 0C = -500 * 0.1; big-endian 1F 40 = 8000 * 0.25.
    ("little, signed 12 bits, value table, big signed, big unsigned", "100#D204383FFE0C1F40",
     {"VEHICLE.SPEED": (12.34, ""), "VEHICLE.ACCEL": (-2.0, ""), "VEHICLE.GEAR": (3, "D"),
      "VEHICLE.STEER": (-50.0, ""), "VEHICLE.ENGINE_SPEED": (2000.0, "")}),
    ("all ones", "100#FFFFFFFF7FFFFFFF",
     {"VEHICLE.SPEED": (655.35, ""), "VEHICLE.ACCEL": (-0.01, ""), "VEHICLE.GEAR": (15, ""),
      "VEHICLE.STEER": (3276.7, ""), "VEHICLE.ENGINE_SPEED": (16383.75, "")}),
    # DIAG page 0: 0x5A - 40, 0x64 - 40, counter 3.
    ("multiplexed, page 0", "200#005A640000000003",
     {"DIAG.PAGE": (0, ""), "DIAG.OIL_TEMP": (50, ""), "DIAG.COOLANT_TEMP": (60, ""), "DIAG.COUNTER": (3, "")}),
    # DIAG page 1: 0xC8 * 0.4; 24 bits little 0x003039 = 12345 * 0.1.
    ("multiplexed, page 1", "200#01C8393000000005",
     {"DIAG.PAGE": (1, ""), "DIAG.FUEL_LEVEL": (80.0, ""), "DIAG.ODOMETER": (1234.5, ""), "DIAG.COUNTER": (5, "")}),
    ("multiplexed, a page the database has no signals for", "200#0711223344556609",
     {"DIAG.PAGE": (7, ""), "DIAG.COUNTER": (9, "")}),
    # BATTERY, extended 18FF0001: float 0x41480000 = 12.5 (little endian);
    # 0x7DFA = 32250 * 0.05 - 1600; byte 6's high nibble 1, "charging".
    ("extended identifier, float, offset", "18FF0001#00004841FA7D1000",
     {"BATTERY.VOLTAGE": (12.5, ""), "BATTERY.CURRENT": (12.5, ""), "BATTERY.STATE": (1, "charging")}),
    # DRIVE_FD: big-endian FF 38 = -200 * 0.5; double 0x3FF8000000000000 =
    # 1.5 in bytes 8..15; byte 63 = 0xAB.
    ("CAN FD, 64 bytes, double", "300##1FF38" + "00" * 6 + "000000000000F83F" + "00" * 47 + "AB",
     {"DRIVE_FD.TORQUE": (-100.0, ""), "DRIVE_FD.ENERGY": (1.5, ""), "DRIVE_FD.TAIL": (171, "")}),
]

# Frames of the real drive (can0, ../shared/data), worked out by hand from
# honda_civic_hatchback_ex_2017_can.dbc.
CIVIC_ROWS = [
    # ENGINE_DATA (0x158) XMISSION_SPEED 7|16@0+ (0.01,0): big-endian 03 7A = 890.
    ("big endian", "158#037A0000037A021F", "ENGINE_DATA.XMISSION_SPEED", 8.9, "kph", ""),
    # STEERING_SENSORS (0x14A) STEER_ANGLE 7|16@0- (-0.1,0): 0A B0 = 2736; F9 E3 = -1565.
    ("signed, positive raw", "14A#0AB00008070ABC31", "STEERING_SENSORS.STEER_ANGLE", -273.6, "deg", ""),
    ("signed, negative raw", "14A#F9E3000407F9E31B", "STEERING_SENSORS.STEER_ANGLE", 156.5, "deg", ""),
    # EPB_STATUS (0x1C2) EPB_STATE 29|2@0+: byte 3 bits 5..4; 0x30 -> 3, 0x20 -> 2.
    ("value table, 3", "1C2#090000300000001C", "EPB_STATUS.EPB_STATE", 3, "", "engaged"),
    ("value table, 2", "1C2#2300002000000011", "EPB_STATUS.EPB_STATE", 2, "", "disengaging"),
    # POWERTRAIN_DATA (0x17C) ENGINE_RPM 23|16@0+: bytes 2..3, 06 53 = 1619.
    ("big endian, middle bytes", "17C#0000065300000000", "POWERTRAIN_DATA.ENGINE_RPM", 1619, "rpm", ""),
]


def trace(tmp_path, frames, name="trace.log", interface="can0"):
    lines = [f"(1700000000.{index:06d}) {interface} {frame}\n" for index, frame in enumerate(frames, 1)]
    return write(tmp_path / name, "".join(lines))


@pytest.mark.parametrize("name,frame,expected", DEMO_ROWS, ids=[row[0] for row in DEMO_ROWS])
def test_demo_frame(tmp_path, name, frame, expected):
    rows = list(buslog.decode(trace(tmp_path, [frame]), DEMO_DBC))
    found = {f"{row.message}.{row.signal}": (row.value, row.label) for row in rows}
    assert found == expected
    assert all(type(found[key][0]) is type(expected[key][0]) for key in expected), "int or float as the database says"
    assert {row.time for row in rows} == {1700000000.000001}
    assert {row.channel for row in rows} == {"can0"}


@needs_drive
@pytest.mark.parametrize("name,frame,signal,value,unit,label", CIVIC_ROWS, ids=[row[0] for row in CIVIC_ROWS])
def test_civic_frame(tmp_path, name, frame, signal, value, unit, label):
    rows = [row for row in buslog.decode(trace(tmp_path, [frame]), CIVIC_DBC, signals=[signal])]
    assert [(f"{r.message}.{r.signal}", r.value, r.unit, r.label) for r in rows] == [(signal, value, unit, label)]


@needs_drive
def test_real_drive_extremes():
    summary = Summary()
    values = {}
    for row in buslog.decode(DRIVE, CIVIC_DBC, summary=summary):
        values.setdefault(f"{row.message}.{row.signal}", []).append(row.value)
    expected = {  # from the trace's description, worked out independently
        "ENGINE_DATA.XMISSION_SPEED": (0, 8.9),
        "POWERTRAIN_DATA.ENGINE_RPM": (90, 1619),
        "STEERING_SENSORS.STEER_ANGLE": (-273.6, 156.5),
        "POWERTRAIN_DATA.PEDAL_GAS": (0, 68),
    }
    for name, (low, high) in expected.items():
        assert (min(values[name]), max(values[name])) == (low, high), name
    # 22 of the trace's 57 identifiers are in the database.
    assert summary.frames == 28835
    assert len(summary.unknown) == 35
    assert summary.frames == summary.decoded + sum(summary.unknown.values())


def _random_frames(database, count, seed):
    generator = random.Random(seed)
    for (identifier, extended), frame in sorted(database.frames.items()):
        for _ in range(count):
            yield identifier, extended, frame, bytes(generator.getrandbits(8) for _ in range(frame.size))


def _canmatrix_values(frame, data):
    import math
    result = {}
    for name, item in frame.decode(data).items():
        value = float(item.phys_value)
        result[name] = None if math.isnan(value) else value
    return result


@pytest.mark.parametrize("database", [DEMO_DBC, CIVIC_DBC], ids=["demo.dbc", "civic"])
def test_agrees_with_canmatrix_on_random_frames(tmp_path, database):
    """canmatrix's own decoder (bit strings and Decimal) as the oracle, for
    every message and signal of the database, on random data."""
    import math
    if not os.path.isfile(database):
        pytest.skip("../shared/data is absent")
    db = load_database(database)
    frames = list(_random_frames(db, 40, seed=22))
    lines = []
    for index, (identifier, extended, frame, data) in enumerate(frames):
        name = f"{identifier:08X}" if extended else f"{identifier:03X}"
        body = ("#1" if frame.is_fd else "") + data.hex().upper()
        lines.append(f"(1.{index:06d}) can0 {name}#{body}\n")
    path = write(tmp_path / "random.log", "".join(lines))
    ours = {}
    for row in buslog.decode(path, database):
        ours.setdefault(round((row.time - 1) * 1e6), {})[row.signal] = row.value
    assert len(ours) == len(frames)
    for index, (identifier, extended, frame, data) in enumerate(frames):
        expected = _canmatrix_values(frame, data)
        got = {k: (None if isinstance(v, float) and math.isnan(v) else float(v)) for k, v in ours[index].items()}
        assert got.keys() == expected.keys(), frame.name
        for key in expected:
            if expected[key] is None:
                assert got[key] is None, (frame.name, key)
            else:
                assert got[key] == pytest.approx(expected[key], rel=1e-12, abs=1e-9), (frame.name, key, data.hex())


TROUBLE = [
    "(1700000000.000001) can0 100#D204383FFE0C1F40\n",   # decoded: 5 values
    "(1700000000.000002) can0 100#D204\n",               # VEHICLE needs 8 bytes
    "(1700000000.000003) can0 123#11\n",                 # no such message
    "(1700000000.000004) can0 100#R\n",                  # remote frame
    "(1700000000.000005) can0 20000080#0000000000000000\n",  # error frame
    "not a candump line\n",                              # malformed
    "\n",
    "(1700000000.000006) can0 300##1FF38\n",             # DRIVE_FD needs 64 bytes
    "(1700000000.000007) can0 18FF0001#00004841FA7D1000\n",  # decoded: 3 values
]


def test_summary_counts_everything_not_decoded(tmp_path):
    summary = Summary()
    rows = list(buslog.decode(write(tmp_path / "t.log", "".join(TROUBLE)), DEMO_DBC, summary=summary))
    assert len(rows) == 8
    assert (summary.frames, summary.decoded, summary.rows) == (7, 2, 8)
    assert dict(summary.unknown) == {(0x123, False): 1}
    assert dict(summary.short) == {"VEHICLE": 1, "DRIVE_FD": 1}
    assert (summary.remote, summary.error_frames, summary.malformed) == (1, 1, 1)
    assert summary.undecoded["VEHICLE"] == [1700000000.000002]


def test_command_line_summary_and_strict(tmp_path):
    path = write(tmp_path / "t.log", "".join(TROUBLE))
    result = run("decode", path, "--dbc", DEMO_DBC, "--signals", "BATTERY.*")
    assert result.returncode == 0, result.stderr
    assert result.stdout == (
        "time,channel,message,signal,value,unit,label\n"
        "1700000000.000007,can0,BATTERY,VOLTAGE,12.5,V,\n"
        "1700000000.000007,can0,BATTERY,CURRENT,12.5,A,\n"
        "1700000000.000007,can0,BATTERY,STATE,1,,charging\n")
    assert result.stderr == (
        f"{path}: 9 lines, 7 CAN frames; 1 frame decoded into 3 values\n"
        "  not in the database: 1 frame of 1 identifier: 0x123 (1)\n"
        "  of messages with no chosen signal: 3 frames\n"
        "  remote frames 1, error frames 1\n"
        "  not frames: 1 malformed lines, 1 empty lines\n")

    result = run("decode", path, "--dbc", DEMO_DBC, "--strict", "--output", str(tmp_path / "out.csv"))
    assert result.returncode == 1
    assert result.stderr == f"python3 -m buslog decode: error: {path}:2: VEHICLE needs 8 bytes, the frame has 2\n"
    assert not (tmp_path / "out.csv").exists(), "no partial output is left behind"
    with pytest.raises(DecodeError, match=r"u.log:2: identifier 0x123 is in no database"):
        list(buslog.decode(write(tmp_path / "u.log", TROUBLE[0] + TROUBLE[2]), DEMO_DBC, strict=True))


def test_jsonl(tmp_path):
    path = trace(tmp_path, ["100#D204383FFE0C1F40"])
    result = run("decode", path, "--dbc", DEMO_DBC, "--signals", "VEHICLE.GEAR,VEHICLE.S*", "--to", "jsonl")
    assert result.returncode == 0, result.stderr
    assert result.stdout == (
        '{"time": 1700000000.000001, "channel": "can0", "message": "VEHICLE", "signal": "SPEED", "value": 12.34, '
        '"unit": "km/h", "label": ""}\n'
        '{"time": 1700000000.000001, "channel": "can0", "message": "VEHICLE", "signal": "GEAR", "value": 3, '
        '"unit": "", "label": "D"}\n'
        '{"time": 1700000000.000001, "channel": "can0", "message": "VEHICLE", "signal": "STEER", "value": -50.0, '
        '"unit": "deg", "label": ""}\n')
    assert [json.loads(line)["value"] for line in result.stdout.splitlines()] == [12.34, 3, -50.0]


def test_a_database_per_channel(tmp_path):
    other = write(tmp_path / "other.dbc", 'VERSION ""\nNS_ :\nBS_:\nBU_: X\n'
                  'BO_ 256 OTHER: 2 X\n SG_ WORD : 0|16@1+ (1,0) [0|65535] "" X\n')
    path = write(tmp_path / "two.log", "(1.000001) can0 100#D204383FFE0C1F40\n(1.000002) can1 100#D204\n")
    result = run("decode", path, "--dbc", DEMO_DBC, "--dbc", f"can1={other}", "--signals", "VEHICLE.SPEED,OTHER.*")
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines()[1:] == ["1.000001,can0,VEHICLE,SPEED,12.34,km/h,", "1.000002,can1,OTHER,WORD,1234,,"]


CLI_ERRORS = [
    # (name, arguments before the trace, exit status, the error line)
    ("pattern matching nothing", ["--dbc", DEMO_DBC, "--signals", "vehicle.speed"], 1,
     "python3 -m buslog decode: error: no signal of demo.dbc matches 'vehicle.speed' (patterns match "
     "MESSAGE.SIGNAL, case as the database writes it)"),
    ("no database", [], 2, "python3 -m buslog decode: error: decode needs --dbc FILE"),
    ("database missing", ["--dbc", "/nonexistent/car.dbc"], 1,
     "python3 -m buslog decode: error: /nonexistent/car.dbc: no such file"),
    ("not a database", ["--dbc", __file__], 1, None),
    ("a log that is neither", ["--dbc", DEMO_DBC, DEMO_DBC], 1,
     f"python3 -m buslog decode: error: {DEMO_DBC}: neither a buslog log nor a candump trace"),
]


@pytest.mark.parametrize("name,arguments,status,error", CLI_ERRORS, ids=[row[0] for row in CLI_ERRORS])
def test_command_line_errors(tmp_path, name, arguments, status, error):
    result = run("decode", *arguments, trace(tmp_path, ["100#D204383FFE0C1F40"]))
    assert result.returncode == status
    assert result.stdout == ""
    lines = result.stderr.splitlines()
    assert lines[-1] == error if error else lines[-1].startswith("python3 -m buslog decode: error: ")


def test_output_never_replaces_a_file_without_overwrite(tmp_path):
    path = trace(tmp_path, ["100#D204383FFE0C1F40"])
    out = write(tmp_path / "out.csv", "keep me\n")
    result = run("decode", path, "--dbc", DEMO_DBC, "--output", out)
    assert result.returncode == 1 and "exists; give --overwrite" in result.stderr
    assert open(out).read() == "keep me\n"
    result = run("decode", path, "--dbc", DEMO_DBC, "--output", path, "--overwrite")
    assert result.returncode == 1 and "is one of the inputs" in result.stderr
    assert run("decode", path, "--dbc", DEMO_DBC, "--output", out, "--overwrite").returncode == 0
    assert open(out).read().startswith("time,channel,message,signal,value,unit,label\n1700000000.000001,can0,VEHICLE,")
    assert sorted(os.listdir(tmp_path)) == ["out.csv", "trace.log"], "no temporary file left"


def test_canmatrix_complaints_go_to_standard_error_once(tmp_path):
    """canmatrix prints what it cannot parse on standard output; that must
    not end up among the rows."""
    path = trace(tmp_path, ["100#D204383FFE0C1F40", "100#D204383FFE0C1F40"])
    result = run("decode", path, "--dbc", BROKEN_DBC, "--dbc", f"can9={BROKEN_DBC}", "--signals", "VEHICLE.GEAR")
    assert result.returncode == 0, result.stderr
    assert result.stdout == ("time,channel,message,signal,value,unit,label\n"
                             "1700000000.000001,can0,VEHICLE,GEAR,3,,D\n1700000000.000002,can0,VEHICLE,GEAR,3,,D\n")
    warnings = [line for line in result.stderr.splitlines() if "warning" in line]
    assert warnings == [
        f"python3 -m buslog: warning: {BROKEN_DBC}: error with line no: 6: BO_ 4660 TOO_LONG_ID: 8 ECU",
        f'python3 -m buslog: warning: {BROKEN_DBC}: error with line no: 7: SG_ WORD : 0|16@1+ (1,0) [0|65535] "" GATEWAY']


def _log_line(number, seconds, frame_body, channel=1):
    return f"{number:09d},+{seconds:.6f},I,CAN     , {channel},OK,{frame_body}\r\n"


def test_buslog_log_with_markers_and_a_gap(tmp_path):
    lines = [
        "000000000,+0.000000,M,Marker  , -,OK,buslog start 2023-11-14T22:13:20.001000Z\r\n",
        "000000000,+0.000000,M,Marker  , -,OK,buslog writer buslog-host 0.2.0\r\n",
        "000000000,+0.004000,M,Marker  , -,OK,buslog channel 1 vcan3\r\n",
        _log_line(1, 0.004, "0,1,00,8,D2,04,38,3F,FE,0C,1F,40"),
        _log_line(2, 0.005, "0,1,23,1,11"),
        _log_line(7, 0.010, "0,1,00,8,D2,04,38,3F,FE,0C,1F,40"),
        "000000008,+0.011000,I,LIN     , 1,OK,A,3C,2,11,22\r\n",
    ]
    path = write(tmp_path / "run.csv", "".join(lines))
    summary = Summary()
    rows = list(buslog.decode(path, DEMO_DBC, signals="VEHICLE.SPEED", summary=summary))
    start = 1700000000.001
    assert [(row.time, row.channel, row.value) for row in rows] == [
        (pytest.approx(start + 0.004, abs=1e-6), "vcan3", 12.34), (pytest.approx(start + 0.010, abs=1e-6), "vcan3", 12.34)]
    assert [(gap.after, gap.lost) for gap in summary.gaps] == [(2, 4)]
    assert summary.gaps[0].time == pytest.approx(start + 0.010, abs=1e-6)
    assert (summary.markers, summary.records, summary.start) == (3, 1, pytest.approx(start, abs=1e-6))
    result = run("decode", path, "--dbc", DEMO_DBC, "--signals", "VEHICLE.SPEED")
    assert "  frames lost: 4 in 1 gap of the frame numbers: 4 after frame 2 at 0.010000 s" in result.stderr


@needs_drive
def test_same_rows_from_a_log_and_its_trace(host_path, memory_path):
    """The replayed log gives the trace's rows, times within the log's
    precision (five fraction digits from 10 s on)."""
    log = memory_path / "drive.csv"
    subprocess.run([host_path, "replay", DRIVE, "--output", str(log), "--quiet"], check=True, capture_output=True)
    patterns = ["ENGINE_DATA.*", "STEERING_SENSORS.*", "EPB_STATUS.EPB_STATE"]
    trace_summary = Summary()
    from_trace = list(buslog.decode(DRIVE, CIVIC_DBC, signals=patterns, summary=trace_summary))
    summary = Summary()
    from_log = list(buslog.decode(str(log), CIVIC_DBC, signals=patterns, summary=summary))
    assert len(from_log) == len(from_trace) > 10000
    first = trace_summary.first_time
    for a, b in zip(from_trace, from_log):
        assert (a.message, a.signal, a.value, a.unit, a.label) == (b.message, b.signal, b.value, b.unit, b.label)
        expected = a.time if summary.start is not None else a.time - first
        assert b.time == pytest.approx(expected, abs=1.1e-5)
        if summary.start is not None:
            assert b.channel == "can0"
    assert summary.gaps == []


def test_output_files_get_the_umask(tmp_path):
    """The output is written to a private temporary file and renamed: the
    file gets the mode a new file gets under the umask."""
    path = trace(tmp_path, ["100#D204383FFE0C1F40"])
    out = tmp_path / "out.csv"
    result = subprocess.run(["sh", "-c", 'umask 022 && exec "$@"', "sh", sys.executable, "-m", "buslog", "decode",
                             path, "--dbc", DEMO_DBC, "--output", str(out)], capture_output=True, text=True,
                            env=dict(os.environ, PYTHONPATH=PYTHON_PATH))
    assert result.returncode == 0, result.stderr
    assert out.stat().st_mode & 0o777 == 0o644
    result = subprocess.run(["sh", "-c", 'umask 077 && exec "$@"', "sh", sys.executable, "-m", "buslog", "decode",
                             path, "--dbc", DEMO_DBC, "--output", str(out), "--overwrite"], capture_output=True,
                            text=True, env=dict(os.environ, PYTHONPATH=PYTHON_PATH))
    assert result.returncode == 0, result.stderr
    assert out.stat().st_mode & 0o777 == 0o600


def test_a_database_that_matches_nothing(tmp_path):
    path = trace(tmp_path, ["7E0#11", "7E0#12", "7E8#22", "123#"])
    for command in (["decode"], ["plot", "--signals", "VEHICLE.SPEED", "--output", str(tmp_path / "x.png")]):
        result = run(*command, path, "--dbc", DEMO_DBC)
        assert result.returncode == 1, command
        assert result.stderr.splitlines()[-1] == (
            f"python3 -m buslog {command[0]}: error: no frame of trace.log is in demo.dbc: its commonest "
            "identifiers are 0x7E0 (2), 0x123 (1), 0x7E8 (1) (a database of another bus?)"), command
        assert result.stdout in ("", "time,channel,message,signal,value,unit,label\n")
    assert not (tmp_path / "x.png").exists()


CANMATRIX_DATABASES = [os.path.join(os.path.dirname(__import__("canmatrix").__file__), name)
                       for name in ("j1939.dbc", "tests/test_frame_decoding.dbc")]


@pytest.mark.parametrize("database", CANMATRIX_DATABASES, ids=[os.path.basename(d) for d in CANMATRIX_DATABASES])
def test_signals_longer_than_their_frame(tmp_path, database, caplog):
    """canmatrix's own databases, random frames of every message: the
    signals that fit decode as canmatrix decodes them; each signal that
    does not fit is named once, and only those are left out."""
    import math
    if not os.path.isfile(database):
        pytest.skip(f"canmatrix ships no {database}")
    db = load_database(database)
    frames = list(_random_frames(db, 8, seed=5))
    lines = []
    for index, (identifier, extended, frame, data) in enumerate(frames):
        name = f"{identifier:08X}" if extended else f"{identifier:03X}"
        lines.append(f"(1.{index:06d}) can0 {name}#{('#1' if frame.is_fd else '')[1:]}{data.hex().upper()}\n")
    path = write(tmp_path / "random.log", "".join(lines))
    with caplog.at_level("WARNING", logger="buslog.decode"):
        ours = {}
        for row in buslog.decode(path, database):
            ours.setdefault(round((row.time - 1) * 1e6), {})[row.signal] = row.value
        list(buslog.decode(path, database))
    said = [record.getMessage() for record in caplog.records if "does not fit" in record.getMessage()]
    unfit = {(frame.name, signal.name) for _, _, frame, _ in frames for signal in frame.signals
             if (signal.start_bit + signal.size - 1) // 8 + 1 > frame.size}
    assert len(said) == len(unfit), "each named once"
    assert {tuple(text.split(": signal ")[1].split(" does not fit")[0].split(".", 1)) for text in said} == unfit
    if database.endswith("j1939.dbc"):
        assert len({message for message, _ in unfit}) == 10
    for index, (identifier, extended, frame, data) in enumerate(frames):
        # canmatrix cannot decode a message with a signal past its end:
        # its decoder gets a copy of the message without those signals.
        reference = copy.deepcopy(frame)
        reference.signals = [signal for signal in reference.signals if (frame.name, signal.name) not in unfit]
        expected = _canmatrix_values(reference, data)
        got = ours.get(index, {})
        assert got.keys() == expected.keys(), frame.name
        for key, value in expected.items():
            if value is None:
                assert math.isnan(got[key]), (frame.name, key)
            else:
                assert float(got[key]) == pytest.approx(value, rel=1e-12, abs=1e-9), (frame.name, key)


@needs_drive
def test_columns_and_frames_agree_on_the_real_drive():
    """The decoder by columns against the decoder of a frame at a time
    (each message's compiled function) over the real drive: the same rows
    in the same order."""
    import can
    from buslog.decode import _databases, _compile
    compiled = _compile(_databases(CIVIC_DBC), None)[None]
    old = []
    for message in can.LogReader(DRIVE):
        decoder = compiled.get((message.arbitration_id, message.is_extended_id))
        if decoder is not None and len(message.data) >= decoder.size and not message.is_remote_frame:
            old += decoder.rows(message.data, message.timestamp, message.channel)
    new = list(buslog.decode(DRIVE, CIVIC_DBC))
    assert len(new) == len(old) > 100000
    assert new == old
    assert [type(row.value) for row in new] == [type(row.value) for row in old]


def test_signals_as_columns(tmp_path):
    path = trace(tmp_path, ["200#005A640000000003", "200#01C8393000000005", "100#D204383FFE0C1F40"])
    columns = buslog.signals(path, DEMO_DBC, "DIAG", pandas=False)
    assert list(columns) == ["time", "channel", "PAGE", "OIL_TEMP", "COOLANT_TEMP", "FUEL_LEVEL", "ODOMETER",
                             "COUNTER"]
    assert columns["time"].tolist() == [1700000000.000001, 1700000000.000002]
    assert columns["channel"].tolist() == ["can0", "can0"]
    assert columns["PAGE"].tolist() == [0, 1] and columns["PAGE"].dtype.kind == "i"
    assert columns["OIL_TEMP"].tolist()[0] == 50 and math.isnan(columns["OIL_TEMP"][1])
    assert columns["FUEL_LEVEL"].tolist()[1] == 80.0 and math.isnan(columns["FUEL_LEVEL"][0])
    only = buslog.signals(path, DEMO_DBC, "DIAG", signals=["COUNTER"], pandas=False)
    assert list(only) == ["time", "channel", "COUNTER"] and only["COUNTER"].tolist() == [3, 5]
    pandas = pytest.importorskip("pandas", reason="pandas (Debian's python3-pandas) is not installed")
    frame = buslog.signals(path, DEMO_DBC, "DIAG")
    assert isinstance(frame, pandas.DataFrame) and frame["COUNTER"].tolist() == [3, 5]
