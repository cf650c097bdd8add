"""Reading buslog logs in Python, by the same rules as the C++ reader.

Every line is read by the rules "HOW A LINE IS READ" of reader/log_reader.h
(cited below as rule 1 to rule 11); that file is the reference, and a test
holds this reader to tests/reader/expected/rules.jsonl line by line.

`iter_records(file)` hands out every line as a `Record`; `BuslogReader`, the
python-can reader of `.buslog`, is built on it and yields the CAN frames as
can.Message objects.

Marker lines (kind M, frame number 0, text starting "buslog ") say when the
log's time base is and which interface each channel is:

    000000000,+0.000000,M,Marker  , -,OK,buslog start 2023-11-14T22:13:20.001000Z
    000000000,+0.000000,M,Marker  , -,OK,buslog writer buslog-python 0.2.0
    000000000,+0.004000,M,Marker  , -,OK,buslog channel 1 can0

After a `buslog start` line, times are absolute (seconds since the epoch,
the start plus the line's time); before any, they are the log's own
seconds (plus `start`). A later `buslog start` line begins a new time base,
and the channel names are given again after it. Other `buslog <word>`
markers are kept as markers and otherwise ignored.
"""

import collections
import datetime
import io
import logging
import os
import re

from can.io.generic import MessageReader
from can.message import Message

__all__ = ["BuslogReader", "NotALogError", "Record", "iter_records", "is_log", "parse_line", "parse_can_line",
           "FD_LENGTHS"]

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
                          rules (rule 12): `text` says why
              'text'      any other line that is no record (text a host
                          or another program wrote): `text` says why
channel       a frame's interface name from a `buslog channel` marker, else
              its channel number as the log shows it less one (None for "-")
"""

# Lines read before the first log line is found; a file whose first lines
# hold none is no log.
NO_LOG_AFTER = 1000
# Malformed lines reported one by one before they are only counted.
_MAX_WARNINGS = 20

_LINE_LIMIT = 4096  # rule 2
_DIGITS = frozenset(b"0123456789")
_HEX = {c: int(chr(c), 16) for c in b"0123456789abcdefABCDEF"}
_HEX_SET = frozenset(_HEX)
# Fields of one and two hexadecimal digits, by their text.
_SHORT_HEX = {bytes((c,)): v for c, v in _HEX.items()}
_SHORT_HEX.update({bytes((a, b)): va << 4 | vb for a, va in _HEX.items() for b, vb in _HEX.items()})
_DATA = re.compile(rb"[0-9A-Fa-f]{2}(?:,[0-9A-Fa-f]{2})*\Z")
# Rule 4's 8 characters: digits with at most one point, not first.
_TIME = re.compile(rb"([0-9]+)\.([0-9]*)\Z|[0-9]{8}\Z")
_KINDS = frozenset(b"OIPEM")
_BUS_NAMES = {
    b"CAN     ": "can",
    b"LIN     ": "lin",
    b"CXPI    ": "cxpi",
    b"P/I     ": "port",
    b"P/O     ": "port",
    b"Env     ": "env",
    b"Marker  ": "marker",
}
_ERROR_PREFIX = b"(0:ERR="
_PIN_STATES = frozenset(b"01+-")
_START = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z\Z")
_CHANNEL_NUMBER = re.compile(r"[1-9][0-9]{0,9}\Z")
_EPOCH = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)


class NotALogError(ValueError):
    """The file holds lines, but none is a buslog log line."""


class Line:
    """One line as the rules read it: the C++ reader's LogLine."""

    __slots__ = ("form", "why", "frame_number", "micros", "time_digits", "time_cut", "error", "rest", "record",
                 "kind", "channel", "ok", "can", "data", "text", "bus", "malformed")

    def __init__(self):
        self.form = "text"
        self.why = None
        self.frame_number = None  # rule 3
        self.micros = None        # rule 4: the time in whole microseconds
        self.time_digits = 0
        self.time_cut = False
        self.error = None         # the error field's value (rules 5, 7, 9)
        self.rest = b""           # the line after FRAME and TIME
        self.record = None        # 'can', 'lin', 'cxpi', 'port', 'env', 'marker', 'generic'
        self.kind = None          # kind letter
        self.bus = None           # the record type the header named, even when its body broke a rule
        self.channel = None       # the number shown (channel + 1); None for "-"
        self.ok = True
        self.can = None           # (complete, flags, id, nibble, type, fd flags); type 'data' 'remote' 'fd' 'error'
        self.data = b""
        self.text = None          # marker text
        self.malformed = False    # rule 12: a text line meant as a log line

    @property
    def log_line(self):
        """Rule 13."""
        return self.form in ("record", "error") or (self.frame_number is not None and self.micros is not None)


