"""The table of write cases (write_cases.txt), for the faces that run it
from Python: buslog-host through its command line (write_cases_host.py) and
the python-can writer (python/tests). Each runner turns a case's options,
faults and steps into its own terms and compares what it left with
`check`."""
import os
import re

TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "write_cases.txt")


class Case:
    def __init__(self, name):
        self.name = name
        self.options = []   # (key, value): rotate-size 300, markers off, ...
        self.faults = []    # (key, value): write 1 -> BUSLOG_FAULT_WRITE=1
        self.modes = []     # empty: every mode
        self.steps = []     # candump lines, and "@ delete NAME", "@ pause S"
        self.files = {}     # name -> whole bytes
        self.says = []
        self.lost = []      # (first, last)

    def frames(self):
        return [step for step in self.steps if not step.startswith("@ ")]

    def has_actions(self):
        return any(step.startswith("@ ") for step in self.steps)

    def fault_environment(self, folder):
        """The fault library's variables for this case's logs in `folder`."""
        if not self.faults:
            return {}
        env = {"BUSLOG_FAULT_PATH": os.path.join(folder, "run*.buslog")}
        for key, value in self.faults:
            env["BUSLOG_FAULT_" + key.replace("-", "_").upper()] = value
        return env


def read_cases(path=TABLE):
    cases = []
    text = None
    in_frames = False
    with open(path, encoding="utf-8") as f:
        for line in f.read().split("\n"):
            if not line or line.startswith("#"):
                continue
            word, _, rest = line.partition(" ")
            case = cases[-1] if cases else None
            if word == "case":
                cases.append(Case(rest))
                text, in_frames = None, False
            elif word in ("option", "fault"):
                key, _, value = rest.partition(" ")
                (case.options if word == "option" else case.faults).append((key, value))
            elif word == "modes":
                case.modes = rest.split()
            elif word == "frames":
                in_frames = True
            elif word == "file":
                text, in_frames = rest, False
                case.files[text] = b""
            elif word == "says":
                case.says.append(rest)
                text = None
            elif word == "lost":
                first, _, last = rest.partition("-")
                case.lost.append((int(first), int(last or first)))
                text = None
            elif word == "end":
                text, in_frames = None, False
            elif text is not None:
                case.files[text] += line.encode() + b"\r\n"
            elif in_frames:
                case.steps.append(line)
            else:
                raise ValueError("write_cases.txt: what is this line? %r" % line)
    return cases


def check(test, case, folder, writer, said, lost):
    """Compares what a face left in `folder` with the case: the same files
    byte for byte (its writer marker's `writer` read as WRITER), `said`
    holding each of the case's words, and `lost` its ranges."""
    names = sorted(os.listdir(folder))
    test.assertEqual(names, sorted(case.files), said)
    for name, whole in case.files.items():
        with open(os.path.join(folder, name), "rb") as f:
            got = f.read().replace(b"buslog writer " + writer.encode(), b"buslog writer WRITER")
        test.assertEqual(got, whole, name)
    for words in case.says:
        test.assertIn(words, said)
    test.assertEqual(lost, case.lost, said)


MISSING = re.compile(r"^  missing +frames? (\d+)(?:-(\d+))? \(", re.M)


def host_lost(stderr):
    """The losses buslog-host's summary names, as (first, last)."""
    return [(int(first), int(last or first)) for first, last in MISSING.findall(stderr)]
