"""The python half of the unpacked Debian packages, as Debian's python3 finds
it once they are installed. Run by check_packages.cmake with PYTHONPATH at
the unpacked usr/lib/python3/dist-packages, without BUSLOG_MODULE, in an
empty working folder:

    check_python_package.py UNPACKED_USR VERSION

The package and its metadata come from the unpacked tree, at the project's
version; python-can finds the .buslog writer and reader through the
package's entry points; frames logged with can.Logger come back from
can.LogReader, through libraries from the unpacked tree only (the package
finds them beside itself, as it finds /usr/lib's once installed);
python3 -m buslog decode and plot work on the log. Exits 1 naming the
first thing that is wrong.
"""
import importlib.metadata
import os
import subprocess
import sys

ROOT = os.path.realpath(sys.argv[1])
VERSION = sys.argv[2]

DBC = """VERSION ""

NS_ :

BS_:

BU_: ECU

BO_ 256 VEHICLE: 8 ECU
 SG_ SPEED : 0|16@1+ (0.01,0) [0|655.35] "km/h" ECU
"""


def fail(what):
    sys.exit("the unpacked python package: " + what)


def inside(path):
    return os.path.realpath(path).startswith(ROOT + os.sep)


def main():
    import buslog
    if not inside(buslog.__file__):
        fail("buslog was imported from %s, not from %s" % (buslog.__file__, ROOT))
    dist = importlib.metadata.distribution("buslog")
    if not inside(dist.locate_file("buslog/__init__.py")):
        fail("its metadata is not the unpacked one")
    if dist.version != VERSION:
        fail("its metadata says version %s, the project %s" % (dist.version, VERSION))

    import can
    for group in ("can.io.message_writer", "can.io.message_reader"):
        found = [e for e in importlib.metadata.entry_points(group=group) if e.name == ".buslog"]
        if len(found) != 1:
            fail("%d entry points .buslog in %s" % (len(found), group))
        loaded = sys.modules[found[0].load().__module__]
        if not inside(loaded.__file__):
            fail("the %s entry point loads %s" % (group, loaded.__file__))

    sent = [can.Message(timestamp=1700000000.0 + i * 0.010001, arbitration_id=0x100, is_extended_id=False,
                        data=[i & 0xFF, i >> 8, 0, 0, 0, 0, 0, 0], channel=0) for i in range(50)]
    with can.Logger("run.buslog") as logger:
        for message in sent:
            logger(message)
    back = list(can.LogReader("run.buslog"))
    got = [(m.arbitration_id, bytes(m.data), round(m.timestamp, 6)) for m in back]
    want = [(m.arbitration_id, bytes(m.data), round(m.timestamp, 6)) for m in sent]
    if got != want:
        fail("can.LogReader gave back %d frames, not the %d can.Logger logged: %r" % (len(got), len(want), got[:3]))
    with open("/proc/self/maps") as maps:
        libraries = {line.split()[-1] for line in maps if "libbuslog" in line}
    if not libraries:
        fail("no libbuslog*.so was loaded")
    strays = sorted(path for path in libraries if not inside(path))
    if strays:
        fail("libraries loaded from outside the unpacked tree: %s" % ", ".join(strays))

    with open("demo.dbc", "w") as f:
        f.write(DBC)
    for command, output in (("decode", "signals.csv"), ("plot", "speed.png")):
        run = subprocess.run([sys.executable, "-m", "buslog", command, "run.buslog", "--dbc", "demo.dbc",
                              "--signals", "VEHICLE.SPEED", "--output", output],
                             capture_output=True, text=True, timeout=120)
        if run.returncode != 0:
            fail("python3 -m buslog %s exited %d:\n%s" % (command, run.returncode, run.stderr))
    with open("signals.csv") as f:
        rows = f.read().splitlines()
    if len(rows) != 1 + len(sent) or not rows[2].endswith(",VEHICLE,SPEED,0.01,km/h,"):
        fail("decode wrote %d rows: %r" % (len(rows), rows[:3]))
    with open("speed.png", "rb") as f:
        if f.read(8) != b"\x89PNG\r\n\x1a\n":
            fail("plot wrote no PNG picture")
    print("the python package from %s: version %s, python-can's .buslog writer and reader, %s, decode and plot"
          % (ROOT, VERSION, ", ".join(sorted(os.path.basename(p) for p in libraries))))


if __name__ == "__main__":
    main()
