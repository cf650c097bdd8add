"""python-can reader for .buslog: the CAN records of a buslog log as
can.Message objects; every other line (LIN, CXPI, ports, environment
variables, markers, free text) is skipped.

A CAN line reads

    000000001,+0.000123,I,CAN     , 1,OK,0,1,23,2,AA,BB
    frame number, time (optional), kind, bus, channel + 1, status, body

and its body: the flag value (bit 0 set: extended identifier), the
identifier's pieces (standard: high digit and low byte; extended: four
bytes, the first two digits), the length nibble, then the remaining fields
F, read by these rules, the first that holds:

1. the last field of F is "RTR": a remote frame requesting the nibble's
   length, no data;
2. the last field is "(0:ERR=XXXXXXXX)" and the status NG: an error frame
   whose error class is that value (also its arbitration_id), the fields
   before it its data;
3. the last two fields are "FD" and one hexadecimal digit, and the fields
   before them are as many as the nibble's CAN FD length (0 to 8 as they
   are, 9 to F: 12, 16, 20, 24, 32, 48, 64): a CAN FD frame with those
   flags (BRS 1, ESI 2);
4. otherwise every field is a data byte of a classic frame.

A message's dlc is its number of data bytes, except for an 8-byte classic
or error frame whose nibble is 9 to F (candump's "_X"): its dlc is the
nibble, as the writer takes it back. channel is the log's channel number
(the text shows it plus one); is_rx is False for kind O, True otherwise.
"""

import logging

from can.io.generic import MessageReader
from can.message import Message

__all__ = ["BuslogReader", "parse_can_line", "FD_LENGTHS"]

log = logging.getLogger("buslog")

FD_LENGTHS = (0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64)
_HEX_DIGITS = frozenset(b"0123456789ABCDEFabcdef")
_ERROR_PREFIX = b"(0:ERR="
_KINDS = frozenset(b"OIPEM")
# Malformed lines reported one by one before they are only counted.
_MAX_WARNINGS = 20


class _Malformed(Exception):
    pass


def _hex(field, width):
    """The value of a field of exactly `width` hexadecimal digits."""
    if len(field) != width or not _HEX_DIGITS.issuperset(field):
        raise _Malformed(f"expected {width} hexadecimal digit(s), found {field!r}")
    return int(field, 16)


def _bytes(fields):
    try:
        if any(len(field) != 2 for field in fields):
            raise ValueError
        return bytearray.fromhex(b" ".join(fields).decode("ascii"))
    except (ValueError, UnicodeDecodeError):
        raise _Malformed("data fields must be bytes of two hexadecimal digits") from None


def parse_can_line(line, start=0.0):
    """Returns the can.Message of one log line (bytes, line end removed),
    or None when the line is not a CAN record. Raises ValueError for a CAN
    record that cannot be read."""
    try:
        return _parse(line, start)
    except _Malformed as error:
        raise ValueError(str(error)) from None


def _parse(line, start):
    fields = line.split(b",")
    if not fields[0].isdigit():
        return None
    at = 1
    seconds = 0.0
    if len(fields) > 1 and fields[1][:1] == b"+":
        try:
            seconds = float(fields[1][1:])
        except ValueError:
            raise _Malformed(f"bad time stamp {fields[1]!r}") from None
        at = 2
    if len(fields) < at + 4:
        return None
    kind, bus, channel_text, status = fields[at:at + 4]
    if bus.rstrip(b" ") != b"CAN" or len(kind) != 1 or kind[0] not in _KINDS:
        return None
    if status not in (b"OK", b"NG"):
        raise _Malformed(f"bad status {status!r}")
    try:
        channel = int(channel_text) - 1
    except ValueError:
        raise _Malformed(f"bad channel {channel_text!r}") from None

    body = fields[at + 4:]
    if not body:
        raise _Malformed("CAN record without a body")
    flags = _hex(body[0], 1)
    extended = bool(flags & 1)
    if extended:
        if len(body) < 6:
            raise _Malformed("extended CAN record cut short")
        identifier = (_hex(body[1], 2) << 24 | _hex(body[2], 2) << 16 | _hex(body[3], 2) << 8 | _hex(body[4], 2))
        if identifier > 0x1FFFFFFF:
            raise _Malformed(f"extended identifier {identifier:X} above 29 bits")
        nibble = _hex(body[5], 1)
        rest = body[6:]
    else:
        if len(body) < 4:
            raise _Malformed("standard CAN record cut short")
        high = _hex(body[1], 1)
        if high > 7:
            raise _Malformed(f"standard identifier digit {high:X} above 7")
        identifier = high << 8 | _hex(body[2], 2)
        nibble = _hex(body[3], 1)
        rest = body[4:]

    remote = error = fd = brs = esi = False
    last = rest[-1] if rest else b""
    if last == b"RTR":
        remote = True
        data = bytearray()
        dlc = nibble
    elif last.startswith(_ERROR_PREFIX) and last.endswith(b")") and status == b"NG":
        error = True
        identifier = _hex(last[len(_ERROR_PREFIX):-1], 8)
        data = _bytes(rest[:-1])
        dlc = nibble if (nibble > 8 and len(data) == 8) else len(data)
    elif (len(rest) >= 2 and rest[-2] == b"FD" and len(last) == 1 and last[0] in _HEX_DIGITS
          and len(rest) - 2 == FD_LENGTHS[nibble]):
        fd = True
        fd_flags = int(last, 16)
        brs = bool(fd_flags & 1)
        esi = bool(fd_flags & 2)
        data = _bytes(rest[:-2])
        dlc = len(data)
    else:
        data = _bytes(rest)
        dlc = nibble if (nibble > 8 and len(data) == 8) else len(data)

    return Message(
        timestamp=start + seconds,
        arbitration_id=identifier,
        is_extended_id=extended,
        is_remote_frame=remote,
        is_error_frame=error,
        is_fd=fd,
        bitrate_switch=brs,
        error_state_indicator=esi,
        dlc=dlc,
        data=data,
        channel=channel,
        is_rx=kind != b"O",
        check=False,
    )


class BuslogReader(MessageReader):
    """Iterates over the CAN messages of a .buslog log.

    :param file: path of the log, or a file object open in binary mode.
    :param start: seconds added to every time stamp (the log holds the time
        since its first frame), e.g. the time the log was started.

    Lines that are not CAN records are skipped. CAN records that cannot be
    read are skipped too, counted in `malformed` and logged as warnings (the
    first 20). A last line without its CR LF, a line still being written,
    is counted in `unfinished` and not read.
    """

    def __init__(self, file, start=0.0, *args, **kwargs):
        super().__init__(file, mode="rb")
        self.start = float(start or 0.0)
        self.malformed = 0
        self.unfinished = 0

    def __iter__(self):
        number = 0
        for line in self.file:
            number += 1
            if not line.endswith(b"\n"):
                self.unfinished += 1
                break
            line = line.rstrip(b"\r\n")
            try:
                message = _parse(line, self.start)
            except _Malformed as error:
                if self.malformed < _MAX_WARNINGS:
                    log.warning("%s:%d: %s; line skipped", getattr(self.file, "name", "log"), number, error)
                self.malformed += 1
                continue
            if message is not None:
                yield message
        self.stop()
