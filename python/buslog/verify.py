"""Verifying a run's logs from Python: is every frame there, and where one
is not, does a record say why? The reader library does it (the one copy of
the rules, reader/verify.h, as `buslog-host verify`); this module hands the
result over as Python objects and says it as `buslog-host verify` does.

    result = buslog.verify(["run-002.buslog", "run-003.buslog"])
    result.verdict        # 0 nothing lost, 1 lost and explained, 3 unexplained
    for gap in result.gaps:
        print(gap.first, gap.last, gap.cause, gap.why)
"""

import collections
import ctypes
import json

from .reader import load_library

__all__ = ["verify", "Verification", "VerifyError", "INTACT", "EXPLAINED", "UNEXPLAINED"]

INTACT, EXPLAINED, UNEXPLAINED = 0, 1, 3
_VERDICTS = {INTACT: "nothing lost", EXPLAINED: "frames lost, and a record explains every loss",
             UNEXPLAINED: "something is unexplained"}
_CAUSES = ("removed", "lost", "gone", "unexplained")

VerifiedFile = collections.namedtuple("VerifiedFile", "path writer lines frames records malformed first_frame "
                                                      "last_frame cut_end no_log")
Gap = collections.namedtuple("Gap", "first last cause why")
Drops = collections.namedtuple("Drops", "interface count path line")

_P = ctypes.c_void_p


class _Summary(ctypes.Structure):
    _fields_ = [("size", ctypes.c_uint32), ("verdict", ctypes.c_int32), ("numbered", ctypes.c_uint32),
                ("files", ctypes.c_uint32), ("gaps", ctypes.c_uint32), ("drops", ctypes.c_uint32)] + [
        (name, ctypes.c_uint64) for name in ("present", "removed", "lost", "gone", "unexplained", "twice", "dropped")]


class _File(ctypes.Structure):
    _fields_ = [("size", ctypes.c_uint32), ("path", ctypes.c_char_p), ("writer", ctypes.c_char_p)] + [
        (name, ctypes.c_uint64) for name in ("lines", "frames", "records", "malformed")] + [
        ("firstFrame", ctypes.c_uint32), ("lastFrame", ctypes.c_uint32), ("cutEnd", ctypes.c_int32),
        ("noLog", ctypes.c_int32)]


class _Gap(ctypes.Structure):
    _fields_ = [("size", ctypes.c_uint32), ("first", ctypes.c_uint32), ("last", ctypes.c_uint32),
                ("cause", ctypes.c_int32), ("why", ctypes.c_char_p)]


class _Drops(ctypes.Structure):
    _fields_ = [("size", ctypes.c_uint32), ("interfaceName", ctypes.c_char_p), ("count", ctypes.c_uint64),
                ("path", ctypes.c_char_p), ("line", ctypes.c_uint64)]


class VerifyError(OSError):
    """A log could not be read."""


def _typed(library):
    if getattr(library, "_verify_typed", False):
        return library
    for name, arguments, result in (
            ("BuslogVerify", [ctypes.POINTER(ctypes.c_char_p), ctypes.c_uint32, ctypes.POINTER(_P),
                              ctypes.c_char_p, ctypes.c_size_t], ctypes.c_int),
            ("BuslogVerificationSummary", [_P, ctypes.POINTER(_Summary)], ctypes.c_int),
            ("BuslogVerificationFile", [_P, ctypes.c_uint32, ctypes.POINTER(_File)], ctypes.c_int),
            ("BuslogVerificationGap", [_P, ctypes.c_uint32, ctypes.POINTER(_Gap)], ctypes.c_int),
            ("BuslogVerificationDrops", [_P, ctypes.c_uint32, ctypes.POINTER(_Drops)], ctypes.c_int),
            ("BuslogVerificationFree", [_P], None)):
        function = getattr(library, name)
        function.argtypes = arguments
        function.restype = result
    library._verify_typed = True
    return library


def _text(value):
    return value.decode("utf-8", "replace") if value is not None else ""


def _range(first, last):
    return f"{first}" if first == last else f"{first}-{last}"


