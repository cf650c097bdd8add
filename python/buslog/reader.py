"""Reading buslog logs in Python, through the project's reader library.

The lines are read by libbuslog-reader.so (buslog-reader.dll), the one
copy of the reading rules (reader/log_reader.h, docs/reading-logs.md),
loaded with ctypes from beside the buslog module (`find_library`). It hands
out many lines a call as columns; this module gives them to Python:

- `iter_records(file)`: every line as a `Record`;
- `BuslogReader`, python-can's reader of `.buslog` (`can.LogReader`): the
  CAN frames as can.Message objects;
- `read_frames(paths)`: the CAN frames of a set of logs as numpy columns,
  for analysis without a Python object per frame.

Marker lines (kind M, frame number 0, text starting "buslog ") say when the
log's time base is and which interface each channel is:

    000000000,+0.000000,M,Marker  , -,OK,buslog start 2023-11-14T22:13:20.001000Z
    000000000,+0.000000,M,Marker  , -,OK,buslog writer buslog-python 0.1.0
    000000000,+0.004000,M,Marker  , -,OK,buslog channel 1 can0

After a `buslog start` line, times are absolute (seconds since the epoch,
the start plus the line's time); before any, they are the log's own
seconds (plus `start`). A later `buslog start` line begins a new time base.
Other `buslog <word>` markers are kept as markers and otherwise ignored.
"""

import collections
import ctypes
import io
import logging
import os
import threading

from can.io.generic import MessageReader
from can.message import Message

from .module import ModuleLoadError, find_library

__all__ = ["BuslogReader", "NotALogError", "Record", "Frames", "iter_records", "is_log", "parse_can_line",
           "read_frames", "FD_LENGTHS"]

log = logging.getLogger("buslog")

FD_LENGTHS = (0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64)

Record = collections.namedtuple("Record", "line_number frame_number time kind message text channel")
Record.__doc__ = """One line of a log.

line_number   from 1
frame_number  the line's frame number; None where the line has none
time          seconds: since the epoch after a `buslog start` marker, else
              the log's own time (plus the reader's start); None where the
              line has no time stamp
kind          'frame'     a CAN frame: `message` is its can.Message
              'marker'    a marker line, buslog markers included: `text`
              'record'    another record (LIN, CXPI, port, environment,
                          generic form, a CAN record without identifier
                          or length): `message` None
              'error'     an error field alone: `text` is the field
              'empty'     nothing between line ends
              'malformed' a line meant as a log line that breaks its
                          rules, or a cut last line: `text` says why
              'text'      any other line that is no record (text a host
                          or another program wrote): `text` says why
channel       a frame's interface name from a `buslog channel` marker (a
              name that is a whole number, "5", as that int: python-can's
              integer channels); a channel without a name is None in a log
              with marker lines (the writer was given no channel), else
              its channel number as the log shows it less one; None for "-"
"""

# Lines read before the first log line is found; a file whose first lines
# hold none is no log.
NO_LOG_AFTER = 1000
# Malformed lines reported one by one before they are only counted.
_MAX_WARNINGS = 20
# Why the reader library reads a cut last line as malformed.
UNENDED = "last line cut (no line end)"

# include/buslog_reader.h
_OK, _END, _BAD_ARGUMENT, _OPEN_FAILED, _READ_FAILED, _NO_MEMORY = range(6)
ROW_FRAME, ROW_RECORD, ROW_MARKER, ROW_ERROR, ROW_EMPTY, ROW_TEXT, ROW_MALFORMED = range(1, 8)
ROWS_ALL = 0xFFFFFFFF
RECORD_CAN = 1
FRAME_EXTENDED, FRAME_REMOTE, FRAME_FD, FRAME_BRS, FRAME_ESI, FRAME_ERROR, FRAME_SENT = (1, 2, 4, 8, 16, 32, 64)
LINE_LOG, LINE_FULL, LINE_LONG, LINE_UNENDED, LINE_TIME_CUT = (1, 2, 4, 8, 16)
MARKER_NONE, MARKER_START, MARKER_START_UNREAD, MARKER_WRITER, MARKER_CHANNEL, MARKER_OTHER = range(6)
NO_TIME = -(1 << 63)
NO_CHANNEL = -(1 << 31)
ROW_DATA = 64
MIN_TEXT = 8192


