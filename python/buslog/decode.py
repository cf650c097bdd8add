"""Signals from bus logs: every CAN frame of a buslog log (or a candump
trace) that a CAN database knows, decoded into one row per signal value.

    for row in buslog.decode("run.csv", dbc="car.dbc", signals=["ENGINE_DATA.*"]):
        print(row.time, row.channel, row.message, row.signal, row.value, row.unit, row.label)

    columns = buslog.signals("run.csv", dbc="car.dbc", message="ENGINE_DATA")

The database is read with canmatrix (DBC, ARXML, KCD, SYM, ...). The log
is read a block of frames at a time (buslog logs through the reader
library, candump traces through python-can); the frames of a block are
grouped by message, and each signal is decoded for all of its message's
frames at once with numpy. What the decoder does is what the database
says, as canmatrix reads it:

- little endian (Intel): the signal's bits from its start bit (the least
  significant bit, numbered from bit 0 of byte 0) upwards;
- big endian (Motorola): the bits from its most significant one, in the
  order the bytes stand;
- signed values in two's complement, IEEE floats of 32 and 64 bits,
  physical value = raw * factor + offset (an int when factor and offset
  are whole numbers, else a float rounded to their decimal places, so
  that 0.02 * 62 is 1.24 and not 1.2400000000000002);
- a value table's label for the raw value (as DBC files define them);
- simple multiplexing: the multiplexer first, then the signals of its
  value; nested multiplexing (SG_MUL_VAL_) goes through canmatrix's own
  decoder, a frame at a time.

A frame shorter than its message is not decoded but counted; a longer one
(a CAN FD frame padded to its length code) is decoded over the message's
length. A signal that does not fit in its message's length (the database's
fault) is named once, as a warning, and left out; its message's other
signals are decoded. Frames the database does not know, remote and error
frames, lines that are no frame and gaps in a buslog log's frame numbers
are counted in a `Summary`.
"""

import ast
import collections
import contextlib
import fnmatch
import io
import logging
import os
import re
import struct

import can

__all__ = ["Row", "Database", "DatabaseError", "DecodeError", "Summary", "Gap", "decode", "load_database",
           "read_frames"]

log = logging.getLogger("buslog.decode")

# One signal value: time in seconds (absolute epoch seconds when the log
# says when it began, else seconds since its start), the channel (the
# interface name where the log gives it), message and signal names as the
# database writes them, the physical value, its unit and the value table's
# label for it ("" when there is none).
Row = collections.namedtuple("Row", "time channel message signal value unit label")

# A jump in a log's frame numbers: `lost` frames between frame `after`
# (at time `since`) and the next frame line (at `time`, in file at line).
Gap = collections.namedtuple("Gap", "time after lost file line since")


class DatabaseError(Exception):
    """A CAN database that cannot be read, or a signal pattern that matches nothing."""


class DecodeError(Exception):
    """With strict decoding: a frame or line that could not be decoded."""


_canmatrix_formats = None


def _formats():
    """canmatrix.formats, imported without its complaints about formats
    whose optional libraries are missing ("ldf is not supported")."""
    global _canmatrix_formats
    if _canmatrix_formats is None:
        logger = logging.getLogger("canmatrix")
        level = logger.level
        logger.setLevel(logging.ERROR)
        try:
            import canmatrix.formats
        finally:
            logger.setLevel(level)
        _canmatrix_formats = canmatrix.formats
    return _canmatrix_formats


class _Collect(logging.Handler):
    def __init__(self):
        super().__init__(logging.WARNING)
        self.messages = []

    def emit(self, record):
        self.messages.append(record.getMessage())


def _printed_complaints(text):
    """canmatrix's printed parse complaints, one a message: a line such as
    "error with line no: 165" and the repr of the line it means,
    b'BO_ 13274 LKAS_HUD_A: 5 ADAS\\n', joined into one."""
    complaints = []
    for line in text.splitlines():
        line = line.strip()
        if not line:
            continue
        if line[:2] in ("b'", 'b"') and complaints:
            try:
                quoted = ast.literal_eval(line).decode("utf-8", "replace").strip()
            except (ValueError, SyntaxError):
                quoted = line
            complaints[-1] += ": " + quoted
        else:
            complaints.append(line)
    return complaints


class _Signal:
    """One signal compiled for decoding (see the module's description)."""

    __slots__ = ("name", "unit", "little", "shift", "mask", "sign", "full", "float_format", "factor", "offset",
                 "digits", "labels", "mux_value", "is_multiplexer", "end_byte", "source", "_start", "size")

    def __init__(self, signal, size_bytes):
        self.source = signal
        self.name = signal.name
        self.unit = signal.unit or ""
        self.little = bool(signal.is_little_endian)
        size = int(signal.size)
        start = int(signal.start_bit)
        if self.little:
            self.shift = start
            last_bit = start + size - 1
            self.end_byte = last_bit // 8 + 1
        else:
            # start is the most significant bit, counted from byte 0's bit 7.
            self.shift = None
            self.end_byte = (start + size - 1) // 8 + 1
        self._start = start
        self.size = size
        self.mask = (1 << size) - 1
        self.sign = (1 << (size - 1)) if signal.is_signed else 0
        self.full = 1 << size
        self.float_format = None
        if signal.is_float:
            if size not in (32, 64):
                raise DatabaseError(f"signal {signal.name}: a float of {size} bits")
            self.float_format = struct.Struct(">f" if size == 32 else ">d")
        factor, offset = signal.factor, signal.offset
        whole = _is_whole(factor) and _is_whole(offset)
        if whole and not signal.is_float:
            self.factor, self.offset, self.digits = int(factor), int(offset), None
        else:
            self.factor, self.offset = float(factor), float(offset)
            self.digits = None if signal.is_float else max(_decimals(factor), _decimals(offset))
        self.labels = {int(key): str(text) for key, text in (signal.values or {}).items()}
        self.mux_value = None if signal.mux_val is None else int(signal.mux_val)
        self.is_multiplexer = bool(signal.is_multiplexer)

    def place(self, size_bytes):
        """Sets the big-endian shift for a message of size_bytes bytes."""
        if not self.little:
            self.shift = size_bytes * 8 - self._start - (self.mask.bit_length())

    def raw(self, little, big):
        raw = ((little if self.little else big) >> self.shift) & self.mask
        if self.sign and raw & self.sign:
            raw -= self.full
        return raw

    def physical(self, raw):
        if self.float_format is not None:
            raw = self.float_format.unpack((raw & self.mask).to_bytes(self.float_format.size, "big"))[0]
        if self.factor == 1 and self.offset == 0:
            return raw
        value = raw * self.factor + self.offset
        if self.digits is not None:
            value = round(value, self.digits)
        return value