class Verification:
    """What verify found: the counts, the files, the gaps, the drops."""

    def __init__(self, summary, files, gaps, drops):
        self.verdict = summary.verdict
        self.numbered = summary.numbered
        for name in ("present", "removed", "lost", "gone", "unexplained", "twice", "dropped"):
            setattr(self, name, getattr(summary, name))
        self.files, self.gaps, self.drops = files, gaps, drops

    @property
    def verdict_text(self):
        return _VERDICTS.get(self.verdict, str(self.verdict))

    def text(self):
        """The report as `buslog-host verify` says it."""
        lines = [f"buslog verify of {len(self.files)} log{'' if len(self.files) == 1 else 's'}"]
        for f in self.files:
            frames = "no frames" if f.first_frame == 0 else f"frames {_range(f.first_frame, f.last_frame)}"
            notes = ("; ends in a cut line" if f.cut_end else "") + ("; no log" if f.no_log else "")
            lines.append(f"  {f.path}  {frames} ({f.frames} frames, {f.lines} lines){notes}")
        lines.append(f"  frames          {self.numbered} numbered: {self.present} present, {self.removed} removed, "
                     f"{self.lost} lost, {self.gone} gone, {self.unexplained} unexplained")
        for gap in self.gaps:
            why = {"removed": "by the ring, as asked", "unexplained": "no record says why"}.get(gap.cause, gap.why)
            lines.append(f"  {gap.cause:<15} frame{'' if gap.first == gap.last else 's'} "
                         f"{_range(gap.first, gap.last)} ({why})")
        for d in self.drops:
            lines.append(f"  dropped         {d.count} frame{'' if d.count == 1 else 's'} on {d.interface}, by the "
                         f"kernel ({d.path}:{d.line})")
        if self.twice:
            lines.append(f"  twice           {self.twice} frame numbers stand more than once "
                         "(logs of more than one run?)")
        lines.append(f"  verdict         {self.verdict_text}")
        return "\n".join(lines)

    def as_dict(self):
        return {"verdict": self.verdict, "numbered": self.numbered, "present": self.present,
                "removed": self.removed, "lost": self.lost, "gone": self.gone, "unexplained": self.unexplained,
                "twice": self.twice, "dropped": self.dropped, "files": [f._asdict() for f in self.files],
                "gaps": [g._asdict() for g in self.gaps], "drops": [d._asdict() for d in self.drops]}

    def json(self):
        return json.dumps(self.as_dict())


def verify(paths, buslog_module=None):
    """Verifies the logs (or folders of them) at `paths` as the files of one
    run, in any order. Returns a Verification; raises VerifyError when one
    cannot be read."""
    if isinstance(paths, (str, bytes)):
        paths = [paths]
    library = _typed(load_library(buslog_module))
    names = [p.encode("utf-8") if isinstance(p, str) else bytes(p) for p in paths]
    array = (ctypes.c_char_p * len(names))(*names)
    handle = _P()
    error = ctypes.create_string_buffer(1024)
    if library.BuslogVerify(array, len(names), ctypes.byref(handle), error, len(error)) != 0:
        raise VerifyError(_text(error.value))
    try:
        summary = _Summary(size=ctypes.sizeof(_Summary))
        library.BuslogVerificationSummary(handle, ctypes.byref(summary))
        files, gaps, drops = [], [], []
        for i in range(summary.files):
            f = _File(size=ctypes.sizeof(_File))
            library.BuslogVerificationFile(handle, i, ctypes.byref(f))
            files.append(VerifiedFile(_text(f.path), _text(f.writer), f.lines, f.frames, f.records, f.malformed,
                                      f.firstFrame, f.lastFrame, bool(f.cutEnd), bool(f.noLog)))
        for i in range(summary.gaps):
            g = _Gap(size=ctypes.sizeof(_Gap))
            library.BuslogVerificationGap(handle, i, ctypes.byref(g))
            gaps.append(Gap(g.first, g.last, _CAUSES[g.cause], _text(g.why)))
        for i in range(summary.drops):
            d = _Drops(size=ctypes.sizeof(_Drops))
            library.BuslogVerificationDrops(handle, i, ctypes.byref(d))
            drops.append(Drops(_text(d.interfaceName), d.count, _text(d.path), d.line))
        return Verification(summary, files, gaps, drops)
    finally:
        library.BuslogVerificationFree(handle)
