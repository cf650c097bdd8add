"""Plotting: the pictures' files, panels, units, value-table labels and
the marks for lost and undecodable frames (matplotlib's Agg backend)."""

import os
import struct
import subprocess
import sys

import pytest

pytest.importorskip("canmatrix", reason="canmatrix (Debian's python3-canmatrix) is not installed")
pytest.importorskip("matplotlib", reason="matplotlib (Debian's python3-matplotlib) is not installed")

import buslog  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "data"))
import make_demo  # noqa: E402

DEMO_DBC = make_demo.DBC
SHARED = os.path.join(os.path.dirname(os.path.dirname(HERE)), "..", "shared", "data")
DRIVE = os.path.join(SHARED, "candump-civic-drive.log")
CIVIC_DBC = os.path.join(SHARED, "honda_civic_hatchback_ex_2017_can.dbc")
PYTHON_PATH = os.path.dirname(HERE)


def run(*args, cwd=None, environment=None):
    env = dict(os.environ, PYTHONPATH=PYTHON_PATH + os.pathsep + os.environ.get("PYTHONPATH", ""))
    env.update(environment or {})
    return subprocess.run([sys.executable, "-m", "buslog", *args], capture_output=True, text=True, cwd=cwd, env=env,
                          timeout=300)


def png_size(path):
    with open(path, "rb") as file:
        head = file.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n"
    return struct.unpack(">II", head[16:24])


def panels(figure):
    """(left title, right title, y label) of each panel, twin axes left out."""
    return [(ax.get_title(loc="left"), ax.get_title(loc="right"), ax.get_ylabel())
            for ax in figure.axes if ax.get_title(loc="left")]


def cut_log(host_path, trace, folder, drop):
    """trace replayed into a log, with the frames whose frame numbers are in
    drop cut out of it (frames lost); its marker lines (frame number 0)
    stay."""
    log = os.path.join(folder, "full.csv")
    subprocess.run([host_path, "replay", trace, "--output", log, "--quiet"], check=True, capture_output=True)
    with open(log, "rb") as file:
        lines = file.readlines()
    cut = os.path.join(folder, "cut.csv")
    with open(cut, "wb") as file:
        file.writelines(line for line in lines if int(line[:9]) not in drop)
    return cut


@pytest.mark.skipif(not (os.path.isfile(DRIVE) and os.path.isfile(CIVIC_DBC)), reason="../shared/data is absent")
def test_real_drive_png_and_svg_with_a_gap(host_path, memory_path):
    log = cut_log(host_path, DRIVE, str(memory_path), drop=set(range(10000, 10500)))
    signals = ["ENGINE_DATA.XMISSION_SPEED", "-", "POWERTRAIN_DATA.ENGINE_RPM", "POWERTRAIN_DATA.PEDAL_GAS", "-",
               "STEERING_SENSORS.STEER_ANGLE", "-", "EPB_STATUS.EPB_STATE"]
    summary = buslog.Summary()
    png = str(memory_path / "drive.png")
    figure = buslog.plot(log, dbc=CIVIC_DBC, signals=signals, summary=summary, output=png)
    assert [(gap.after, gap.lost) for gap in summary.gaps] == [(9999, 500)]
    assert panels(figure) == [
        ("ENGINE_DATA.XMISSION_SPEED [kph]", "", "kph"),
        ("POWERTRAIN_DATA.ENGINE_RPM [rpm], POWERTRAIN_DATA.PEDAL_GAS", "", "rpm"),
        ("STEERING_SENSORS.STEER_ANGLE [deg]", "", "deg"),
        ("EPB_STATUS.EPB_STATE", "", "value"),
    ]
    # PEDAL_GAS has no unit: it is on the right-hand axis of its panel.
    assert [ax.get_ylabel() for ax in figure.axes if not ax.get_title(loc="left")] == ["value"]
    epb = figure.axes[3]
    assert [tick.get_text() for tick in epb.get_yticklabels()] == ["disengaged (0)", "disengaging (2)", "engaged (3)"]
    gap_texts = [[t.get_text() for t in ax.texts if t.get_gid().startswith("buslog-gap")]
                 for ax in figure.axes if ax.get_title(loc="left")]
    # Cut out by hand: no record in the log says why.
    assert gap_texts == [["500 lost, no record says why"]] * 4, "the gap is marked on every panel"
    assert "500 frames lost in 1 gap of the frame numbers" in figure._suptitle.get_text()
    assert png_size(png) == (1100, 1064)  # 11 in wide, 1.2 + 3 * 2.3 + 2.55 in high, at 100 dpi

    svg = str(memory_path / "drive.svg")
    buslog.plot(log, dbc=CIVIC_DBC, signals=signals, subplots=True, output=svg)
    text = open(svg).read()
    assert text.count(">500 lost, no record says why<") == 5, "a panel each for five signals"
    assert text.count('id="buslog-gap-9999"') == 5
    assert ">POWERTRAIN_DATA.PEDAL_GAS<" in text and ">kph<" in text