def _is_whole(number):
    return number == int(number)


def _decimals(number):
    """Decimal places of a factor or offset (canmatrix gives them as Decimal)."""
    import decimal
    exponent = decimal.Decimal(str(number)).normalize().as_tuple().exponent
    return max(0, -int(exponent))


class _Message:
    """One message of a database, with the signals chosen from it."""

    __slots__ = ("name", "size", "plain", "by_mux", "multiplexer", "complex", "frame", "chosen", "_by_name", "rows",
                 "source", "unfit", "keep")

    def __init__(self, frame, chosen):
        self.frame = frame
        self.name = frame.name
        self.size = int(frame.size)
        signals = [_Signal(signal, frame.size) for signal in frame.signals]
        # A signal past the message's length cannot be decoded: the
        # database's fault, named once by the Database; the others are.
        self.unfit = [signal for signal in signals if signal.end_byte > self.size and signal.name in chosen]
        signals = [signal for signal in signals if signal.end_byte <= self.size]
        for signal in signals:
            signal.place(self.size)
        self.chosen = frozenset(chosen)
        self.complex = bool(frame.is_complex_multiplexed)
        self.multiplexer = next((s for s in signals if s.is_multiplexer), None)
        keep = [s for s in signals if s.name in self.chosen]
        self.plain = [s for s in keep if s.mux_value is None]
        self.by_mux = {}
        for signal in keep:
            if signal.mux_value is not None:
                self.by_mux.setdefault(signal.mux_value, list(self.plain)).append(signal)
        self._by_name = {s.name: s for s in signals}
        self.keep = keep
        self.source = None
        if self.complex:
            self.rows = self._rows_through_canmatrix
        else:
            self.rows = self._generate(signals, keep)

    def _rows_through_canmatrix(self, data, time, channel):
        new = tuple.__new__
        return [new(Row, (time, channel, self.name, signal.name, signal.physical(raw), signal.unit,
                          signal.labels.get(raw, "") if signal.labels else ""))
                for signal, raw in self.values(data)]

    def _generate(self, signals, keep):
        """rows(data, time, channel): the Rows of the chosen signals in data
        (at least self.size bytes long), as a function written for this
        message: its shifts, masks, factors and offsets are constants in
        its code, so a frame costs no lookups and no calls per signal."""
        names = {"_new": tuple.__new__, "_Row": Row, "_from": int.from_bytes}
        body = []
        if any(s.little for s in signals):
            body.append("L = _from(data, 'little')")
        if any(not s.little for s in signals):
            body.append(f"B = _from(data if len(data) == {self.size} else data[:{self.size}], 'big')")

        def value(signal, index):
            source = "L" if signal.little else "B"
            lines = [f"r = ({source} >> {signal.shift}) & {signal.mask}" if signal.shift else f"r = {source} & {signal.mask}"]
            if signal.sign and signal.float_format is None:
                lines.append(f"if r & {signal.sign}: r -= {signal.full}")
            if signal.float_format is not None:
                names[f"_u{index}"] = signal.float_format.unpack
                lines.append(f"r = _u{index}(r.to_bytes({signal.float_format.size}, 'big'))[0]")
            expression = "r" if signal.factor == 1 else f"r * {signal.factor!r}"
            if signal.offset != 0:
                expression += f" + {signal.offset!r}"
            if signal.digits is not None and signal.factor != 1:
                expression = f"round({expression}, {signal.digits})"
            lines.append(f"v{index} = {expression}")
            if signal.labels and signal.float_format is None:
                names[f"_l{index}"] = signal.labels
                lines.append(f"l{index} = _l{index}.get(r, '')")
            return lines

        def row(signal, index):
            label = f"l{index}" if signal.labels and signal.float_format is None else "''"
            return f"_new(_Row, (time, channel, {self.name!r}, {signal.name!r}, v{index}, {signal.unit!r}, {label}))"

        index = {id(signal): number for number, signal in enumerate(signals)}
        plain = [s for s in keep if s.mux_value is None]
        for signal in plain:
            body += value(signal, index[id(signal)])
        if self.multiplexer is not None and self.by_mux:
            mux = self.multiplexer
            body += value(mux, "m")
            body.append("m = r")
            for mux_value in sorted(self.by_mux):
                branch = [s for s in keep if s.mux_value is None or s.mux_value == mux_value]
                body.append(f"if m == {mux_value}:")
                for signal in branch:
                    if signal.mux_value is not None:
                        body += ["    " + line for line in value(signal, index[id(signal)])]
                body.append("    return (" + "".join(row(s, index[id(s)]) + ", " for s in branch) + ")")
        body.append("return (" + "".join(row(s, index[id(s)]) + ", " for s in plain) + ")")
        self.source = "def rows(data, time, channel):\n" + "".join("    " + line + "\n" for line in body)
        exec(compile(self.source, f"<decoder of {self.name}>", "exec"), names)
        return names["rows"]

    def values(self, data):
        """[(signal, raw value)] of the chosen signals in data (at least
        self.size bytes)."""
        if self.complex:
            decoded = self.frame.decode(bytes(data[:self.frame.size]))
            return [(self._by_name[name], int(item.raw_value) if not self._by_name[name].float_format else item.raw_value)
                    for name, item in decoded.items() if name in self.chosen and name in self._by_name]
        little = int.from_bytes(data, "little")
        big = int.from_bytes(data[:self.size], "big")
        signals = self.plain
        if self.multiplexer is not None and self.by_mux:
            signals = self.by_mux.get(self.multiplexer.raw(little, big), self.plain)
        return [(signal, signal.raw(little, big)) for signal in signals]