def _hex_field(field, low, high):
    """The value of a field of `low` to `high` hexadecimal digits, or None (rule 6)."""
    if not low <= len(field) <= high:
        return None
    if len(field) <= 2:
        return _SHORT_HEX.get(field)
    value = 0
    for c in field:
        digit = _HEX.get(c)
        if digit is None:
            return None
        value = value << 4 | digit
    return value


def _error_value(field):
    """The value of an error field "(0:ERR=XXXXXXXX)" (without its comma), or None."""
    if len(field) != 16 or not field.startswith(_ERROR_PREFIX) or field[15] != 0x29:
        return None
    return _hex_field(field[7:15], 8, 8)


def _data_bytes(fields):
    """Data bytes of exactly two hexadecimal digits each (rule 6), or None."""
    if not fields:
        return b""
    joined = b",".join(fields)  # no field holds a comma
    if not _DATA.match(joined):
        return None
    return bytes.fromhex(joined.replace(b",", b" ").decode("ascii"))


def _take_error(fields, line):
    """Rule 7: a last field that is an error field is the line's."""
    if fields:
        value = _error_value(fields[-1])
        if value is not None:
            line.error = value
            del fields[-1]
            return True
    return False


def _can_body(fields, line):
    """Rules 6 to 8."""
    error_taken = _take_error(fields, line)
    if not fields:
        line.can = (False, 0, 0, 0, "data", 0)
        return None
    flags = _hex_field(fields[0], 1, 1)
    if flags is None or flags > 7:
        return "bad CAN flags"
    extended = flags & 1
    pieces = 4 if extended else 2
    identifier = 0
    for index in range(pieces):
        if 1 + index >= len(fields):
            line.can = (False, flags, identifier, 0, "data", 0)
            return None
        width = 1 if (not extended and index == 0) else 2
        value = _hex_field(fields[1 + index], width, width)
        if value is None or (index == 0 and value > (0x1F if extended else 7)):
            return "bad CAN identifier"
        identifier = identifier << (width * 4) | value
    at = 1 + pieces
    if at >= len(fields):
        line.can = (False, flags, identifier, 0, "data", 0)
        return None
    nibble = _hex_field(fields[at], 1, 1)
    if nibble is None:
        return "bad CAN length"
    rest = fields[at + 1:]
    if error_taken and not line.ok:  # rule 8a
        data = _data_bytes(rest)
        if data is None:
            return "bad data byte"
        line.can = (True, flags, identifier, nibble, "error", 0)
        line.data = data
        return None
    if not rest:
        line.can = (True, flags, identifier, nibble, "data", 0)
        return None
    last = rest[-1]
    if last == b"RTR":  # rule 8b
        if len(rest) != 1:
            return "data before RTR"
        line.can = (True, flags, identifier, nibble, "remote", 0)
        return None
    if len(last) == 1 and last[0] in _HEX and len(rest) >= 2 and rest[-2] == b"FD":  # rule 8c
        data = _data_bytes(rest[:-2])
        if data is not None and len(data) == FD_LENGTHS[nibble]:
            line.can = (True, flags, identifier, nibble, "fd", _HEX[last[0]])
            line.data = data
            return None
    data = _data_bytes(rest)  # rule 8d
    if data is None:
        return "bad data byte"
    line.can = (True, flags, identifier, nibble, "data", 0)
    line.data = data
    return None