def _rows(*kinds):
    mask = 0
    for kind in kinds:
        mask |= 1 << kind
    return mask


class NotALogError(ValueError):
    """The file holds lines, but none is a buslog log line."""


_P = ctypes.c_void_p
# (column, numpy type, ctypes field) in the order of BuslogColumns.
_COLUMNS = (("rowKind", "u1"), ("lineFlags", "u1"), ("lineNumber", "u8"), ("frameNumber", "i8"), ("time", "i8"),
            ("absoluteTime", "i8"), ("channel", "i4"), ("interfaceIndex", "i4"), ("kind", "u1"),
            ("recordType", "u1"), ("identifier", "u4"), ("frameFlags", "u1"), ("dlc", "u1"), ("length", "u2"),
            ("data", "u1"), ("error", "i8"), ("marker", "u1"), ("textStart", "u4"), ("textLength", "u4"),
            ("valueStart", "u4"), ("valueLength", "u4"))


class _Columns(ctypes.Structure):
    _fields_ = ([("size", ctypes.c_uint32), ("capacity", ctypes.c_uint32), ("count", ctypes.c_uint32),
                 ("textCapacity", ctypes.c_uint32), ("textUsed", ctypes.c_uint32)]
                + [(name, _P) for name, _ in _COLUMNS] + [("text", _P)])


class _Counts(ctypes.Structure):
    _fields_ = [("size", ctypes.c_uint32), ("timeBases", ctypes.c_uint32), ("lines", ctypes.c_uint64),
                ("logLines", ctypes.c_uint64), ("malformedLines", ctypes.c_uint64),
                ("markerLines", ctypes.c_uint64), ("frames", ctypes.c_uint64), ("bytes", ctypes.c_uint64)]


_READ_FUNCTION = ctypes.CFUNCTYPE(ctypes.c_int64, _P, _P, ctypes.c_size_t)

_libraries = {}
_libraries_lock = threading.Lock()


def load_library(buslog_module=None):
    """The reader library (ctypes.CDLL, its functions typed), found beside
    the buslog module (module.find_library); loaded once per path."""
    path = os.path.realpath(find_library("buslog-reader", buslog_module))
    with _libraries_lock:
        library = _libraries.get(path)
        if library is not None:
            return library
        try:
            library = ctypes.CDLL(path)
        except OSError as error:
            raise ModuleLoadError(f"reader library {path!r} could not be loaded: {error}") from None
        handle = ctypes.POINTER(_P)
        for name, arguments, result in (
                ("BuslogReaderOpenFile", [ctypes.c_char_p, handle], ctypes.c_int),
                ("BuslogReaderOpenMemory", [_P, ctypes.c_size_t, handle], ctypes.c_int),
                ("BuslogReaderOpenSource", [_READ_FUNCTION, _P, handle], ctypes.c_int),
                ("BuslogReaderClose", [_P], None),
                ("BuslogReaderRead", [_P, ctypes.POINTER(_Columns), ctypes.c_uint32], ctypes.c_int),
                ("BuslogReaderInterface", [_P, ctypes.c_int32, ctypes.POINTER(ctypes.c_char_p),
                                           ctypes.POINTER(ctypes.c_size_t)], ctypes.c_int),
                ("BuslogReaderCounts", [_P, ctypes.POINTER(_Counts)], ctypes.c_int),
                ("BuslogReaderErrorText", [_P], ctypes.c_char_p),
                ("BuslogReaderResultText", [ctypes.c_int], ctypes.c_char_p),
                ("BuslogReaderVersion", [], ctypes.c_uint32)):
            function = getattr(library, name, None)
            if function is None:
                raise ModuleLoadError(f"reader library {path!r} lacks {name}")
            function.argtypes = arguments
            function.restype = result
        _libraries[path] = library
        return library