class Database:
    """A CAN database read with canmatrix.

    `warnings` holds what canmatrix complained about while reading it
    (it prints some of that on standard output; here it is captured).
    `frames` maps (identifier, extended) to canmatrix's Frame.
    """

    def __init__(self, path):
        self.path = os.fspath(path)
        formats = _formats()
        printed = io.StringIO()
        collect = _Collect()
        logger = logging.getLogger("canmatrix")
        logger.addHandler(collect)
        propagate = logger.propagate
        logger.propagate = False
        try:
            with contextlib.redirect_stdout(printed):
                loaded = formats.loadp(self.path)
        except OSError as error:
            raise DatabaseError(f"{self.path}: cannot read: {error.strerror or error}") from None
        except Exception as error:  # canmatrix raises whatever its parsers raise
            raise DatabaseError(f"{self.path}: cannot read as a CAN database: {error}") from None
        finally:
            logger.removeHandler(collect)
            logger.propagate = propagate
        self.warnings = _printed_complaints(printed.getvalue()) + collect.messages
        if not loaded:
            raise DatabaseError(f"{self.path}: not a CAN database canmatrix can read (by its extension)")
        self.frames = {}
        for matrix in loaded.values():
            for frame in matrix.frames:
                key = (frame.arbitration_id.id, bool(frame.arbitration_id.extended))
                self.frames.setdefault(key, frame)
        if not self.frames:
            raise DatabaseError(f"{self.path}: holds no message")

    def names(self):
        """Every MESSAGE.SIGNAL of the database."""
        return [f"{frame.name}.{signal.name}" for frame in self.frames.values() for signal in frame.signals]

    def compile(self, patterns):
        """{(identifier, extended): _Message} of the messages with a signal
        that matches one of the patterns (None: every signal). A chosen
        signal that does not fit in its message is named once, as a warning
        of logger "buslog.decode"."""
        compiled = {}
        for key, frame in self.frames.items():
            chosen = [signal.name for signal in frame.signals
                      if patterns is None or any(fnmatch.fnmatchcase(f"{frame.name}.{signal.name}", p) for p in patterns)]
            if chosen:
                message = _Message(frame, chosen)
                for signal in message.unfit:
                    self._say_unfit(message, signal)
                if message.keep:
                    compiled[key] = message
        return compiled

    def _say_unfit(self, message, signal):
        said = self.__dict__.setdefault("_unfit_said", set())
        if (message.name, signal.name) in said:
            return
        said.add((message.name, signal.name))
        log.warning("%s: signal %s.%s does not fit in its message (%d bits from bit %d, %s, in %d bytes); "
                    "not decoded", self.path, message.name, signal.name, signal.size, signal._start,
                    "little endian" if signal.little else "big endian", message.size)


_loaded = {}


def load_database(path):
    """The Database of path, read once per process (canmatrix's warnings
    are logged once, as warnings of logger "buslog.decode" naming the file)."""
    key = os.path.realpath(os.fspath(path))
    database = _loaded.get(key)
    if database is None:
        database = _loaded[key] = Database(path)
        for warning in database.warnings:
            log.warning("%s: %s", database.path, warning)
    return database


class Summary:
    """What a decoding met, counted. Attributes: files, lines, frames,
    decoded (frames decoded), rows, unknown ({(id, extended): frames} of
    frames no database knows), short ({message: frames} too short for it),
    not_chosen (frames of messages none of whose signals was chosen),
    remote, error_frames, records (lines of other records: LIN, ports, error fields,
    ...), markers, malformed, empty, gaps (a list of Gap), undecoded
    ({message: [times]} of chosen messages' frames that could not be
    decoded), first_time, last_time, start (the log's start in epoch
    seconds when it says it), channels."""

    def __init__(self):
        self.files = []
        self.lines = self.frames = self.decoded = self.rows = 0
        self.unknown = collections.Counter()
        self.short = collections.Counter()
        self.undecoded = collections.defaultdict(list)
        self.not_chosen = self.remote = self.error_frames = 0
        self.records = self.markers = self.malformed = self.empty = 0
        self.gaps = []
        self.first_time = self.last_time = None
        self.start = None
        self.channels = []

    @property
    def lost(self):
        return sum(gap.lost for gap in self.gaps)

    def text(self):
        """The summary, a few lines for standard error."""
        files = ", ".join(self.files)
        lines = [f"{files}: {count(self.lines, 'line')}, {count(self.frames, 'CAN frame')}; "
                 f"{count(self.decoded, 'frame')} decoded into {count(self.rows, 'value')}"]
        if self.unknown:
            top = ", ".join(_identifier(key) + f" ({count:,})" for key, count in self.unknown.most_common(5))
            more = f", ... {len(self.unknown) - 5} more" if len(self.unknown) > 5 else ""
            lines.append(f"  not in the database: {count(sum(self.unknown.values()), 'frame')} of "
                         f"{count(len(self.unknown), 'identifier')}: {top}{more}")
        if self.short:
            what = ", ".join(f"{name} ({count:,})" for name, count in self.short.most_common())
            lines.append(f"  too short for their message: {count(sum(self.short.values()), 'frame')}: {what}")
        if self.not_chosen:
            lines.append(f"  of messages with no chosen signal: {count(self.not_chosen, 'frame')}")
        if self.remote or self.error_frames:
            lines.append(f"  remote frames {self.remote:,}, error frames {self.error_frames:,}")
        skipped = [(self.records, "other records"), (self.markers, "markers"), (self.malformed, "malformed lines"),
                   (self.empty, "empty lines")]
        if any(count for count, _ in skipped):
            lines.append("  not frames: " + ", ".join(f"{count:,} {what}" for count, what in skipped if count))
        if self.gaps:
            origin = self.start if self.start is not None else 0.0
            first = ", ".join(f"{gap.lost:,} after frame {gap.after} at {gap.time - origin:.6f} s" for gap in self.gaps[:3])
            more = f", ... {len(self.gaps) - 3} more" if len(self.gaps) > 3 else ""
            lines.append(f"  frames lost: {self.lost:,} in {count(len(self.gaps), 'gap')} of the frame numbers: {first}{more}")
        return "\n".join(lines)


def count(number, noun):
    """"1 frame", "2,048 frames"."""
    return f"{number:,} {noun}" if number == 1 else f"{number:,} {noun}s"