def _lin_body(fields, line):
    _take_error(fields, line)
    for index in range(min(3, len(fields))):
        if _hex_field(fields[index], 2 if index == 1 else 1, 2) is None:
            return "bad LIN field"
    if len(fields) > 3 and _data_bytes(fields[3:]) is None:
        return "bad data byte"
    return None


def _cxpi_body(fields, line):
    _take_error(fields, line)
    for index in range(min(6, len(fields))):
        if _hex_field(fields[index], 2 if index == 2 else 1, 2 if index == 2 else 1) is None:
            return "bad CXPI field"
    if len(fields) in (2, 4, 5):  # a body stops only after 0, 1, 3 or 6 values
        return "bad CXPI body"
    if len(fields) > 6 and _data_bytes(fields[6:]) is None:
        return "bad data byte"
    return None


def _port_body(fields, line):
    """Rule 11."""
    _take_error(fields, line)
    for count, field in enumerate(fields):
        if len(field) < 4 or field[0] != 0x50 or field[-2] != 0x3D:  # "P", "="
            return "bad pin field"
        number = 0
        for c in field[1:-2]:
            if c not in _DIGITS or number > 100000:
                return "bad pin field"
            number = number * 10 + c - 0x30
        if field[1] == 0x30 or number != count + 1:
            return "pins out of order"
        if field[-1] not in _PIN_STATES:
            return "bad pin state"
    return None


def _env_body(body, line):
    """Rule 9; `body` starts at the header's comma."""
    if not body:
        return "environment record without name and value"
    opening = body.find(b',"', 1)
    if opening < 0:
        return "environment record without a quoted value"
    opening += 1  # at the quote mark
    value_end = len(body)
    if value_end - (opening + 1) >= 18:
        field = value_end - 17
        if body[field - 1] == 0x22 and body[field] == 0x2C:
            value = _error_value(body[field + 1:])
            if value is not None:
                line.error = value
                value_end = field
    close = body.rfind(b'"', opening + 1, value_end)
    if close < 0:
        return "environment value without its closing quote mark"
    if close + 1 != value_end:
        return "text after the environment value"
    return None


def _header(line_bytes, p, line):
    """",K,BUS     ,CH,ST" at p (rule 5): where the body begins, or -1."""
    end = len(line_bytes)
    if end - p < 16 or line_bytes[p] != 0x2C or line_bytes[p + 2] != 0x2C or line_bytes[p + 11] != 0x2C:
        return -1
    kind = line_bytes[p + 1]
    if kind not in _KINDS:
        return -1
    bus = _BUS_NAMES.get(line_bytes[p + 3:p + 11])
    if bus is None:
        return -1
    channel_end = line_bytes.find(b",", p + 12)
    if channel_end < 0:
        return -1
    channel = line_bytes[p + 12:channel_end].lstrip(b" ")
    if not channel:
        return -1
    number = None
    if channel != b"-":
        digits = channel[1:] if channel[0] == 0x2D else channel
        if not digits or len(digits) > 10 or not _DIGITS.issuperset(digits):
            return -1
        number = int(channel)
        if not -0x80000000 <= number <= 0x7FFFFFFF:
            return -1
    status = line_bytes[channel_end + 1:channel_end + 3]
    if status != b"OK" and status != b"NG":
        return -1
    body = channel_end + 3
    if body != end and line_bytes[body] != 0x2C:
        return -1
    line.record = bus
    line.kind = chr(kind)
    line.channel = number
    line.ok = status == b"OK"
    return body


def _time(field):
    """Rule 4: the 8 characters after "+" as (micros, digits, cut), or None."""
    match = _TIME.match(field)
    if match is None:
        return None
    whole, fraction = match.group(1, 2)
    if whole is None:
        return int(field) * 1000000, 0, True
    digits = len(fraction)
    return int(whole) * 1000000 + (int(fraction) * 10 ** (6 - digits) if digits else 0), digits, False


