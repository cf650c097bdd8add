"""A made-up drive for demo.dbc: a candump trace with every message of the
database, and from it the picture in docs/ (a buslog log replayed from the
trace, with frames cut out of it to show how lost frames look).

    python3 python/tests/data/make_demo.py trace demo-drive.log
    python3 python/tests/data/make_demo.py picture docs/signals-demo.png --host build/posix/bin/buslog-host

The values are smooth functions of time, so a test can tell what a frame
at time t should decode to (`expected(t)`).
"""

import argparse
import math
import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
DBC = os.path.join(HERE, "demo.dbc")
START = 1700000000.0  # 2023-11-14 22:13:20 UTC


def _ramp(t, t0, t1):
    return 0.0 if t <= t0 else 1.0 if t >= t1 else (t - t0) / (t1 - t0)


def expected(t):
    """The drive's physical values at t seconds."""
    speed = 52.0 * _ramp(t, 4, 16) - 52.0 * _ramp(t, 30, 40) + 31.0 * _ramp(t, 44, 52)
    gear = 0 if t < 2 else 3 if t < 41 or t >= 43 else 2  # P, D, a moment in N, D again
    steer = 180.0 * math.sin(2 * math.pi * (t - 18) / 14) if 18 <= t < 32 else 0.0
    accel = 0.0
    if 4 < t < 16:
        accel = 52.0 / 3.6 / 12
    elif 30 < t < 40:
        accel = -52.0 / 3.6 / 10
    elif 44 < t < 52:
        accel = 31.0 / 3.6 / 8
    rpm = 0.0 if t < 1 else 780.0 + (speed % 22) * 95 + (400.0 if accel > 0 else 0.0)
    return {"speed": speed, "gear": gear, "steer": steer, "accel": accel, "rpm": rpm,
            "oil": 40 + int(40 * _ramp(t, 0, 60)), "coolant": 35 + int(50 * _ramp(t, 0, 50)),
            "fuel": 62.0 - 0.02 * t, "odometer": 12345.6 + speed * t / 3600.0,
            "voltage": 12.2 + (1.9 if t > 1 else 0.0) - 0.01 * math.sin(t), "current": -20.0 + 0.5 * accel,
            "state": 0 if t < 1 else 1, "torque": 40.0 * accel + 15.0, "energy": 0.004 * t}


def _vehicle(values):
    speed = round(values["speed"] / 0.01)
    accel = round(values["accel"] / 0.01) & 0xFFF
    word = speed | accel << 16 | values["gear"] << 28
    steer = round(values["steer"] / 0.1) & 0xFFFF
    rpm = round(values["rpm"] / 0.25)
    return word.to_bytes(4, "little") + steer.to_bytes(2, "big") + rpm.to_bytes(2, "big")


def _diag(values, page, counter):
    if page == 0:
        data = bytes([0, values["oil"] + 40, values["coolant"] + 40, 0, 0, 0, 0])
    else:
        data = bytes([1, round(values["fuel"] / 0.4)]) + round(values["odometer"] / 0.1).to_bytes(3, "little") + bytes(2)
    return data + bytes([counter & 0xF])


def _battery(values):
    current = round((values["current"] + 1600) / 0.05)
    return struct.pack("<f", values["voltage"]) + current.to_bytes(2, "little") + bytes([values["state"] << 4, 0])


def _drive_fd(values):
    torque = round(values["torque"] / 0.5) & 0xFFFF
    return torque.to_bytes(2, "big") + bytes(6) + struct.pack("<d", values["energy"]) + bytes(47) + b"\xAB"


def frames(seconds=60.0):
    """(time, candump frame text) of the drive, in time order."""
    events = []
    step = 0
    while True:
        t = step * 0.001  # one event slot a millisecond
        if t > seconds:
            break
        if step % 20 == 0:
            events.append((t, "100#" + _vehicle(expected(t)).hex().upper()))
        if step % 100 == 3:
            events.append((t, "18FF0001#" + _battery(expected(t)).hex().upper()))
        if step % 50 == 7:
            events.append((t, "300##1" + _drive_fd(expected(t)).hex().upper()))
        if step % 250 == 11:
            page = (step // 250) % 2
            events.append((t, "200#" + _diag(expected(t), page, step // 250).hex().upper()))
        step += 1
    return events


def write_trace(path, seconds=60.0, start=START, interface="can0"):
    with open(path, "w") as out:
        for t, frame in frames(seconds):
            out.write(f"({start + t:.6f}) {interface} {frame}\n")
    return path


def make_picture(output, host):
    sys.path.insert(0, os.path.dirname(os.path.dirname(HERE)))
    import buslog
    with tempfile.TemporaryDirectory() as folder:
        trace = write_trace(os.path.join(folder, "demo-drive.log"))
        log = os.path.join(folder, "demo-drive.buslog")
        subprocess.run([host, "replay", trace, "--output", log, "--quiet"], check=True, capture_output=True)
        with open(log, "rb") as file:
            lines = file.readlines()
        # Lose the frames of a second at 24 s and of a quarter second at
        # 47 s, as a writer that fell behind would, and cut one VEHICLE
        # frame short.
        kept = []
        if not lines[0].startswith(b"000000000,+0.000000,M,Marker  , -,OK,buslog start "):
            # A host that does not write the marker lines yet: add them as
            # buslog-host writes them, so that the picture shows the start.
            kept = [b"000000000,+0.000000,M,Marker  , -,OK,buslog start 2023-11-14T22:13:20.000000Z\r\n",
                    b"000000000,+0.000000,M,Marker  , -,OK,buslog writer buslog-host 0.1.0\r\n",
                    b"000000000,+0.000000,M,Marker  , -,OK,buslog channel 1 can0\r\n"]
        for line in lines:
            fields = line.split(b",")
            if fields[0] == b"000000000":
                kept.append(line)
                continue
            seconds = float(fields[1][1:])
            if 24.0 <= seconds < 25.0 or 47.0 <= seconds < 47.25:
                continue
            if 35.0 <= seconds < 35.02 and b",0,1,00,8," in line:
                line = line.replace(b",0,1,00,8,", b",0,1,00,2,")
                line = b",".join(line.split(b",")[:12]) + b"\r\n"
            kept.append(line)
        cut = os.path.join(folder, "demo-drive.buslog")
        with open(cut, "wb") as file:
            file.writelines(kept)
        summary = buslog.Summary()
        buslog.plot(cut, dbc=DBC, signals=["VEHICLE.SPEED", "-", "VEHICLE.ENGINE_SPEED", "-", "VEHICLE.STEER", "-",
                                           "VEHICLE.GEAR", "-", "BATTERY.VOLTAGE", "BATTERY.CURRENT"],
                    summary=summary, output=output)
        print(summary.text(), file=sys.stderr)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("what", choices=["trace", "picture"])
    parser.add_argument("output")
    parser.add_argument("--host", default="build/posix/bin/buslog-host")
    args = parser.parse_args()
    if args.what == "trace":
        write_trace(args.output)
    else:
        make_picture(args.output, args.host)


if __name__ == "__main__":
    main()
