"""Signals from bus logs: every CAN frame of a buslog log (or a candump
trace) that a CAN database knows, decoded into one row per signal value.

    for row in buslog.decode("run.csv", dbc="car.dbc", signals=["ENGINE_DATA.*"]):
        print(row.time, row.channel, row.message, row.signal, row.value, row.unit, row.label)

The database is read with canmatrix (DBC, ARXML, KCD, SYM, ...); its
signals are compiled once into integer shifts and masks, so a frame costs
two int.from_bytes and a few operations per signal, not canmatrix's
bit strings and Decimal arithmetic. What the compiled decoder does is what
the database says, as canmatrix reads it:

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
  decoder.

A frame shorter than its message is not decoded but counted; a longer one
(a CAN FD frame padded to its length code) is decoded over the message's
length. Frames the database does not know, remote and error frames, lines
that are no frame and gaps in a buslog log's frame numbers are counted in
a `Summary`.
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
                 "digits", "labels", "mux_value", "is_multiplexer", "end_byte", "source", "_start")

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
                 "source")

    def __init__(self, frame, chosen):
        self.frame = frame
        self.name = frame.name
        signals = [_Signal(signal, frame.size) for signal in frame.signals]
        self.size = max([int(frame.size)] + [signal.end_byte for signal in signals])
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
                    for name, item in decoded.items() if name in self.chosen]
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
        that matches one of the patterns (None: every signal)."""
        compiled = {}
        for key, frame in self.frames.items():
            chosen = [signal.name for signal in frame.signals
                      if patterns is None or any(fnmatch.fnmatchcase(f"{frame.name}.{signal.name}", p) for p in patterns)]
            if chosen:
                compiled[key] = _Message(frame, chosen)
        return compiled


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
# Reading logs: buslog logs through the reader's iter_records, candump
# traces through python-can's CanutilsLogReader.

_CANDUMP_LINE = re.compile(rb"^\s*\(\d+(\.\d+)?\)\s+\S+\s+[0-9A-Fa-f]+#")


def _is_candump(path):
    with open(path, "rb") as file:
        for line in file:
            if line.strip():
                return bool(_CANDUMP_LINE.match(line))
    return False


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


from .reader import Record  # noqa: E402


def _candump_records(path):
    """Records of a candump trace, as iter_records gives them for a log
    (no frame numbers); python-can's CanutilsLogReader reads the frames."""
    new = tuple.__new__
    before = 0  # lines of the blocks before this one
    with open(path, "r", encoding="utf-8", errors="replace", newline=None) as file:
        while True:
            lines = file.readlines(1 << 20)
            if not lines:
                return
            chunk = _Chunk(lines)
            left = chunk.iterator.__length_hint__
            total = len(lines)
            done = 0  # lines of this block already handed out
            while True:
                try:
                    for message in can.CanutilsLogReader(chunk):
                        number = total - left()
                        # Lines python-can skipped on the way were empty.
                        for empty in range(done + 1, number):
                            yield new(Record, (before + empty, None, None, "empty", None, None, None))
                        done = number
                        yield new(Record, (before + number, None, message.timestamp, "frame", message, None,
                                           message.channel))
                    break
                except (ValueError, IndexError) as error:
                    number = total - left()
                    for empty in range(done + 1, number):
                        yield new(Record, (before + empty, None, None, "empty", None, None, None))
                    done = number
                    text = lines[number - 1].strip()
                    yield new(Record, (before + number, None, None, "malformed", None,
                                       f"not a candump frame: {text[:60]!r} ({error})", None))
            for empty in range(done + 1, total + 1):
                yield new(Record, (before + empty, None, None, "empty", None, None, None))
            before += total


_START = re.compile(r"^buslog start (\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6})Z$")


def _epoch(text):
    import datetime
    moment = datetime.datetime.strptime(text, "%Y-%m-%dT%H:%M:%S.%f").replace(tzinfo=datetime.timezone.utc)
    return moment.timestamp()