def _identifier(key):
    identifier, extended = key
    return f"0x{identifier:08X}" if extended else f"0x{identifier:03X}"


# ---------------------------------------------------------------------------
# Reading logs a block of frames at a time: buslog logs through the reader
# library, candump traces through python-can's CanutilsLogReader.

_CANDUMP_LINE = re.compile(rb"^\s*\(\d+(\.\d+)?\)\s+\S+\s+[0-9A-Fa-f]+#")
# Frames of a block.
_BLOCK = 65536


def _is_candump(path):
    with open(path, "rb") as file:
        for line in file:
            if line.strip():
                return bool(_CANDUMP_LINE.match(line))
    return False


class _Block:
    """A block of CAN frames in log order, as columns, from one file:
    time (float64 seconds, NaN without a time stamp), channel (codes into
    `channels`, the channel as python-can gives it), id, extended, remote,
    error, length, data (frames x width bytes), line (line numbers).
    `problem` is (line, why) of the block's first malformed line, and
    `problem_before` how many of the block's frames come before it."""

    __slots__ = ("path", "time", "channel", "channels", "id", "extended", "remote", "error", "length", "data",
                 "line", "problem", "problem_before")

    def __len__(self):
        return len(self.time)

    def cut(self, count):
        """The block's first `count` frames."""
        block = _Block()
        block.path, block.channels, block.problem, block.problem_before = self.path, self.channels, None, None
        for name in ("time", "channel", "id", "extended", "remote", "error", "length", "data", "line"):
            setattr(block, name, getattr(self, name)[:count])
        return block


class _Gaps:
    """Gaps in the frame numbers of the lines read as one, across files."""

    def __init__(self, summary):
        self.summary = summary
        self.previous = None
        self.previous_time = None

    def take(self, numbers, times, lines, path):
        """Lines with frame numbers (not 0) in order: numbers, their times
        (NaN without) and line numbers."""
        import numpy
        if not len(numbers):
            return
        before = numpy.concatenate(([self.previous if self.previous is not None else numbers[0]], numbers[:-1]))
        jumps = numpy.nonzero(numbers > before + 1)[0]
        for at in jumps.tolist():
            since = self.previous_time if at == 0 else times[at - 1]
            self.summary.gaps.append(Gap(_time_or_none(times[at]), int(before[at]), int(numbers[at] - before[at] - 1),
                                         path, int(lines[at]), _time_or_none(since)))
        self.previous = int(numbers[-1])
        self.previous_time = times[-1]


def _time_or_none(value):
    import math
    return None if value is None or math.isnan(value) else float(value)


def _log_blocks(path, summary, gaps):
    """_Blocks of a buslog log, its other lines counted into summary."""
    import numpy
    from . import reader
    columns = ("rowKind", "lineNumber", "frameNumber", "time", "absoluteTime", "channel", "interfaceIndex",
               "identifier", "frameFlags", "length", "data", "marker", "text")
    try:
        log_file = reader.LogFile(path, columns, reader.ROWS_ALL, _BLOCK)
    except OSError as error:
        raise DatabaseError(f"{path}: cannot read: {error.strerror or error}") from None
    with log_file:
        arrays = log_file.arrays
        channel_codes = {}
        channels = []
        logged = False
        for count in log_file.batches():
            kinds = arrays["rowKind"][:count]
            summary.lines += count
            counted = numpy.bincount(kinds, minlength=8)
            summary.markers += int(counted[reader.ROW_MARKER])
            summary.records += int(counted[reader.ROW_RECORD] + counted[reader.ROW_ERROR])
            summary.empty += int(counted[reader.ROW_EMPTY])
            summary.malformed += int(counted[reader.ROW_MALFORMED] + counted[reader.ROW_TEXT])
            absolute = arrays["absoluteTime"][:count]
            own = arrays["time"][:count]
            seconds = numpy.where(absolute != reader.NO_TIME, absolute, own) / 1e6
            seconds[own == reader.NO_TIME] = numpy.nan
            if summary.start is None:
                starts = numpy.nonzero(arrays["marker"][:count] == reader.MARKER_START)[0]
                if len(starts):
                    summary.start = absolute[starts[0]] / 1e6
            numbers = arrays["frameNumber"][:count]
            numbered = numpy.nonzero(numbers > 0)[0]
            gaps.take(numbers[numbered], seconds[numbered], arrays["lineNumber"][:count][numbered], path)
            logged = logged or bool(counted[1:5].any())
            frames = numpy.nonzero(kinds == reader.ROW_FRAME)[0]
            block = _Block()
            block.path = path
            block.problem = block.problem_before = None
            bad = numpy.nonzero((kinds == reader.ROW_MALFORMED) | (kinds == reader.ROW_TEXT))[0]
            if len(bad):
                row = int(bad[0])
                at = int(arrays["textStart"][row])
                block.problem = (int(arrays["lineNumber"][row]),
                                 log_file.text.raw[at:at + int(arrays["textLength"][row])].decode("ascii"))
                block.problem_before = int(numpy.searchsorted(frames, row))
            shown = arrays["channel"][:count][frames]
            named = arrays["interfaceIndex"][:count][frames]
            keys = shown.astype(numpy.int64) << 32 | (named.astype(numpy.int64) & 0xFFFFFFFF)
            unique, inverse = numpy.unique(keys, return_inverse=True)
            codes = numpy.empty(len(unique), dtype=numpy.int32)
            for index, key in enumerate(unique.tolist()):
                code = channel_codes.get(key)
                if code is None:
                    number, name = key >> 32, (key & 0xFFFFFFFF)
                    name = None if name == 0xFFFFFFFF else log_file.interface(name)
                    code = channel_codes[key] = len(channels)
                    channels.append(reader._channel_of(number, name))
                codes[index] = code
            block.channels = channels
            block.channel = codes[inverse] if len(frames) else numpy.empty(0, dtype=numpy.int32)
            block.time = seconds[frames]
            flags = arrays["frameFlags"][:count][frames]
            block.id = arrays["identifier"][:count][frames]
            block.extended = (flags & reader.FRAME_EXTENDED) != 0
            block.remote = (flags & reader.FRAME_REMOTE) != 0
            block.error = (flags & reader.FRAME_ERROR) != 0
            block.length = arrays["length"][:count][frames].astype(numpy.int64)
            width = int(block.length.max()) if len(frames) else 0
            if width > reader.ROW_DATA:
                # Classic records of more data bytes than CAN carries: no
                # message of a database is that long; they are cut to 64.
                block.length = numpy.minimum(block.length, reader.ROW_DATA)
                width = reader.ROW_DATA
            block.data = arrays["data"][:count][frames, :max(width, 8)]
            block.line = arrays["lineNumber"][:count][frames]
            yield block
        counts = log_file.counts()
        if counts.lines and not counts.logLines:
            raise DatabaseError(f"{path}: neither a buslog log nor a candump trace")