def test_gaps_are_marked_with_what_the_logs_records_say(host_path, tmp_path):
    # A ring's files begin with what it removed; a loss stands as its record.
    start = "000000000,+0.000000,M,Marker  , -,OK,buslog start 2023-11-14T22:13:20.000000Z"
    lines = [start, "000000000,+0.000000,M,Marker  , -,OK,buslog removed 1-100"]
    lines += ["%09d,+%d.%06d,I,CAN     , 1,OK,0,1,23,1,%02X" % (n, (n - 101) // 10, (n - 101) % 10 * 100000, n & 0xFF)
              for n in range(101, 151)]
    lines += ["000000000,+5.000000,M,Marker  , -,OK,buslog lost 151-160 No space left on device"]
    lines += ["%09d,+%d.%06d,I,CAN     , 1,OK,0,1,23,1,%02X" % (n, (n - 101) // 10, (n - 101) % 10 * 100000, n & 0xFF)
              for n in range(161, 201)]
    log = tmp_path / "ring-002.buslog"
    log.write_bytes(("\r\n".join(lines) + "\r\n").encode())
    summary = buslog.Summary()
    figure = buslog.plot(str(log), summary=summary, output=str(tmp_path / "load.png"))
    texts = sorted({t.get_text() for ax in figure.axes for t in ax.texts if (t.get_gid() or "").startswith("buslog-gap")})
    assert texts == ["10 lost (No space left on device)"]
    assert "10 frames lost in 1 gap" in figure._suptitle.get_text()


def test_demo_plot_marks_undecodable_frames_and_labels(tmp_path):
    trace = make_demo.write_trace(str(tmp_path / "demo.log"), seconds=6.0)
    with open(trace) as file:
        lines = file.readlines()
    # Two VEHICLE frames cut to 2 bytes: too short for the message.
    short = [i for i, line in enumerate(lines) if " 100#" in line][10:12]
    for i in short:
        lines[i] = lines[i][:lines[i].index("#") + 5] + "\n"
    with open(trace, "w") as file:
        file.writelines(lines)
    out = tmp_path / "demo.svg"
    result = run("plot", trace, "--dbc", DEMO_DBC, "--signals", "VEHICLE.GEAR,-,DIAG.*_TEMP", "--output", str(out))
    assert result.returncode == 0, result.stderr
    assert "too short for their message: 2 frames: VEHICLE (2)" in result.stderr
    assert f"  picture {out}" in result.stderr
    text = out.read_text()
    assert ">VEHICLE: 2 frames not decoded (ticks below)<" in text
    assert ">DIAG.OIL_TEMP [degC], DIAG.COOLANT_TEMP [degC]<" in text
    for label in (">P (0)<", ">D (3)<"):
        assert label in text
    assert "demo.log, started 2023-11-14 22:13:20 UTC" in text


def test_without_database_bus_load_and_identifiers(tmp_path):
    trace = make_demo.write_trace(str(tmp_path / "demo.log"), seconds=3.0)
    figure = buslog.plot(trace, ids=True)
    assert panels(figure) == [("bus load: frames a second per channel", "", "frames/s"),
                              ("frames by identifier (4 identifiers)", "", "identifier")]
    assert [t.get_text() for t in figure.axes[1].get_yticklabels()] == ["100", "200", "300", "18FF0001"]
    load = figure.axes[0].get_lines()[0]
    assert list(load.get_ydata())[:3] == [84, 84, 84]  # 50 + 10 + 20 + 4 frames a second
    assert figure.axes[0].get_legend().get_texts()[0].get_text() == "can0: 253 frames"


COMMAND_ERRORS = [
    # (name, arguments after the trace, exit status, last line of standard error)
    ("picture format", ["--dbc", DEMO_DBC, "--signals", "VEHICLE.SPEED", "--output", "x.gif"], 2,
     "python3 -m buslog plot: error: --output x.gif: give a file ending in .png, .svg, .pdf"),
    ("signals without database", ["--signals", "VEHICLE.SPEED", "--output", "x.png"], 2,
     "python3 -m buslog plot: error: --signals needs --dbc FILE"),
    ("database without signals", ["--dbc", DEMO_DBC, "--output", "x.png"], 2,
     "python3 -m buslog plot: error: plot --dbc needs --signals PATTERN,... (the signals to draw)"),
    ("no window without a display", ["--ids"], 2,
     "python3 -m buslog plot: error: no display for a window: give --output FILE.png (or .svg, .pdf)"),
    ("clock time of a log that does not say when it began", None, 1,
     "python3 -m buslog plot: error: --clock: the log does not say when it began (no buslog start marker)"),
]


@pytest.mark.parametrize("name,arguments,status,error", COMMAND_ERRORS, ids=[row[0] for row in COMMAND_ERRORS])
def test_command_line_errors(tmp_path, name, arguments, status, error):
    trace = make_demo.write_trace(str(tmp_path / "demo.log"), seconds=1.0)
    if arguments is None:
        with open(tmp_path / "log.csv", "w") as file:
            file.write("000000001,+0.000000,I,CAN     , 1,OK,0,1,00,1,00\r\n")
        trace, arguments = str(tmp_path / "log.csv"), ["--clock", "--output", "x.png"]
    result = run("plot", trace, *arguments, cwd=str(tmp_path), environment={"DISPLAY": "", "WAYLAND_DISPLAY": ""})
    assert result.returncode == status
    assert result.stderr.splitlines()[-1] == error
    assert not os.path.exists(tmp_path / "x.png")


# (name, frame times, lost-frame gaps as (since, time), silences expected)
SILENCE_ROWS = [
    ("steady 10 ms", [i * 0.01 for i in range(100)], [], []),
    ("a 2 s pause", [i * 0.01 for i in range(50)] + [2.49 + i * 0.01 for i in range(50)], [], [(0.49, 2.49)]),
    ("0.4 s: under the least", [i * 0.01 for i in range(50)] + [0.89 + i * 0.01 for i in range(50)], [], []),
    ("a 1 s period: 5 periods is the limit", [0.0, 1.0, 2.0, 3.0, 8.5, 9.5], [], [(3.0, 8.5)]),
    ("lost frames in the pause are no silence", [i * 0.01 for i in range(50)] + [2.49 + i * 0.01 for i in range(50)],
     [(0.49, 2.49)], []),
]


@pytest.mark.parametrize("name,times,lost,expected", SILENCE_ROWS, ids=[row[0] for row in SILENCE_ROWS])
def test_silences(name, times, lost, expected):
    from buslog.decode import Gap
    gaps = [Gap(time, 1, 1, "log", 1, since) for since, time in lost]
    found = sys.modules["buslog.plot"].silences(times, gaps)
    assert [(round(a, 6), round(b, 6)) for a, b in found] == [(round(a, 6), round(b, 6)) for a, b in expected]


@pytest.mark.skipif(not (os.path.isfile(DRIVE) and os.path.isfile(CIVIC_DBC)), reason="../shared/data is absent")
def test_real_drive_silences_are_marked_apart_from_lost_frames(host_path, memory_path):
    """The real drive has no frame at all for 10.0, 8.2, 6.7 and 4.8 s in
    four places: grey bands on the panels, not steps; the stretch whose
    frames were cut out of the log is lost, not silent."""
    log = cut_log(host_path, DRIVE, str(memory_path), drop=set(range(10000, 10500)))
    summary = buslog.Summary()
    figure = buslog.plot(log, dbc=CIVIC_DBC, signals=["ENGINE_DATA.XMISSION_SPEED"], summary=summary)
    ax = figure.axes[0]
    spans = [patch for patch in ax.patches if (patch.get_gid() or "").startswith("buslog-silence-ENGINE_DATA")]
    extents = [(min(p.get_xy()[:, 0]), max(p.get_xy()[:, 0])) for p in spans]
    lengths = sorted((round(right - left, 1) for left, right in extents), reverse=True)
    assert lengths[:4] == [10.0, 8.2, 6.7, 4.8]
    assert all(length >= 0.5 for length in lengths)
    gap = summary.gaps[0]
    origin = summary.start
    for left, right in extents:
        assert not (left < gap.time - origin and gap.since - origin < right), "lost frames are no silence"
    texts = sorted(t.get_text() for t in ax.texts if t.get_gid().startswith("buslog-silence-text"))
    assert texts == ["ENGINE_DATA: none for 10.0 s", "ENGINE_DATA: none for 4.8 s", "ENGINE_DATA: none for 6.7 s",
                     "ENGINE_DATA: none for 8.2 s"]


def test_messages_silent_at_the_same_moments_are_said_apart(tmp_path):
    # The bus falls silent for 2 s: VEHICLE (every 20 ms) and BATTERY
    # (every 100 ms) in one panel each get their words, one above the other.
    trace = make_demo.write_trace(str(tmp_path / "demo.log"), seconds=6.0)
    with open(trace) as file:
        lines = [line for line in file if not 2.0 <= float(line[1:18]) - make_demo.START < 4.0]
    with open(trace, "w") as file:
        file.writelines(lines)
    figure = buslog.plot(trace, dbc=DEMO_DBC, signals=["VEHICLE.SPEED", "BATTERY.VOLTAGE", "VEHICLE.GEAR"])
    ax = figure.axes[0]
    said = {t.get_text(): t for t in ax.texts if t.get_gid().startswith("buslog-silence-text")}
    assert sorted(said) == ["BATTERY: none for 2.1 s", "VEHICLE: none for 2.0 s"]
    vehicle, battery = said["VEHICLE: none for 2.0 s"], said["BATTERY: none for 2.1 s"]
    assert abs(vehicle.xy[0] - battery.xy[0]) < 0.1, "the two stretches begin together"
    assert abs(vehicle.xyann[1] - battery.xyann[1]) >= vehicle.get_fontsize(), "one row above the other"