def _log_records(path):
    from .reader import NotALogError, iter_records
    try:
        yield from iter_records(path)
    except NotALogError:
        raise DatabaseError(f"{path}: neither a buslog log nor a candump trace") from None


def read_records(paths, summary=None):
    """(path, Record) of each log or trace in turn; lines, frame-number
    gaps, the first and last frame's time and the log's start go into
    summary."""
    if isinstance(paths, (str, bytes, os.PathLike)):
        paths = [paths]
    if summary is None:
        summary = Summary()
    previous = previous_time = None
    lines = 0
    first = last = None
    gaps = summary.gaps
    try:
        for path in paths:
            path = os.fspath(path)
            summary.files.append(path)
            records = _candump_records(path) if _is_candump(path) else _log_records(path)
            for record in records:
                lines += 1
                number = record.frame_number
                if number:
                    if previous is not None and number > previous + 1:
                        gaps.append(Gap(record.time, previous, number - previous - 1, path, record.line_number,
                                        previous_time))
                    previous, previous_time = number, record.time
                kind = record.kind
                if kind == "frame":
                    last = record.time
                    if first is None:
                        first = last
                elif kind == "marker" and summary.start is None and record.text:
                    match = _START.match(record.text)
                    if match:
                        summary.start = _epoch(match.group(1))
                yield path, record
    finally:
        summary.lines += lines
        if first is not None:
            if summary.first_time is None:
                summary.first_time = first
            summary.last_time = last


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


def read_frames(paths, summary=None):
    """(time, channel, can.Message) of every CAN frame of the logs."""
    for _, record in read_records(paths, summary):
        if record.kind == "frame":
            if summary is not None:
                summary.frames += 1
            yield record.time, record.channel, record.message


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
    """
    check_logs(logs)
    if isinstance(signals, str):
        signals = split_patterns(signals)
    if signals is not None:
        signals = [pattern for pattern in signals if pattern != "-"] or None
    databases = _databases(dbc)
    compiled = _compile(databases, signals)
    if summary is None:
        summary = Summary()
    return _rows(logs, databases, compiled, strict, summary)


def _rows(logs, databases, compiled, strict, summary):
    default = compiled.get(None, {})
    row = Row
    for path, record in read_records(logs, summary):
        kind = record.kind
        if kind == "frame":
            message = record.message
            summary.frames += 1
            if message.is_remote_frame or message.is_error_frame:
                if message.is_error_frame:
                    summary.error_frames += 1
                else:
                    summary.remote += 1
                continue
            channel = record.channel
            key = (message.arbitration_id, message.is_extended_id)
            table = compiled.get(str(channel), default) if len(compiled) > 1 else default
            decoder = table.get(key)
            if decoder is None:
                database = databases.get(str(channel), databases.get(None)) if len(databases) > 1 else databases.get(None)
                if database is None or key not in database.frames:
                    summary.unknown[key] += 1
                    if strict:
                        raise DecodeError(f"{path}:{record.line_number}: identifier {_identifier(key)} is in no database")
                else:
                    summary.not_chosen += 1
                continue
            data = message.data
            if len(data) < decoder.size:
                summary.short[decoder.name] += 1
                summary.undecoded[decoder.name].append(record.time)
                if strict:
                    raise DecodeError(f"{path}:{record.line_number}: {decoder.name} needs {decoder.size} bytes, "
                                      f"the frame has {len(data)}")
                continue
            summary.decoded += 1
            rows = decoder.rows(data, record.time, channel)
            summary.rows += len(rows)
            yield from rows
        elif kind == "marker":
            summary.markers += 1
        elif kind in ("record", "error"):
            summary.records += 1
        elif kind == "empty":
            summary.empty += 1
        else:
            summary.malformed += 1
            if strict:
                raise DecodeError(f"{path}:{record.line_number}: {record.text or 'not a log line'}")