def _name_of(file):
    return str(getattr(file, "name", "log"))


class LogFile:
    """One log opened in the reader library, read a batch of lines at a
    time into numpy arrays that are reused from batch to batch.

    :param file: a path, or a file object (binary, or text: its bytes).
    :param columns: the columns wanted (names of BuslogColumns).
    :param wanted: the row kinds handed out (a mask of 1 << ROW_...).
    """

    def __init__(self, file, columns, wanted=ROWS_ALL, capacity=65536, buslog_module=None, memory=None):
        import numpy
        self.library = load_library(buslog_module)
        self.name = os.fspath(file) if isinstance(file, (str, bytes, os.PathLike)) else _name_of(file)
        if isinstance(self.name, bytes):
            self.name = os.fsdecode(self.name)
        self.wanted = wanted
        self._handle = _P()
        self._callback = None
        self._error = None
        self._interfaces = {}
        self._memory = None
        if memory is not None:
            self._memory = ctypes.create_string_buffer(bytes(memory), len(memory))
            result = self.library.BuslogReaderOpenMemory(self._memory, len(memory), ctypes.byref(self._handle))
        elif isinstance(file, (str, bytes, os.PathLike)):
            result = self.library.BuslogReaderOpenFile(os.fsencode(file), ctypes.byref(self._handle))
            if result == _OPEN_FAILED:
                text = self.library.BuslogReaderErrorText(self._handle).decode("utf-8", "replace")
                self.close()
                import errno
                code = errno.ENOENT if not os.path.exists(file) else None
                raise OSError(code, text.rpartition(": ")[2], self.name)
        else:
            self._callback = _READ_FUNCTION(self._reader_of(file))
            result = self.library.BuslogReaderOpenSource(self._callback, None, ctypes.byref(self._handle))
        if result != _OK:
            self.close()
            raise MemoryError(f"{self.name}: the reader library could not open it: "
                              + self.library.BuslogReaderResultText(result).decode())
        self.arrays = {}
        structure = _Columns()
        structure.size = ctypes.sizeof(_Columns)
        structure.capacity = capacity
        types = dict(_COLUMNS)
        for name in columns:
            if name in ("text", "textStart", "textLength", "valueStart", "valueLength"):
                continue
            shape = (capacity, ROW_DATA) if name == "data" else capacity
            array = self.arrays[name] = numpy.empty(shape, dtype=types[name])
            setattr(structure, name, array.ctypes.data)
        self.text = None
        if any(name in columns for name in ("text", "textStart", "textLength", "valueStart", "valueLength")):
            size = max(MIN_TEXT, capacity * 4)
            self.text = ctypes.create_string_buffer(size)
            structure.text = ctypes.addressof(self.text)
            structure.textCapacity = size
            for name in ("textStart", "textLength", "valueStart", "valueLength"):
                array = self.arrays[name] = numpy.empty(capacity, dtype="u4")
                setattr(structure, name, array.ctypes.data)
        self._structure = structure

    def _reader_of(self, file):
        if isinstance(file, io.TextIOBase):
            buffer = getattr(file, "buffer", None)
            if buffer is not None:
                file = buffer
            else:
                text = file

                class _Encoded:
                    def read(self, size):
                        return text.read(size).encode("utf-8", "surrogateescape")
                file = _Encoded()

        def read(context, buffer, size):
            try:
                data = file.read(size)
                if data and len(data) > size:
                    raise ValueError("read more than asked")
                if data:
                    ctypes.memmove(buffer, data, len(data))
                return len(data or b"")
            except BaseException as error:  # handed back to Python after the library's call
                self._error = error
                return -1
        return read

    def batches(self):
        """Yields the number of rows of each batch: self.arrays[name][:count]
        and self.text hold them until the next batch."""
        library, handle, structure, wanted = self.library, self._handle, self._structure, self.wanted
        pointer = ctypes.byref(structure)
        while True:
            result = library.BuslogReaderRead(handle, pointer, wanted)
            if result == _OK:
                yield structure.count
                continue
            if self._error is not None:
                error, self._error = self._error, None
                raise error
            if result == _END:
                return
            text = library.BuslogReaderErrorText(handle).decode("utf-8", "replace")
            raise OSError(f"{self.name}: {text or library.BuslogReaderResultText(result).decode()}")

    def text_of(self, start, length):
        return self.text.raw[start:start + length]

    def interface(self, index):
        """The interface name of an index the reader handed out (str)."""
        name = self._interfaces.get(index)
        if name is None:
            text, length = ctypes.c_char_p(), ctypes.c_size_t()
            if self.library.BuslogReaderInterface(self._handle, index, ctypes.byref(text), ctypes.byref(length)):
                raise ValueError(f"no interface {index}")
            name = self._interfaces[index] = ctypes.string_at(text, length.value).decode("utf-8",
                                                                                         "surrogateescape")
        return name

    def counts(self):
        counts = _Counts()
        counts.size = ctypes.sizeof(_Counts)
        self.library.BuslogReaderCounts(self._handle, ctypes.byref(counts))
        return counts

    def close(self):
        if self._handle:
            self.library.BuslogReaderClose(self._handle)
            self._handle = _P()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        self.close()