def parse_line(line_bytes):
    """Reads one line (bytes, its line end removed) by the rules of
    reader/log_reader.h: a `Line`. Never fails."""
    line = _parse(line_bytes)
    if line.form != "text" or line.malformed:
        return line
    if line.frame_number is None:
        # Rule 12d: a log line behind leading bytes.
        first = next((index for index, c in enumerate(line_bytes) if c in _DIGITS), 0)
        if first > 0:
            behind = _parse(line_bytes[first:])
            if behind.frame_number is not None and behind.micros is not None and behind.form in ("record", "error"):
                line.why = "log line behind leading bytes"
                line.malformed = True
    return line


def _parse(line_bytes):
    line = Line()
    length = len(line_bytes)
    if length == 0:
        line.form = "empty"
        return line
    if length > _LINE_LIMIT:  # rule 2
        line.rest = line_bytes
        line.why = "longer than a log line"
        line.malformed = True  # rule 12a
        return line
    # Rule 3.
    p = 0
    while p < length and p < 11 and line_bytes[p] in _DIGITS:
        p += 1
    if (p == 9 or p == 10) and (p == length or line_bytes[p] == 0x2C) and int(line_bytes[:p]) <= 0xFFFFFFFF:
        line.frame_number = int(line_bytes[:p])
    else:
        p = 0
    # Rule 4.
    if (length - p >= 10 and line_bytes[p] == 0x2C and line_bytes[p + 1] == 0x2B
            and (length - p == 10 or line_bytes[p + 10] == 0x2C)):
        time = _time(line_bytes[p + 2:p + 10])
        if time is not None:
            line.micros, line.time_digits, line.time_cut = time
            p += 10
    if line.frame_number is not None and line.micros is None and line_bytes[p:p + 2] == b",+":
        line.malformed = True  # rule 12c: a time stamp that breaks rule 4
    # Rule 5.
    line.rest = line_bytes[p + 1:] if p < length and line_bytes[p] == 0x2C else line_bytes[p:]
    if p == length:
        line.why = "no record"
        return line
    if line_bytes[p] != 0x2C:
        line.why = "not a log line"
        return line
    if length - p == 17:
        value = _error_value(line_bytes[p + 1:])
        if value is not None:
            line.error = value
            line.form = "error"
            return line
    body = _header(line_bytes, p, line)
    if body >= 0:
        line.bus = line.record
        fields = line_bytes[body + 1:].split(b",") if body < length else []
        record = line.record
        if record == "can":
            why = _can_body(fields, line)
        elif record == "marker":  # rule 10
            line.text = line_bytes[body + 1:]
            why = None
        elif record == "env":
            why = _env_body(line_bytes[body:], line)
        elif record == "lin":
            why = _lin_body(fields, line)
        elif record == "cxpi":
            why = _cxpi_body(fields, line)
        else:
            why = _port_body(fields, line)
    else:
        line.record = "generic"
        fields = line_bytes[p + 1:].split(b",")
        _take_error(fields, line)
        why = None
        if len(fields) < 4 or any(_hex_field(fields[index], low, 8) is None
                                  for index, low in enumerate((4, 2, 2, 1))):
            why = "not a record"
        elif _data_bytes(fields[4:]) is None:
            why = "bad data byte"
    if why is not None:
        line.record = None
        line.error = None
        line.why = why
        line.malformed = line.malformed or line.bus is not None  # rule 12b
        return line
    line.form = "record"
    return line


def _message(line, timestamp):
    """The can.Message of a complete CAN record (rule 8). Its dlc is the
    number of data bytes, except for an 8-byte classic or error frame whose
    nibble is 9 to F (candump's "_X"): the nibble, as the writer takes it
    back."""
    complete, flags, identifier, nibble, frame_type, fd_flags = line.can
    data = line.data
    size = len(data)
    if frame_type == "remote":
        dlc = nibble
    elif frame_type == "fd":
        dlc = size
    else:
        dlc = nibble if (nibble > 8 and size == 8) else size
    error = frame_type == "error"
    return Message(
        timestamp=timestamp,
        arbitration_id=line.error if error else identifier,
        is_extended_id=True if error else bool(flags & 1),
        is_remote_frame=frame_type == "remote",
        is_error_frame=error,
        is_fd=frame_type == "fd",
        bitrate_switch=bool(fd_flags & 1),
        error_state_indicator=bool(fd_flags & 2),
        dlc=dlc,
        data=bytearray(data),
        channel=None if line.channel is None else line.channel - 1,
        is_rx=line.kind != "O",
        check=False,
    )