class _Chunk:
    """Lines of a trace, read a block at a time, for CanutilsLogReader (it
    takes an object with read and write for a file). Iterating gives the
    one list iterator, so a reader made after a line it could not parse
    goes on after that line, and the iterator's length hint tells which
    line a message came from."""

    read = write = None

    def __init__(self, lines):
        self.lines = lines
        self.iterator = iter(lines)

    def __iter__(self):
        return self.iterator

    def close(self):
        pass


def _candump_blocks(path, summary, gaps):
    """_Blocks of a candump trace; python-can's CanutilsLogReader reads its
    frames. Lines it cannot read are malformed, counted."""
    import numpy
    with open(path, "r", encoding="utf-8", errors="replace", newline=None) as file:
        channel_codes = {}
        channels = []
        before = 0  # lines of the blocks before this one
        while True:
            lines = file.readlines(1 << 22)
            if not lines:
                return
            chunk = _Chunk(lines)
            left = chunk.iterator.__length_hint__
            total = len(lines)
            messages, numbers = [], []
            problem = problem_before = None
            while True:
                try:
                    for message in can.CanutilsLogReader(chunk):
                        messages.append(message)
                        numbers.append(before + total - left())
                    break
                except (ValueError, IndexError) as error:
                    number = total - left()
                    summary.malformed += 1
                    if problem is None:
                        text = lines[number - 1].strip()
                        problem = (before + number, f"not a candump frame: {text[:60]!r} ({error})")
                        problem_before = len(messages)
            empty = sum(1 for line in lines if not line.strip())
            summary.empty += empty
            summary.lines += total
            before += total
            block = _Block()
            block.path, block.problem, block.problem_before = path, problem, problem_before
            count = len(messages)
            block.time = numpy.array([m.timestamp for m in messages], dtype=numpy.float64)
            codes = []
            for message in messages:
                code = channel_codes.get(message.channel)
                if code is None:
                    code = channel_codes[message.channel] = len(channels)
                    channels.append(message.channel)
                codes.append(code)
            block.channels = channels
            block.channel = numpy.array(codes, dtype=numpy.int32)
            block.id = numpy.array([m.arbitration_id for m in messages], dtype=numpy.uint32)
            block.extended = numpy.array([m.is_extended_id for m in messages], dtype=bool)
            block.remote = numpy.array([m.is_remote_frame for m in messages], dtype=bool)
            block.error = numpy.array([m.is_error_frame for m in messages], dtype=bool)
            block.length = numpy.array([len(m.data) for m in messages], dtype=numpy.int64)
            width = max(8, int(block.length.max()) if count else 0)
            data = numpy.zeros((count, width), dtype=numpy.uint8)
            flat = b"".join(bytes(m.data).ljust(width, b"\0") for m in messages)
            if count:
                data[:] = numpy.frombuffer(flat, dtype=numpy.uint8).reshape(count, width)
            block.data = data
            block.line = numpy.array(numbers, dtype=numpy.int64)
            yield block


def check_logs(paths):
    """Raises DatabaseError, before any output, for a path that is neither
    a buslog log nor a candump trace (or cannot be read)."""
    from .reader import is_log
    for path in [paths] if isinstance(paths, (str, bytes, os.PathLike)) else paths:
        try:
            if not _is_candump(path) and not is_log(path):
                raise DatabaseError(f"{os.fspath(path)}: neither a buslog log nor a candump trace")
        except OSError as error:
            raise DatabaseError(f"{os.fspath(path)}: cannot read: {error.strerror or error}") from None


def frame_blocks(paths, summary=None):
    """_Blocks of the frames of the logs (a path or a list of paths, read as
    one), with lines, frame-number gaps, the first and last frame's time and
    the log's start counted into summary."""
    import numpy
    if isinstance(paths, (str, bytes, os.PathLike)):
        paths = [paths]
    if summary is None:
        summary = Summary()
    gaps = _Gaps(summary)
    for path in paths:
        path = os.fspath(path)
        summary.files.append(path)
        blocks = _candump_blocks(path, summary, gaps) if _is_candump(path) else _log_blocks(path, summary, gaps)
        for block in blocks:
            summary.frames += len(block)
            timed = block.time[~numpy.isnan(block.time)]
            if len(timed):
                if summary.first_time is None:
                    summary.first_time = float(timed[0])
                summary.last_time = float(timed[-1])
            yield block


# ---------------------------------------------------------------------------
# Decoding.

def _databases(dbc):
    """{channel or None: Database} from a path, a Database, or a mapping
    of channel (None: every channel) to either."""
    if isinstance(dbc, (str, bytes, os.PathLike, Database)):
        dbc = {None: dbc}
    result = {}
    for channel, database in dict(dbc).items():
        if not isinstance(database, Database):
            database = load_database(database)
        result[None if channel is None else str(channel)] = database
    if not result:
        raise DatabaseError("no CAN database given")
    return result


def split_patterns(text):
    """"A.*,B.C" -> ["A.*", "B.C"]; a "-" stays as an item of its own."""
    return [item.strip() for item in text.split(",") if item.strip()]


def _compile(databases, patterns):
    compiled = {channel: database.compile(patterns) for channel, database in databases.items()}
    if patterns is not None:
        for pattern in patterns:
            if not any(fnmatch.fnmatchcase(name, pattern) for database in databases.values() for name in database.names()):
                files = ", ".join(sorted({os.path.basename(d.path) for d in databases.values()}))
                raise DatabaseError(f"no signal of {files} matches {pattern!r} (patterns match MESSAGE.SIGNAL, "
                                    f"case as the database writes it)")
    return compiled