def _channel_of(shown, name, marked=False):
    """python-can's channel of a record: the interface name, but a name
    that is a whole number as python writes it ("1", "-2", not "01") as
    that number: python-can's integer channels (ASC, BLF, numbered
    interfaces) are logged as their text; without a name the number the
    log shows less one, or None in a log with marker lines (`marked`: its
    writer names every channel it was given a name for); None for "-"."""
    if shown == NO_CHANNEL:
        return None
    if name is None:
        return None if marked else shown - 1
    if name[-1:].isdigit():
        try:
            number = int(name)
        except ValueError:
            return name
        if str(number) == name:
            return number
    return name


def _make_message(timestamp, identifier, flags, dlc, data, channel, _new=Message.__new__, _message=Message):
    """A can.Message of a frame row, made without Message.__init__'s
    checks (the reader already holds each field to its rule)."""
    message = _new(_message)
    message.timestamp = timestamp
    message.arbitration_id = identifier
    message.is_extended_id = bool(flags & FRAME_EXTENDED)
    message.is_remote_frame = bool(flags & FRAME_REMOTE)
    message.is_error_frame = bool(flags & FRAME_ERROR)
    message.channel = channel
    size = len(data)
    # A can.Message's dlc: the requested length of a remote frame, the
    # data's length, but the nibble 9 to F of an 8-byte classic or error
    # frame (candump's "_X"), as the writer takes it back.
    if flags & FRAME_REMOTE:
        message.dlc = dlc
    elif flags & FRAME_FD:
        message.dlc = size
    else:
        message.dlc = dlc if (dlc > 8 and size == 8) else size
    message.data = data
    message.is_fd = bool(flags & FRAME_FD)
    message.is_rx = not flags & FRAME_SENT
    message.bitrate_switch = bool(flags & FRAME_BRS)
    message.error_state_indicator = bool(flags & FRAME_ESI)
    return message


_FRAME_COLUMNS = ("rowKind", "lineFlags", "lineNumber", "frameNumber", "time", "absoluteTime", "channel",
                  "interfaceIndex", "identifier", "frameFlags", "dlc", "length", "data")