def parse_can_line(line, start=0.0):
    """The can.Message of one log line (bytes, line end removed), or None
    when the line is not a CAN frame. Raises ValueError for a CAN record
    that breaks the rules (the C++ reader reads it as text)."""
    parsed = parse_line(line)
    if parsed.form == "record" and parsed.record == "can" and parsed.can[0]:
        return _message(parsed, start + (parsed.micros or 0) / 1e6)
    if parsed.form == "text" and parsed.bus == "can":
        raise ValueError(parsed.why)
    return None


def _start_micros(text):
    """The microseconds since the epoch of a `buslog start` time (rule 14a:
    years 1970 to 9999), or None."""
    if not _START.match(text) or text < "1970":
        return None
    try:
        moment = datetime.datetime.strptime(text, "%Y-%m-%dT%H:%M:%S.%fZ").replace(tzinfo=datetime.timezone.utc)
    except ValueError:
        return None
    return (moment - _EPOCH) // datetime.timedelta(microseconds=1)


def _channel_marker(text):
    """(N, interface) of a `buslog channel N <interface>` text (rule 14c),
    or None."""
    number, space, name = text.partition(" ")
    if not space or not _CHANNEL_NUMBER.match(number) or int(number) > 0x7FFFFFFF or not name or "\0" in name:
        return None
    return int(number), name


def _binary_lines(file):
    """The lines of a file object as bytes, split at LF only (rule 1)."""
    if isinstance(file, io.TextIOBase):
        buffer = getattr(file, "buffer", None)
        if buffer is not None:
            return buffer
        return (line.encode("utf-8", "surrogateescape") for line in file)
    return file


def _name_of(file):
    return str(getattr(file, "name", "log"))


def iter_records(file, start=0.0):
    """Every line of a log as a `Record`, in order.

    :param file: path of the log, or a file object (binary, or text: its
        bytes are read as they are).
    :param start: seconds added to the times of lines before any
        `buslog start` marker (a log that does not say when it began).

    Raises NotALogError when the file holds lines but none is a log line
    (rule 13): a candump trace named .buslog, say. The first 1000 lines are
    held back until a log line is found, so that a short file that is no
    log yields nothing before the error. A last line without its line end
    (one still being written) comes as 'malformed', "last line without its
    line end".
    """
    if isinstance(file, (str, bytes, os.PathLike)):
        with open(file, "rb") as opened:
            yield from iter_records(opened, start)
        return
    name = _name_of(file)
    lines = _binary_lines(file)
    start_micros = round(float(start or 0.0) * 1e6)
    base = None       # microseconds since the epoch of +0.000000, once a `buslog start` said it
    channels = {}     # shown channel number -> interface name
    seen_log_line = False
    held = []         # records before the first log line, held back while it is not known to be a log
    first_lines = []
    number = 0
    for raw in lines:
        number += 1
        if raw.endswith(b"\n"):
            raw = raw[:-2] if raw.endswith(b"\r\n") else raw[:-1]  # rule 1
            unfinished = False
        else:
            unfinished = True
        line = parse_line(raw)
        form = line.form
        record = None
        if unfinished:
            kind, text = "malformed", "last line without its line end"
        elif form == "record":
            kind, text = line.record, None
            if kind == "marker":
                text = line.text.decode("utf-8", "surrogateescape")
                if line.frame_number == 0 and text.startswith("buslog "):
                    word, _, argument = text[7:].partition(" ")
                    if word == "start":  # a new time base, from this line on (rule 14a)
                        base = _start_micros(argument)
                    elif word == "channel":
                        named = _channel_marker(argument)
                        if named is not None:
                            shown, interface = named
                            # A name that is the channel number itself
                            # (python-can's integer channels) stays a number.
                            channels[shown] = shown - 1 if interface == str(shown - 1) else interface
            elif kind == "can":
                kind = "frame" if line.can[0] else "record"
                if kind == "record":
                    text = "CAN record without identifier or length"
            else:
                kind = "record"
        elif form == "error":
            kind, text = "error", "(0:ERR=%08X)" % line.error
        elif form == "empty":
            kind, text = "empty", None
        else:
            kind, text = "malformed" if line.malformed else "text", line.why

        if line.micros is None:
            time = None
        elif base is None:
            time = (start_micros + line.micros) / 1e6
        else:
            time = (base + line.micros) / 1e6
        channel = line.channel
        if channel is not None and kind in ("frame", "record"):
            channel = channels.get(channel, channel - 1)
        else:
            channel = None
        message = None
        if kind == "frame":
            message = _message(line, time if time is not None else (base if base is not None else start_micros) / 1e6)
            message.channel = channel
        record = Record(number, line.frame_number, time, kind, message, text, channel)

        if seen_log_line:
            yield record
            continue
        if line.log_line:
            seen_log_line = True
        if held is None:
            yield record
            continue
        held.append(record)
        if seen_log_line or len(held) >= NO_LOG_AFTER:
            # A log, or too many lines to hold back: the rest is read as
            # it comes, and a file without any log line is said at its end.
            yield from held
            first_lines, held = held, None
    if seen_log_line:
        return
    if held is not None:
        first_lines = held
    if any(record.kind != "empty" for record in first_lines):
        raise _no_log(name, first_lines, number)
    yield from held or ()