class _Values:
    """One signal's values in a block: the frames (block rows) they come
    from, where each goes among the block's rows of values (`at`), and
    the values themselves, computed once per distinct raw value: `raw` the
    distinct raw values, `which` each value's index into them, `values`
    and `labels` (lists) the physical value and label of each."""

    __slots__ = ("signal", "message", "channel", "rows", "at", "raw", "which", "values", "labels")


class Decoded:
    """The values of one block, in log order (frame by frame, a frame's
    signals in the database's order): `count` values, as _Values of each
    signal, and the block's times (`time`, float seconds, NaN without)."""

    __slots__ = ("count", "columns", "time", "path")


def _pad(data, width):
    import numpy
    if data.shape[1] >= width:
        return data
    return numpy.pad(data, ((0, 0), (0, width - data.shape[1])))


def _window(data, first, big):
    """The 8 bytes from byte `first` of each row as one uint64 (bytes past
    the rows' end are 0)."""
    import numpy
    part = numpy.ascontiguousarray(_pad(data, first + 8)[:, first:first + 8])
    return part.view(">u8" if big else "<u8").reshape(-1).astype(numpy.uint64)


def _raw(signal, data):
    """The signal's raw values in each row of data (bytes of its message,
    zero-padded): uint64 bits, sign not applied; None when the signal is
    wider than 64 bits."""
    import numpy
    size = signal.size
    if size > 64:
        return None
    mask = numpy.uint64((1 << size) - 1) if size < 64 else None
    start = signal._start
    if signal.little:
        first, shift = divmod(start, 8)
        raw = _window(data, first, False) >> numpy.uint64(shift)
        if shift + size > 64:
            high = _window(data, first + 8, False) << numpy.uint64(64 - shift)
            raw = raw | high
    else:
        first = start // 8
        end = start + size  # bit positions counted from byte 0's bit 7
        over = end - (first * 8 + 64)
        window = _window(data, first, True)
        if over <= 0:
            raw = window >> numpy.uint64(-over)
        else:
            following = _pad(data, first + 9)[:, first + 8].astype(numpy.uint64)
            raw = (window << numpy.uint64(over)) | (following >> numpy.uint64(8 - over))
    return raw & mask if mask is not None else raw


def _signed(signal, raw):
    """Raw uint64 bits as the signal's integer: int64 for signed signals
    and unsigned ones below 64 bits, uint64 for unsigned 64-bit ones."""
    import numpy
    size = signal.size
    if signal.sign:
        if size == 64:
            return raw.view(numpy.int64)
        value = raw.astype(numpy.int64)
        return value - ((value & numpy.int64(signal.sign)) << numpy.int64(1))
    return raw if size == 64 else raw.astype(numpy.int64)


def _distinct(raw):
    """(distinct values, index of each value into them)."""
    import numpy
    if len(raw) == 0:
        return raw, numpy.empty(0, dtype=numpy.intp)
    low, high = raw.min(), raw.max()
    if raw.dtype != numpy.uint64 and int(high) - int(low) < 1 << 16:
        offset = raw - low
        present = numpy.bincount(offset, minlength=int(high - low) + 1) > 0
        distinct = numpy.nonzero(present)[0]
        lookup = numpy.cumsum(present) - 1
        return (distinct + low).astype(raw.dtype), lookup[offset]
    return numpy.unique(raw, return_inverse=True)


def _physical(signal, raw):
    """The physical values (a list) of distinct raw values (numpy), exactly
    as the decoder of a frame at a time computes them."""
    import numpy
    if signal.float_format is not None:
        bits = raw.astype(numpy.uint64)
        values = (bits.astype(numpy.uint32).view(numpy.float32).astype(numpy.float64) if signal.size == 32
                  else bits.view(numpy.float64))
        if signal.factor != 1:
            values = values * signal.factor
        if signal.offset != 0:
            values = values + signal.offset
        return values.tolist()
    factor, offset = signal.factor, signal.offset
    if isinstance(factor, int) and isinstance(offset, int):
        if factor == 1 and offset == 0:
            return raw.tolist()
        if len(raw) and (abs(int(raw.min())) + abs(int(raw.max()))) * abs(factor) + abs(offset) < 1 << 62:
            return (raw.astype(numpy.int64) * factor + offset).tolist()
        return [value * factor + offset for value in raw.tolist()]
    values = raw.astype(numpy.float64)
    if factor != 1:
        values = values * factor
    if offset != 0:
        values = values + offset
    if signal.digits is None or factor == 1:
        return values.tolist()
    scaled = numpy.abs(values) * 10.0 ** signal.digits
    if signal.digits <= 15 and (not len(values) or float(numpy.nanmax(numpy.where(numpy.isinf(scaled), 0, scaled),
                                                                       initial=0)) < 2.0 ** 52):
        # numpy rounds x * 10**d to an integer and divides: for values
        # whose scaled size is exact in a double, the nearest double to the
        # decimal, as Python's round() gives.
        return numpy.round(values, signal.digits).tolist()
    return [round(value, signal.digits) for value in values.tolist()]


def _labels(signal, raw):
    if not signal.labels or signal.float_format is not None:
        return None
    get = signal.labels.get
    return [get(value, "") for value in raw.tolist()]