class _Frames:
    """The frames of one batch as Python lists and bytes, for Messages."""

    def __init__(self, log_file, count, start_micros):
        arrays = log_file.arrays
        self.count = count
        self.default_time = start_micros / 1e6
        absolute = arrays["absoluteTime"][:count]
        own = arrays["time"][:count]
        self.times = _seconds(absolute, own, start_micros).tolist()
        self.identifiers = arrays["identifier"][:count].tolist()
        self.flags = arrays["frameFlags"][:count].tolist()
        self.dlcs = arrays["dlc"][:count].tolist()
        self.lengths = arrays["length"][:count].tolist()
        self.data = arrays["data"][:count].tobytes()
        shown = arrays["channel"][:count].tolist()
        named = arrays["interfaceIndex"][:count].tolist()
        marked = (absolute != NO_TIME).tolist()
        names = {}
        channels = []
        for number, index, has_start in zip(shown, named, marked):
            key = (number, index, has_start)
            channel = names.get(key)
            if channel is None and key not in names:
                channel = names[key] = _channel_of(number, None if index < 0 else log_file.interface(index), has_start)
            channels.append(channel)
        self.channels = channels
        self.log_file = log_file

    def message(self, row):
        length = self.lengths[row]
        if length > ROW_DATA:
            # A classic record of more data bytes than CAN carries: its bytes are in the text.
            arrays = self.log_file.arrays
            data = self.log_file.text_of(int(arrays["textStart"][row]), int(arrays["textLength"][row]))
        else:
            at = row * ROW_DATA
            data = self.data[at:at + length]
        timestamp = self.times[row]
        return _make_message(self.default_time if timestamp is None else timestamp, self.identifiers[row], self.flags[row],
                             self.dlcs[row], bytearray(data), self.channels[row])


def _seconds(absolute, own, start_micros):
    """Seconds of each row as an object array of floats (None without a
    time stamp): absolute where the file gave a time base, else the log's
    own time plus start."""
    import numpy
    result = numpy.where(absolute != NO_TIME, absolute, own + start_micros) / 1e6
    values = result.astype(object)
    values[own == NO_TIME] = None
    return values


def iter_records(file, start=0.0, buslog_module=None):
    """Every line of a log as a `Record`, in order.

    :param file: path of the log, or a file object (binary, or text: its
        bytes are read as they are).
    :param start: seconds added to the times of lines before any
        `buslog start` marker (a log that does not say when it began).
    :param buslog_module: the module whose folder holds the reader library
        (else BUSLOG_MODULE, else the installed one).

    Raises NotALogError when the file holds lines but none is a log line
    (a candump trace named .buslog, say). The first 1000 lines are held
    back until a log line is found, so that a short file that is no log
    yields nothing before the error. A last line without its line end (cut,
    or still being written) comes as 'malformed', "last line cut (no line
    end)".
    """
    start_micros = round(float(start or 0.0) * 1e6)
    with LogFile(file, _FRAME_COLUMNS + ("recordType", "error", "marker", "text"), ROWS_ALL, 16384,
                 buslog_module) as log_file:
        name = log_file.name
        seen_log_line = False
        held = []
        first_lines = []
        number = 0
        new = tuple.__new__
        arrays = log_file.arrays
        for count in log_file.batches():
            frames = _Frames(log_file, count, start_micros)
            kinds = arrays["rowKind"][:count].tolist()
            flags = arrays["lineFlags"][:count].tolist()
            lines = arrays["lineNumber"][:count].tolist()
            frame_numbers = arrays["frameNumber"][:count].tolist()
            types = arrays["recordType"][:count].tolist()
            errors = arrays["error"][:count].tolist()
            starts = arrays["textStart"][:count].tolist()
            lengths = arrays["textLength"][:count].tolist()
            text = log_file.text.raw
            for row in range(count):
                kind = kinds[row]
                number = lines[row]
                frame_number = frame_numbers[row]
                frame_number = None if frame_number < 0 else frame_number
                message = channel = text_of_row = None
                if kind == ROW_FRAME:
                    message = frames.message(row)
                    channel = message.channel
                    kind_name = "frame"
                elif kind == ROW_MARKER:
                    kind_name = "marker"
                    text_of_row = text[starts[row]:starts[row] + lengths[row]].decode("utf-8", "surrogateescape")
                elif kind == ROW_RECORD:
                    kind_name = "record"
                    channel = frames.channels[row]
                    if types[row] == RECORD_CAN:
                        text_of_row = "CAN record without identifier or length"
                elif kind == ROW_ERROR:
                    kind_name, text_of_row = "error", "(0:ERR=%08X)" % errors[row]
                elif kind == ROW_EMPTY:
                    kind_name = "empty"
                else:
                    kind_name = "malformed" if kind == ROW_MALFORMED else "text"
                    text_of_row = text[starts[row]:starts[row] + lengths[row]].decode("ascii")
                record = new(Record, (number, frame_number, frames.times[row], kind_name, message, text_of_row,
                                      channel))
                if seen_log_line:
                    yield record
                    continue
                if flags[row] & LINE_LOG:
                    seen_log_line = True
                if held is None:
                    yield record
                    continue
                held.append(record)
                if seen_log_line or len(held) >= NO_LOG_AFTER:
                    # A log, or too many lines to hold back: the rest is read
                    # as it comes, and a file without any log line is said at
                    # its end.
                    yield from held
                    first_lines, held = held, None
        if seen_log_line:
            return
        if held is not None:
            first_lines = held
        if any(record.kind != "empty" for record in first_lines):
            raise _no_log(name, first_lines, log_file.counts().lines)
        yield from held or ()