def _no_log(name, first_lines, count):
    first = next(record for record in first_lines if record.kind != "empty")
    return NotALogError(f"{name} is not a buslog log: none of its {count} lines is a log line "
                        f"(line {first.line_number}: {first.text})")


def is_log(file):
    """True when `file` (a path) is a buslog log: a file of which a line is
    a log line (rule 13). An empty file counts as a log (one just begun)."""
    with open(file, "rb") as opened:
        lines = False
        for raw in opened:
            raw = raw[:-2] if raw.endswith(b"\r\n") else raw.rstrip(b"\n")
            if parse_line(raw).log_line:
                return True
            lines = lines or bool(raw)
    return not lines


class BuslogReader(MessageReader):
    """Iterates over the CAN frames of a .buslog log as can.Message objects.

    :param file: path of the log, or a file object open in binary mode.
    :param start: seconds added to the times of a log that does not say
        when it began (no `buslog start` marker), e.g. the time it was
        started. A log that says it gives absolute times without this.

    `timestamp` is absolute (seconds since the epoch) where the log says
    when it began; `channel` is the interface's name where the log names it
    (`buslog channel` markers), else the channel number the log shows less
    one. Other lines (LIN, CXPI, ports, environment variables, markers) are
    skipped. Lines that are not log lines (the C++ reader reads them as
    text) are skipped too, counted in `malformed` and logged as warnings
    (the first 20). A last line without its CR LF, one still being written,
    is counted in `unfinished` and not read. A file that is no log at all
    raises NotALogError.
    """

    def __init__(self, file, start=0.0, *args, **kwargs):
        super().__init__(file, mode="rb")
        self.start = float(start or 0.0)
        self.malformed = 0
        self.unfinished = 0

    def __iter__(self):
        name = _name_of(self.file)
        try:
            for record in iter_records(self.file, self.start):
                kind = record.kind
                if kind == "frame":
                    yield record.message
                elif kind == "malformed":
                    if record.text == "last line without its line end":
                        self.unfinished += 1
                        continue
                    if self.malformed < _MAX_WARNINGS:
                        log.warning("%s:%d: %s; line skipped", name, record.line_number, record.text)
                    self.malformed += 1
        finally:
            self.stop()