def _decode_group(decoder, data, rows, channel, per_frame, out):
    """Decodes the frames `rows` (block rows, data their bytes) of one
    message on one channel: appends to `out` (signal, rows, rank, raw,
    message, channel) per signal, rank its place among its frame's values,
    and sets per_frame[rows] to each frame's count of values."""
    import numpy
    if decoder.complex:
        # Nested multiplexing: canmatrix's decoder, a frame at a time.
        for row, frame_data in zip(rows.tolist(), data):
            values = decoder.values(bytes(frame_data[:decoder.size]))
            per_frame[row] = len(values)
            for rank, (signal, raw) in enumerate(values):
                raws = numpy.empty(1, dtype=object)
                raws[0] = raw
                out.append((signal, numpy.array([row]), rank, raws, decoder.name, channel))
        return
    branches = [(None, decoder.plain, numpy.ones(len(rows), dtype=bool))]
    if decoder.multiplexer is not None and decoder.by_mux:
        mux = _signed(decoder.multiplexer, _raw(decoder.multiplexer, data))
        branches = []
        chosen = numpy.zeros(len(rows), dtype=bool)
        for value, signals in sorted(decoder.by_mux.items()):
            where = mux == value
            if where.any():
                branches.append((value, signals, where))
                chosen |= where
        if not chosen.all():
            branches.append((None, decoder.plain, ~chosen))
    for value, signals, where in branches:
        selected = rows[where]
        part = data[where]
        per_frame[selected] = len(signals)
        for rank, signal in enumerate(signals):
            bits = _raw(signal, part)
            if bits is None:
                raws = [signal.raw(int.from_bytes(bytes(d), "little"), int.from_bytes(bytes(d[:decoder.size]), "big"))
                        for d in part]
                column = numpy.empty(len(raws), dtype=object)
                column[:] = raws
                out.append((signal, selected, rank, column, decoder.name, channel))
                continue
            raw = bits if signal.float_format is not None else _signed(signal, bits)
            out.append((signal, selected, rank, raw, decoder.name, channel))


def _decode_block(block, databases, compiled, strict, summary):
    """The Decoded of a block, its frames counted into summary. With
    strict, a DecodeError for the block's first frame or line that cannot
    be decoded, after the values of the frames before it (returned with
    the error: (Decoded, error or None))."""
    import numpy
    default = compiled.get(None, {})
    count = len(block)
    usable = ~(block.remote | block.error)
    summary.remote += int((block.remote & ~block.error).sum())
    summary.error_frames += int(block.error.sum())
    keys = (block.channel.astype(numpy.int64) << 30) | (block.extended.astype(numpy.int64) << 29) | block.id
    keys = numpy.where(usable, keys, -1)
    unique, inverse = numpy.unique(keys, return_inverse=True)
    order = numpy.argsort(inverse, kind="stable")
    bounds = numpy.concatenate(([0], numpy.cumsum(numpy.bincount(inverse, minlength=len(unique)))))
    per_frame = numpy.zeros(count, dtype=numpy.int64)
    found = []
    failures = []  # (block row, error)
    for index, key in enumerate(unique.tolist()):
        if key < 0:
            continue
        rows = order[bounds[index]:bounds[index + 1]]
        channel = block.channels[key >> 30]
        identifier, extended = key & 0x1FFFFFFF, bool(key >> 29 & 1)
        table = compiled.get(str(channel), default) if len(compiled) > 1 else default
        decoder = table.get((identifier, extended))
        if decoder is None:
            database = databases.get(str(channel), databases.get(None)) if len(databases) > 1 else databases.get(None)
            if database is None or (identifier, extended) not in database.frames:
                summary.unknown[(identifier, extended)] += len(rows)
                if strict:
                    failures.append((int(rows[0]), f"identifier {_identifier((identifier, extended))} is in no database"))
            else:
                summary.not_chosen += len(rows)
            continue
        lengths = block.length[rows]
        short = lengths < decoder.size
        if short.any():
            summary.short[decoder.name] += int(short.sum())
            summary.undecoded[decoder.name] += _time_list(block.time[rows[short]])
            if strict:
                first = int(rows[short][0])
                failures.append((first, f"{decoder.name} needs {decoder.size} bytes, the frame has "
                                        f"{int(block.length[first])}"))
            rows = rows[~short]
        if not len(rows):
            continue
        data = _pad(block.data[rows], decoder.size)[:, :decoder.size]
        _decode_group(decoder, data, rows, channel, per_frame, found)
        summary.decoded += len(rows)
    error = None
    limit = count
    if strict:
        if block.problem is not None:
            failures.append((block.problem_before, block.problem[1], block.problem[0]))
        if failures:
            first = min(failures, key=lambda failure: (failure[0], len(failure) == 2))
            limit = first[0]
            line = first[2] if len(first) > 2 else int(block.line[first[0]])
            error = DecodeError(f"{block.path}:{line}: {first[1]}")
    starts = numpy.concatenate(([0], numpy.cumsum(per_frame)))
    decoded = Decoded()
    decoded.path = block.path
    decoded.time = block.time
    decoded.columns = []
    decoded.count = int(starts[limit])
    for signal, rows, rank, raw, message, channel in found:
        if limit < count:
            keep = rows < limit
            rows, raw = rows[keep], raw[keep]
            if not len(rows):
                continue
        values = _Values()
        values.signal, values.message, values.channel, values.rows = signal, message, channel, rows
        values.at = starts[rows] + rank
        if raw.dtype == object:
            distinct = sorted(set(raw.tolist()), key=repr)
            position = {value: index for index, value in enumerate(distinct)}
            values.which = numpy.array([position[value] for value in raw.tolist()], dtype=numpy.intp)
            values.raw = distinct
            if signal.float_format is not None:
                values.values = list(distinct)
                values.labels = None
            else:
                values.values = [signal.physical(value) for value in distinct]
                values.labels = [signal.labels.get(value, "") for value in distinct] if signal.labels else None
        else:
            values.raw, values.which = _distinct(raw)
            values.values = _physical(signal, values.raw)
            values.labels = _labels(signal, values.raw)
        decoded.columns.append(values)
    summary.rows += decoded.count
    if limit < count:
        summary.decoded -= int((per_frame[limit:] > 0).sum())
    return decoded, error


def _time_list(times):
    return [None if value != value else value for value in times.tolist()]


def decode_blocks(logs, dbc, signals=None, strict=False, summary=None):
    """Decoded blocks of the logs, as `decode` reads them (same arguments);
    the column writers and `signals` are built on it. Raises DatabaseError
    when the logs hold CAN frames but none that a database knows."""
    check_logs(logs)
    if isinstance(signals, str):
        signals = split_patterns(signals)
    if signals is not None:
        signals = [pattern for pattern in signals if pattern != "-"] or None
    databases = _databases(dbc)
    compiled = _compile(databases, signals)
    if summary is None:
        summary = Summary()
    return _blocks(logs, databases, compiled, strict, summary)