def _no_log(name, first_lines, count):
    first = next(record for record in first_lines if record.kind != "empty")
    return NotALogError(f"{name} is not a buslog log: none of its {count} lines is a log line "
                        f"(line {first.line_number}: {first.text})")


def is_log(file, buslog_module=None):
    """True when `file` (a path) is a buslog log: a file of which a line is
    a log line. An empty file counts as a log (one just begun), and so does
    a file of empty lines."""
    with LogFile(file, ("rowKind", "lineFlags"), ROWS_ALL, 4096, buslog_module) as log_file:
        lines = False
        for count in log_file.batches():
            if (log_file.arrays["lineFlags"][:count] & LINE_LOG).any():
                return True
            lines = lines or bool((log_file.arrays["rowKind"][:count] != ROW_EMPTY).any())
    return not lines


def parse_can_line(line, start=0.0, buslog_module=None):
    """The can.Message of one log line (bytes, line end removed), or None
    when the line is not a CAN frame. Raises ValueError for a CAN record
    that breaks the rules (the reader reads it as a malformed line)."""
    columns = _FRAME_COLUMNS + ("recordType", "text")
    with LogFile("line", columns, ROWS_ALL, 1, buslog_module, memory=bytes(line) + b"\n") as log_file:
        arrays = log_file.arrays
        for _ in log_file.batches():
            kind = int(arrays["rowKind"][0])
            if kind == ROW_FRAME:
                return _Frames(log_file, 1, round(float(start or 0.0) * 1e6)).message(0)
            if kind == ROW_MALFORMED and arrays["recordType"][0] == RECORD_CAN:
                at = int(arrays["textStart"][0])
                raise ValueError(log_file.text.raw[at:at + int(arrays["textLength"][0])].decode())
    return None


