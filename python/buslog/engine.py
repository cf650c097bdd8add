"""ctypes binding of buslog's logging engine (include/buslog_writer.h):
the library, loaded once a process from beside the buslog module, and its
structures. The python-can writer (writer.py) drives it."""

import bisect
import collections.abc
import ctypes
import itertools
import os
import struct
import threading

from .module import ModuleLoadError, find_library

__all__ = ["Counts", "LostFrames", "load_engine"]

# include/buslog_writer.h
OK, BAD_ARGUMENT, NO_MODULE, NO_LOG, LOST, GAVE_UP, CLOSED, NO_MEMORY = range(8)
QUEUED, WRITE_THROUGH = 0, 1
TIME_PER_FILE = 1
# Frame flags (include/buslog.h).
EXTENDED, REMOTE, FD, BRS, ESI, ERROR, SENT = 0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40
_u8, _i32, _u32, _u64 = ctypes.c_uint8, ctypes.c_int32, ctypes.c_uint32, ctypes.c_uint64


class Frame(ctypes.Structure):
    _fields_ = [("seconds", _u64), ("micros", _u32), ("id", _u32), ("flags", _u8), ("lengthCode", _u8),
                ("fdFlags", _u8), ("reserved", _u8), ("dataLength", _u32), ("data", ctypes.c_void_p),
                ("interfaceName", ctypes.c_void_p), ("interfaceLength", _u32)]


class Options(ctypes.Structure):
    _fields_ = [("module", ctypes.c_char_p), ("output", ctypes.c_char_p), ("moduleName", ctypes.c_char_p),
                ("writer", ctypes.c_char_p), ("input", ctypes.c_char_p), ("mode", _i32), ("syncEveryFrame", _i32),
                ("markers", _i32), ("timeBase", _i32), ("overwrite", _i32), ("share", _i32),
                ("rotateBytes", _u64), ("rotateSeconds", ctypes.c_double), ("maxFiles", _u32),
                ("maxTotal", _u64), ("queueFrames", _u64), ("interrupted", ctypes.c_void_p),
                ("interruptedContext", ctypes.c_void_p), ("filter", ctypes.c_char_p), ("trigger", ctypes.c_char_p),
                ("startTrigger", ctypes.c_char_p), ("stopTrigger", ctypes.c_char_p), ("preSeconds", ctypes.c_double),
                ("postSeconds", ctypes.c_double), ("preBytes", _u64)]


class Report(ctypes.Structure):
    _fields_ = [("lost", _u64), ("firstLoss", _u32), ("lossCount", _u32), ("error", _i32),
                ("text", ctypes.c_char * 512)]


class Loss(ctypes.Structure):
    _fields_ = [("firstFrame", _u32), ("lastFrame", _u32), ("error", _i32), ("reason", ctypes.c_char * 256),
                ("kind", _i32)]


class File(ctypes.Structure):
    _fields_ = [("path", ctypes.c_char * 1024), ("lines", _u64), ("bytes", _u64), ("firstFrame", _u32),
                ("lastFrame", _u32), ("fate", _i32), ("cutEnd", _i32), ("haveStart", _i32), ("relative", _i32),
                ("startSeconds", _u64), ("startMicros", _u32)]


class Counts(ctypes.Structure):
    """What a writer did so far (BuslogWriterCounts): framesAdded,
    framesLogged, framesLost, lines, writes, files, channels, ..."""
    _fields_ = [("framesAdded", _u64), ("framesLogged", _u64), ("framesLost", _u64), ("framesRemoved", _u64),
                ("framesPending", _u64), ("loggedByType", _u64 * 4), ("lines", _u64), ("markerLines", _u64),
                ("writes", _u64), ("writeFailures", _u64), ("timeBases", _u64), ("timeJumps", _u64),
                ("clamped", _u64), ("queueDeepest", _u64), ("queueWaited", ctypes.c_double), ("files", _u32),
                ("filesRemoved", _u32), ("losses", _u32), ("channels", _u32)]


# A frame as on_message_received packs it: the engine's BuslogFrame with its
# data pointer at the 64 bytes behind it.
FRAME_FIELDS = "@QIIBB2xIPPI"  # fdFlags 0: the engine takes BRS and ESI from the flags
assert struct.calcsize(FRAME_FIELDS[:-1]) == Frame.interfaceLength.offset
DATA_AT = ctypes.sizeof(Frame)
PACK = struct.Struct(f"{FRAME_FIELDS}{DATA_AT - struct.calcsize(FRAME_FIELDS)}x64s").pack_into

_libraries = {}
libraries_lock = threading.Lock()


def load_engine(module):
    """The engine library beside `module`, loaded once a process."""
    path = os.path.realpath(find_library("buslog-writer", module))
    with libraries_lock:
        library = _libraries.get(path)
        if library is None:
            try:
                library = ctypes.CDLL(path)
            except OSError as error:
                raise ModuleLoadError(f"the buslog writer library {path!r} could not be loaded: {error}") from None
            library.BuslogWriterVersion.restype = ctypes.c_char_p
            library.BuslogWriterDefaults.restype = None
            library.BuslogWriterFree.restype = None
            _libraries[path] = library
    return library


class LostFrames(collections.abc.Sequence):
    """The numbers of frames that were lost, ascending within each range,
    kept as their ranges (a full disk can lose millions)."""

    def __init__(self, ranges):
        self._ranges = [range(first, last + 1) for first, last, *_ in ranges]
        self._ends = list(itertools.accumulate(len(numbers) for numbers in self._ranges))

    def __len__(self):
        return self._ends[-1] if self._ends else 0

    def __getitem__(self, index):
        if isinstance(index, slice):
            return [self[i] for i in range(*index.indices(len(self)))]
        if index < 0:
            index += len(self)
        if not 0 <= index < len(self):
            raise IndexError("frame index out of range")
        at = bisect.bisect_right(self._ends, index)
        return self._ranges[at][index - (self._ends[at - 1] if at else 0)]

    def __iter__(self):
        return itertools.chain.from_iterable(self._ranges)

    def __repr__(self):
        return "LostFrames([" + ", ".join(f"{r.start}-{r.stop - 1}" for r in self._ranges) + "])"