def _blocks(logs, databases, compiled, strict, summary):
    for block in frame_blocks(logs, summary):
        decoded, error = _decode_block(block, databases, compiled, strict, summary)
        if decoded.count:
            yield decoded
        if error is not None:
            raise error
    known = summary.decoded + summary.not_chosen + sum(summary.short.values())
    if not known and summary.unknown:
        files = ", ".join(os.path.basename(path) for path in summary.files)
        names = ", ".join(sorted({os.path.basename(database.path) for database in databases.values()}))
        top = ", ".join(_identifier(key) + f" ({number:,})" for key, number in summary.unknown.most_common(5))
        raise DatabaseError(f"no frame of {files} is in {names}: its commonest identifiers are {top} "
                            f"(a database of another bus?)")


def rows_of(decoded):
    """The Rows of a Decoded block, in order."""
    import numpy
    count = decoded.count
    times = numpy.empty(count, dtype=object)
    channels = numpy.empty(count, dtype=object)
    messages = numpy.empty(count, dtype=object)
    names = numpy.empty(count, dtype=object)
    values = numpy.empty(count, dtype=object)
    units = numpy.empty(count, dtype=object)
    labels = numpy.empty(count, dtype=object)
    block_times = numpy.array(_time_list(decoded.time), dtype=object)
    for column in decoded.columns:
        at = column.at
        times[at] = block_times[column.rows]
        channels[at] = column.channel
        messages[at] = column.message
        names[at] = column.signal.name
        units[at] = column.signal.unit
        distinct = numpy.empty(len(column.values), dtype=object)
        distinct[:] = column.values
        values[at] = distinct[column.which]
        if column.labels is None:
            labels[at] = ""
        else:
            texts = numpy.empty(len(column.labels), dtype=object)
            texts[:] = column.labels
            labels[at] = texts[column.which]
    new = tuple.__new__
    return [new(Row, row) for row in zip(times.tolist(), channels.tolist(), messages.tolist(), names.tolist(),
                                         values.tolist(), units.tolist(), labels.tolist())]


def decode(logs, dbc, signals=None, strict=False, summary=None):
    """Yields a Row for every value of the chosen signals in the CAN frames
    of logs (a path or a list of paths: buslog logs, read as one, or
    candump traces).

    :param dbc: a database's path (or a Database) for every channel, or a
        mapping of channel (the interface name, or the channel number as
        the reader gives it; None for the rest) to one.
    :param signals: patterns of MESSAGE.SIGNAL with * and ?, or None for
        every signal; a pattern that matches nothing is a DatabaseError.
    :param strict: raise DecodeError at the first frame no database knows,
        frame too short for its message, or malformed line.
    :param summary: a Summary to count into.

    The iteration raises DatabaseError at its end when the logs hold CAN
    frames but not one that a database knows.
    """
    blocks = decode_blocks(logs, dbc, signals, strict, summary)

    def rows():
        for decoded in blocks:
            yield from rows_of(decoded)
    return rows()


def signals(logs, dbc, message, signals=None, channel=None, pandas=None, summary=None):
    """One message's signals as columns, for analysis: a dict of numpy
    arrays (or, with pandas True, or None and pandas installed, a pandas
    DataFrame) with "time" (float seconds: since the epoch where the log
    says when it began) and "channel" (the interface name or number), and
    a column for each chosen signal of the message, one row per frame of
    the message. A multiplexed signal's column holds NaN for frames of
    another multiplexer value. Value tables are the database's
    (`load_database(path).frames`).

    :param message: the message's name as the database writes it.
    :param signals: patterns of the message's signals (SIGNAL, with * and
        ?), or None for all.
    :param channel: only the frames of this channel (interface name or
        number); None for every channel.
    """
    import numpy
    patterns = [f"{message}.{pattern}" for pattern in (signals or ["*"])]
    parts = []
    names = []
    for decoded in decode_blocks(logs, dbc, patterns, summary=summary):
        groups = {}
        for column in decoded.columns:
            if column.message != message or (channel is not None and str(column.channel) != str(channel)):
                continue
            groups.setdefault(repr(column.channel), (column.channel, []))[1].append(column)
            if column.signal.name not in names:
                names.append(column.signal.name)
        for key, (frame_channel, columns) in groups.items():
            rows = numpy.unique(numpy.concatenate([column.rows for column in columns]))
            part = {"time": decoded.time[rows], "channel": numpy.empty(len(rows), dtype=object)}
            part["channel"][:] = [frame_channel] * len(rows)
            by_name = {}
            for column in columns:
                # A multiplexed message has a column of a signal for each
                # multiplexer value whose frames carry it.
                by_name.setdefault(column.signal.name, []).append(column)
            for name, same in by_name.items():
                at = numpy.concatenate([numpy.searchsorted(rows, column.rows) for column in same])
                values = numpy.concatenate([numpy.asarray(column.values)[column.which] for column in same])
                spread = numpy.full(len(rows), numpy.nan) if len(at) < len(rows) else numpy.empty(len(rows),
                                                                                                  values.dtype)
                spread[at] = values
                part[name] = spread
            parts.append(part)
    # The signals in the database's order.
    order = {}
    for database in _databases(dbc).values():
        for frame in database.frames.values():
            if frame.name == message:
                order.update((signal.name, index) for index, signal in enumerate(frame.signals))
    names.sort(key=lambda name: order.get(name, len(order)))
    result = {"time": numpy.concatenate([part["time"] for part in parts]) if parts else numpy.empty(0),
              "channel": numpy.concatenate([part["channel"] for part in parts]) if parts else numpy.empty(0, object)}
    for name in names:
        result[name] = numpy.concatenate([part[name] if name in part else numpy.full(len(part["time"]), numpy.nan)
                                          for part in parts])
    if len({repr(value) for value in result["channel"][:1000].tolist()}) > 1 or channel is None and parts and \
            len({repr(part["channel"][0]) for part in parts}) > 1:
        order = numpy.argsort(result["time"], kind="stable")
        result = {name: column[order] for name, column in result.items()}
    if pandas is None:
        try:
            import pandas as _pandas  # noqa: F401
            pandas = True
        except ImportError:
            pandas = False
    if pandas:
        import pandas as _pandas
        return _pandas.DataFrame(result)
    return result