class BuslogReader(MessageReader):
    """Iterates over the CAN frames of a .buslog log as can.Message objects.

    :param file: path of the log, or a file object open in binary mode.
    :param start: seconds added to the times of a log that does not say
        when it began (no `buslog start` marker), e.g. the time it was
        started. A log that says it gives absolute times without this.
    :param buslog_module: the module beside which the reader library lies
        (else BUSLOG_MODULE, else the installed one).

    `timestamp` is absolute (seconds since the epoch) where the log says
    when it began; `channel` is the interface's name where the log names it
    (`buslog channel` markers; a name that is a whole number as that int),
    None for a channel without a name in a log with marker lines, else the
    channel number the log shows less one. Other lines (LIN, CXPI, ports, environment variables, markers) are
    skipped. Malformed lines (meant as log lines, but breaking their rules)
    are skipped too, counted in `malformed` and logged as warnings (the
    first 20). A cut last line (no CR LF: one still being written, or its
    writer stopped) is counted in `unfinished` and not read. A file that is
    no log at all raises NotALogError.
    """

    def __init__(self, file, start=0.0, *args, buslog_module=None, **kwargs):
        # A path is read by the library itself; python-can's handler keeps
        # the file object it opens for its own use.
        self._path = file if isinstance(file, (str, bytes, os.PathLike)) else None
        super().__init__(file, mode="rb")
        self.start = float(start or 0.0)
        self.malformed = 0
        self.unfinished = 0
        self.buslog_module = buslog_module

    def __iter__(self):
        name = _name_of(self.file)
        start_micros = round(self.start * 1e6)
        try:
            with LogFile(self._path if self._path is not None else self.file, _FRAME_COLUMNS + ("text",), _rows(ROW_FRAME, ROW_MALFORMED, ROW_TEXT), 16384,
                         self.buslog_module) as log_file:
                arrays = log_file.arrays
                first_text = None
                for count in log_file.batches():
                    frames = _Frames(log_file, count, start_micros)
                    kinds = arrays["rowKind"][:count]
                    if (kinds == ROW_FRAME).all():
                        yield from map(frames.message, range(count))
                        continue
                    for row, kind in enumerate(kinds.tolist()):
                        if kind == ROW_FRAME:
                            yield frames.message(row)
                            continue
                        start = int(arrays["textStart"][row])
                        why = log_file.text.raw[start:start + int(arrays["textLength"][row])].decode()
                        number = int(arrays["lineNumber"][row])
                        if first_text is None:
                            first_text = (number, why)
                        if kind == ROW_TEXT:
                            continue
                        if arrays["lineFlags"][row] & LINE_UNENDED:
                            self.unfinished += 1
                            continue
                        if self.malformed < _MAX_WARNINGS:
                            log.warning("%s:%d: %s; line skipped", name, number, why)
                        self.malformed += 1
                counts = log_file.counts()
                if counts.lines and not counts.logLines and first_text is not None:
                    record = Record(first_text[0], None, None, "text", None, first_text[1], None)
                    raise _no_log(name, [record], counts.lines)
        finally:
            self.stop()


class Frames(dict):
    """The CAN frames of a set of logs as columns: numpy arrays of one
    length, by name, in log order (files in the order given):

    time       float64 seconds: since the epoch where the file says when it
               began (a `buslog start` marker), else the log's own time
               (NaN for a frame without a time stamp)
    absolute   bool: time is since the epoch
    channel    int32: python-can's channel number (the log's less one; -1
               for "-")
    interface  int16: index into `interfaces` of the channel's interface
               name, -1 where the file names none
    id         uint32: the identifier (error frames: the error class)
    extended, remote, fd, brs, esi, error, rx   bool
    dlc        uint8: the length nibble (remote frames: requested length)
    length     uint16: data bytes
    data       uint8 (frames, width): the data bytes, zero after `length`;
               width is the longest frame's length
    frame      int64: frame number (-1 where the line has none)
    line       int64: line number in its file
    file       int16: index into `paths`

    Attributes: `paths`, `interfaces` (names), `lines`, `malformed`.
    """

    paths = ()
    interfaces = ()
    lines = 0
    malformed = 0

    def __len__(self):
        # The number of frames, as pandas and numpy see a table's length.
        column = dict.get(self, "time")
        return 0 if column is None else len(column)

    def __repr__(self):
        return f"<buslog.Frames: {len(self):,} frames of {len(self.paths)} log(s)>"


def read_frames(paths, start=0.0, buslog_module=None):
    """The CAN frames of the logs at `paths` (a path or a list, read in
    order) as a `Frames` of numpy columns: no Python object per frame.

    :param start: seconds added to the times of frames that have no
        `buslog start` marker before them.

    Raises NotALogError for a file with lines but no log line, OSError for
    one that cannot be read.
    """
    import numpy
    if isinstance(paths, (str, bytes, os.PathLike)):
        paths = [paths]
    paths = [os.fspath(path) for path in paths]
    start_micros = round(float(start or 0.0) * 1e6)
    parts = collections.defaultdict(list)
    interfaces = []
    interface_codes = {}
    width = 0
    total_lines = malformed = 0
    types = dict(_COLUMNS)
    direct = ("lineNumber", "frameNumber", "time", "absoluteTime", "channel", "interfaceIndex", "identifier",
              "frameFlags", "dlc", "length")
    for file_index, path in enumerate(paths):
        # Every frame line has at least this many bytes ("000000001,I,CAN     , 1,OK,0,1,23,0" and its
        # line end): the library writes the columns straight into arrays of
        # that many rows, of which only the pages used are ever touched.
        most = os.path.getsize(path) // 37 + 1
        whole = {name: numpy.empty(most, dtype=types[name]) for name in direct}
        with LogFile(path, ("data",), _rows(ROW_FRAME), 65536, buslog_module) as log_file:
            structure = log_file._structure
            filled = 0
            for name in direct:
                setattr(structure, name, whole[name].ctypes.data)
            for count in log_file.batches():
                lengths = whole["length"][filled:filled + count]
                longest = int(lengths.max())
                if longest > ROW_DATA:
                    raise ValueError(f"{path}: a classic CAN record of {longest} data bytes; "
                                     "read_frames keeps at most 64")
                width = max(width, longest)
                parts["data"].append(log_file.arrays["data"][:count, :max(longest, 1)].copy())
                filled += count
                structure.capacity = min(65536, most - filled) or 1
                for name in direct:
                    setattr(structure, name, whole[name][filled:].ctypes.data if filled < most else 0)
            counts = log_file.counts()
            if counts.lines and not counts.logLines:
                raise NotALogError(f"{path} is not a buslog log: none of its {counts.lines} lines is a log line")
            total_lines += counts.lines
            malformed += counts.malformedLines
            for name in direct:
                parts[name].append(whole[name][:filled])
            local = whole["interfaceIndex"][:filled]
            named = int(local.max()) + 1 if filled else 0
            table = numpy.full(named + 1, -1, dtype=numpy.int16)
            for index in range(named):
                name = log_file.interface(index)
                code = interface_codes.get(name)
                if code is None:
                    code = interface_codes[name] = len(interfaces)
                    interfaces.append(name)
                table[index] = code
            parts["interface"].append(table[local])
            parts["file"].append(numpy.full(filled, file_index, dtype=numpy.int16))

    def joined(name, dtype):
        if len(parts[name]) == 1:
            return parts[name][0]
        return numpy.concatenate(parts[name]) if parts[name] else numpy.empty(0, dtype=dtype)

    absolute = joined("absoluteTime", numpy.int64)
    own = joined("time", numpy.int64)
    flags = joined("frameFlags", numpy.uint8)
    shown = joined("channel", numpy.int32)
    data = [numpy.pad(part, ((0, 0), (0, width - part.shape[1]))) if part.shape[1] != width else part
            for part in parts["data"]]
    frames = Frames()
    has_absolute = absolute != NO_TIME
    seconds = numpy.where(has_absolute, absolute, own + start_micros) / 1e6
    seconds[own == NO_TIME] = numpy.nan
    frames["time"] = seconds
    frames["absolute"] = has_absolute
    frames["channel"] = numpy.where(shown == NO_CHANNEL, 0, shown - 1).astype(numpy.int32)
    frames["channel"][shown == NO_CHANNEL] = -1
    frames["interface"] = joined("interface", numpy.int16)
    frames["id"] = joined("identifier", numpy.uint32)
    for name, bit in (("extended", FRAME_EXTENDED), ("remote", FRAME_REMOTE), ("fd", FRAME_FD),
                      ("brs", FRAME_BRS), ("esi", FRAME_ESI), ("error", FRAME_ERROR)):
        frames[name] = (flags & bit) != 0
    frames["rx"] = (flags & FRAME_SENT) == 0
    frames["dlc"] = joined("dlc", numpy.uint8)
    frames["length"] = joined("length", numpy.uint16)
    frames["data"] = numpy.concatenate(data) if data else numpy.empty((0, 0), dtype=numpy.uint8)
    frames["frame"] = joined("frameNumber", numpy.int64)
    frames["line"] = joined("lineNumber", numpy.uint64).astype(numpy.int64)
    frames["file"] = joined("file", numpy.int16)
    frames.paths = paths
    frames.interfaces = interfaces
    frames.lines = total_lines
    frames.malformed = malformed
    return frames
