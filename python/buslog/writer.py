"""python-can writer for .buslog: every message becomes one line written
through the module.

Two modes. By default (group commit) on_message_received checks the
message, queues it and returns; one thread of the writer logs what is
queued, several lines in one module Write (each line's fields, PutString of
CR LF between lines, one Write after the last; the module syncs each Write).
`flush()` waits until everything queued so far is on the device, `stop()`
logs everything queued before it closes the log. With write_through=True
the line is on the device when on_message_received returns.

The frame lines are the ones `buslog-host replay` writes for the same
frames:

    frame number  from 1
    time stamp    since the time base (the first message, or the message
                  where a time jump began a new one), in whole microseconds;
                  a message by up to 1 s earlier than the latest is stamped
                  +0.000000 when it is before the base
    kind          I for a received message (is_rx), O for one this node sent
    channel       an integer channel as it is (0 shows as 1); any other
                  channel (a name such as "can0", or None) numbered by first
                  appearance among the non-integer channels, from 0
    record        standard (11-bit) or extended (29-bit) CAN record, status OK
    remote frame  the requested length (dlc) and no data, then ",RTR"
    CAN FD        the FD length code and all data bytes (padded with zero
                  bytes up to the next FD length), then ",FD,<flags>"
                  with BRS 1 and ESI 2
    error frame   status NG, the error class (arbitration_id) as a 29-bit
                  identifier with the data bytes, then ",(0:ERR=<class>)"

A classic frame's length nibble is the number of data bytes (at most 8), or
the message's dlc 9 to 15 when it carries 8 bytes (candump's "_X").

Marker lines (frame number 0, kind M), unless markers=False: `buslog start
<UTC time of +0.000000>` and `buslog writer buslog-python <version>` first,
`buslog channel <N> <str(channel)>` before each channel's first frame (not
for channel None), and a new `buslog start` where a time jump begins a new
time base (then the channel markers again).
"""

import atexit
import ctypes
import datetime
import math
import os
import shutil
import struct
import tempfile
import threading
import warnings
import weakref

from can.io.generic import MessageWriter

from .module import (BUS_CAN, KIND_IN, KIND_OUT, MAX_PATH_BYTES, Module, OpenError, WriteError, find_module,
                     write_failure_reason)

__all__ = ["BuslogWriter"]

KIND_MARKER = 0xFFFB
BUS_MARKER = 0  # any bus but CAN, LIN, CXPI and 128 shows the channel as "-"

# CAN FD data lengths by length code.
FD_LENGTHS = (0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64)
# The length code of every data length up to 64: the smallest FD length that
# holds it.
_FD_CODE_FOR = [next(code for code, size in enumerate(FD_LENGTHS) if size >= n) for n in range(65)]
_FD_SUFFIX = [b",FD,%X" % flags for flags in range(4)]
_RTR_SUFFIX = b",RTR"
_CHANNEL_MAX = 0x7FFFFFFE  # channel + 1 must fit the module's 32-bit channel

# The module's longest line, before its CR LF; a batch of lines joined by
# CR LF stays within it.
LINE_LIMIT = 4096
_CR_LF = b"\r\n"
# Line lengths: frame number (9 digits up to 999,999,999, then 10), ",+"
# and 8 characters of time, the 17-character record header with a 2-digit
# channel (wider when the number needs more), then the body.
_TIME_LENGTH = 10
_MARKER_HEADER_LENGTH = 17  # ",M,Marker  , -,OK"
_STANDARD_BODY = 9          # ",0,1,23,2"
_EXTENDED_BODY = 16         # ",1,12,34,56,78,2"
_ERROR_FIELD = 17           # ",(0:ERR=0000001F)"
# A channel marker's interface name is cut to keep its line this short, so
# that a frame and every marker before it fit one Write.
_MAX_NAME_BYTES = 2048

# Time jumps (microseconds): a message this far after the time base, or
# this much before the latest message of the time base, begins a new one.
TIME_FIELD_LIMIT = 100000000 * 1000000  # the 9-character field shows < 100,000,000 s
STEP_BACK_LIMIT = 1000000
_MAX_WARNINGS = 20
# Queued messages the writer's thread takes at a time.
_CHUNK = 4096

_EPOCH = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)

# Loaded modules that writers share, by path, and which of them a writer
# holds right now. A module keeps one log at a time: a writer that finds its
# module held loads a private copy.
_shared_modules = {}
_held = set()
# Logs open in a writer of this process: real path, and (device, inode).
_open_logs = {}
_registry_lock = threading.Lock()


def _shared_module(path):
    with _registry_lock:
        key = os.path.realpath(find_module(path))
        module = _shared_modules.get(key)
        if module is None:
            module = _shared_modules[key] = Module(key)
        if key in _held:
            return None
        _held.add(key)
        return module


def _release_shared(module):
    with _registry_lock:
        _held.discard(module.path)


def _relative_name(module_directory, log_path):
    """The log's path relative to the module's directory, as bytes."""
    return os.fsencode(os.path.relpath(log_path, module_directory))


def _fits(directory, name):
    return len(os.fsencode(directory)) + 1 + len(name) <= MAX_PATH_BYTES


def _flag(value, name):
    """A yes/no keyword, also as can.logger's --name=value hands it over
    (a string, or 0 and 1 as integers)."""
    if isinstance(value, bool):
        return value
    if isinstance(value, int) and value in (0, 1):
        return bool(value)
    if isinstance(value, str) and value.strip().lower() in ("true", "1", "yes", "on"):
        return True
    if isinstance(value, str) and value.strip().lower() in ("false", "0", "no", "off"):
        return False
    raise ValueError(f"{name} must be true or false, not {value!r}")


def _iso(micros):
    """The UTC time of `micros` since the epoch, as a `buslog start` says it
    (readers take the years 1970 to 9999)."""
    try:
        moment = _EPOCH + datetime.timedelta(microseconds=micros)
    except OverflowError:
        moment = None
    if micros < 0 or moment is None or moment.year > 9999:
        raise ValueError(f"time stamp {micros / 1e6!r} is outside the years 1970 to 9999, which a log's "
                         "start time can show (markers=False logs it without one)")
    return moment.strftime("%Y-%m-%dT%H:%M:%S.%fZ")


def _marker_length(text):
    """The length of a marker line of `text` (bytes), without its CR LF."""
    return 9 + _TIME_LENGTH + _MARKER_HEADER_LENGTH + 1 + len(text)


def frame_line_length(encoded_length, frame_number, channel_number):
    """The exact length of a frame's line without its CR LF: `encoded_length`
    is encode()'s last value; the frame number takes 9 digits up to
    999,999,999, then 10; the channel (number + 1) 2 characters, or as many
    as it needs."""
    length = (9 if frame_number <= 999999999 else 10) + encoded_length
    if channel_number > 98:
        length += len(str(channel_number + 1)) - 2
    return length


# A line to write: a tuple of these fields. A frame's is queued as it is;
# a marker line's time base is None.
(_NUMBER, _SINCE, _KIND, _BUS, _CHANNEL, _STATUS, _RECORD, _SUFFIX, _ERROR, _LENGTH, _BASE) = range(11)


def encode(msg, headers=None):
    """The parts of a message's record: (kind, status, record bytes, suffix
    or None, error class or None, the length of its line after the frame
    number with a 2-character channel). Raises ValueError for a message that
    no bus can carry or the log cannot show."""
    data = msg.data
    size = len(data)
    identifier = msg.arbitration_id
    suffix = None
    error = None
    status = 0
    if msg.is_error_frame:
        if not 0 <= identifier <= 0x1FFFFFFF:
            raise ValueError(f"error class {identifier:#x} is wider than 29 bits (an error frame's class is "
                             "its arbitration_id)")
        if size > 64:
            raise ValueError(f"a CAN frame carries at most 64 data bytes, not {size}")
        nibble = size if size <= 8 else 8
        if size == 8 and 8 < msg.dlc <= 15:
            nibble = msg.dlc
        extended = True
        status = 1
        error = identifier
    elif msg.is_remote_frame:
        if not 0 <= msg.dlc <= 15:
            raise ValueError(f"a remote frame requests a length (dlc) of 0 to 15, not {msg.dlc}")
        data = b""
        size = 0
        nibble = msg.dlc
        extended = msg.is_extended_id
        suffix = _RTR_SUFFIX
    elif msg.is_fd:
        if size > 64:
            raise ValueError(f"a CAN FD frame carries at most 64 data bytes, not {size}")
        nibble = _FD_CODE_FOR[size]
        if FD_LENGTHS[nibble] != size:
            data = bytes(data) + bytes(FD_LENGTHS[nibble] - size)
            size = FD_LENGTHS[nibble]
        extended = msg.is_extended_id
        suffix = _FD_SUFFIX[(1 if msg.bitrate_switch else 0) | (2 if msg.error_state_indicator else 0)]
    else:
        if size > 8:
            raise ValueError(f"a classic CAN frame carries at most 8 data bytes, not {size} (is_fd is False)")
        nibble = size
        if size == 8 and 8 < msg.dlc <= 15:
            nibble = msg.dlc
        extended = msg.is_extended_id
    if extended:
        if not 0 <= identifier <= 0x1FFFFFFF:
            raise ValueError(f"extended identifier {identifier:#x} does not fit in 29 bits")
        record = bytes((0x80 | identifier >> 24, identifier >> 16 & 0xFF, identifier >> 8 & 0xFF,
                        identifier & 0xFF, nibble)) + data
        body = _EXTENDED_BODY
    else:
        header = None
        key = identifier << 4 | nibble
        if headers is not None:
            header = headers.get(key)
        if header is None:
            if not 0 <= identifier <= 0x7FF:
                raise ValueError(f"standard identifier {identifier:#x} does not fit in 11 bits")
            header = bytes((identifier >> 8, identifier & 0xFF, nibble))
            if headers is not None:
                headers[key] = header
        record = header + data
        body = _STANDARD_BODY
    length = _TIME_LENGTH + 17 + body + 3 * size
    if suffix is not None:
        length += len(suffix)
    elif error is not None:
        length += _ERROR_FIELD
    return KIND_IN if msg.is_rx else KIND_OUT, status, record, suffix, error, length


class BuslogWriter(MessageWriter):
    """Logs CAN messages through the buslog module into `file`.

    :param file: path of the log; an existing file is replaced, but not one
        that a writer of this process has open.
    :param append: refused: the module always starts a log afresh.
    :param buslog_module: path of libbuslog.so / buslog.dll; else the
        environment variable BUSLOG_MODULE, else the installed module.
    :param share_read: let other programs read the log while it is open
        (Windows; POSIX readers are never locked out).
    :param write_through: False (the default): group commit, the message is
        queued and logged by the writer's thread, several lines a sync.
        True: the line is on the device when on_message_received returns.
    :param markers: write the marker lines (start time, writer, channel
        names); False leaves them out, and a time jump is then refused.
    :param max_queue: group commit: when this many messages are taken and
        not yet written, on_message_received waits for the device (what a
        kill can lose, and the memory the queue takes, stay bounded).

    Both flags also take "true"/"false"/"1"/"0", as can.logger hands over
    `--write-through=true` and `--markers=false`.
    """

    def __init__(self, file, append=False, buslog_module=None, share_read=True, write_through=False, markers=True,
                 max_queue=100000, *args, **kwargs):
        if append:
            raise ValueError(".buslog logs cannot be appended to: the buslog module always starts a new file "
                             "(leave out append / --append, or log to a new file name)")
        if file is None or hasattr(file, "write") or hasattr(file, "read"):
            raise TypeError(".buslog writer needs a file path, not a file object (the buslog module opens the "
                            "file itself; compressed .buslog.gz is not supported)")
        self.write_through = _flag(write_through, "write_through")
        self.markers = _flag(markers, "markers")
        try:
            self.max_queue = int(max_queue)
        except (TypeError, ValueError):
            self.max_queue = 0
        if self.max_queue < 1:
            raise ValueError(f"max_queue must be a whole number of messages, 1 or more, not {max_queue!r}")
        super().__init__(None)
        self._module = None
        self._private = False
        self._registered = None
        self.path = os.path.abspath(os.fsdecode(os.fspath(file)))
        directory, name = os.path.split(self.path)
        if not name:
            raise ValueError(f"log path {self.path!r} names no file")
        if not os.path.isdir(directory):
            raise FileNotFoundError(f"cannot create log {self.path!r}: no directory {directory!r}")
        # Reached from the module's own directory, which the module knows
        # with its links resolved.
        self._log_path = os.path.join(os.path.realpath(directory), name)
        self._register()
        try:
            self._open(buslog_module, share_read)
        except BaseException:
            self._unregister()
            raise
        with _registry_lock:
            try:
                status = os.stat(self._log_path)
                self._registered = (self._registered[0], (status.st_dev, status.st_ino))
                _open_logs[self._registered[1]] = self.path
            except OSError:
                pass

        # State of the messages taken (under _lock, in call order).
        self._lock = threading.Lock()
        self._done = threading.Condition(self._lock)
        self._channels = {}      # message channel -> module channel
        self._names = {}         # module channel -> its marker's interface name (bytes), None for None
        self._named_channels = 0
        self._headers = {}
        self._frame_number = 0
        self._base = None        # time base (microseconds since the epoch) and its serial number
        self._base_serial = 0
        self._base_times = {}    # serial -> microseconds since the epoch
        self._latest = None
        self._jumps = 0
        self._taken = 0          # frames taken
        self._stopped = False
        # State of the log (under the module's lock, by the logging thread).
        self._file_base = None       # serial of the time base the log last announced
        self._file_channels = frozenset()  # module channels named since
        self._writer_line = False
        self._written = 0            # frames done (written or failed)
        self._lost = []              # frame numbers not written since the last report
        self._reason = None          # why the first of them was not
        self._queue = []
        self._thread = None
        self._closing = False
        self._thread_failure = None
        self._write_export = self._module._write
        self._put_string = self._module._fast.PutString
        self._count = ctypes.byref(ctypes.c_int32())
        self._cell_pointer = ctypes.c_void_p()
        self._cell_pointer_ref = ctypes.byref(self._cell_pointer)
        self._cell = None
        # True from a Write's first field to the Write: an exception in
        # between (a KeyboardInterrupt) leaves a part line in the module.
        self._partial = False
        self.writes = 0  # Write calls so far
        if not self.write_through:
            self._thread = threading.Thread(target=self._run, name=f"buslog writer {name}", daemon=True)
            self._thread.start()
        _live_writers.add(self)

    # -- the path registry -------------------------------------------------

    def _register(self):
        real = os.path.realpath(self._log_path)
        try:
            status = os.stat(real)
            identity = (status.st_dev, status.st_ino)
        except OSError:
            identity = None
        with _registry_lock:
            other = _open_logs.get(real) or (_open_logs.get(identity) if identity else None)
            if other is not None:
                raise ValueError(f"cannot log to {self.path!r}: a .buslog writer of this process has it open "
                                 f"(as {other!r}); stop that writer first")
            _open_logs[real] = self.path
            self._registered = (real, None)

    def _unregister(self):
        with _registry_lock:
            if self._registered is not None:
                for key in self._registered:
                    if key is not None:
                        _open_logs.pop(key, None)
                self._registered = None

    # -- opening -----------------------------------------------------------

    def _open(self, buslog_module, share_read):
        module = _shared_module(buslog_module)
        if module is not None:
            name = _relative_name(module.directory, self._log_path)
            if _fits(module.directory, name):
                try:
                    self._open_with(module, name, share_read, private=False)
                    return
                except OpenError as error:
                    if error.code != 3:
                        raise
                reason = "the module already has a log open (opened through buslog.Module)"
            else:
                _release_shared(module)
                reason = "the log's path relative to the module is too long for it"
        else:
            reason = "another writer holds the module"
        self._open_private(buslog_module, share_read, reason)

    def _open_with(self, module, name, share_read, private):
        try:
            module.share_mode(share_read)
            module.open(name)
        except OpenError as error:
            if not private:
                _release_shared(module)
            raise OpenError(error.code, self.path) from None
        self._module = module
        self._private = private

    def _open_private(self, buslog_module, share_read, reason):
        """Loads a copy of the module of its own from a temporary folder
        near the log and opens the log through it. The copy and its folder
        are removed as soon as the log is open."""
        source = find_module(buslog_module)
        tried = []
        log_directory = os.path.dirname(self._log_path)
        for place in (tempfile.gettempdir(), log_directory):
            try:
                folder = tempfile.mkdtemp(prefix=".buslog-", dir=place)
            except OSError as error:
                tried.append(f"{place}: {error}")
                continue
            try:
                copy = os.path.join(folder, os.path.basename(source))
                shutil.copyfile(source, copy)
                module = Module(copy)
                name = _relative_name(module.directory, self._log_path)
                if not _fits(module.directory, name):
                    tried.append(f"{place}: the path from there is {len(name)} bytes, too long")
                    module.unload()
                    continue
                try:
                    self._open_with(module, name, share_read, private=True)
                except OpenError:
                    module.unload()
                    raise
                return
            except OpenError:
                raise
            except OSError as error:  # not copied, or not loaded from there (a noexec mount)
                tried.append(f"{place}: {error}")
            finally:
                # The loaded copy stays mapped; its file is no longer needed.
                shutil.rmtree(folder, ignore_errors=True)
        raise OSError(f"cannot log to {self.path!r}: {reason}, and no private copy of the module could open it "
                      f"(the module's directory and the log's name must stay within {MAX_PATH_BYTES} bytes): "
                      + "; ".join(tried))

    # -- taking messages (the caller's thread) -------------------------------

    def on_message_received(self, msg):
        """Takes a message. Group commit: queued, logged by the writer's
        thread soon after (flush() waits for it). write_through: its line is
        on the device when this returns.

        Raises ValueError, and logs nothing of it, for a message that no bus
        can carry or the log cannot show, and WriteError when lines could not
        be written: this message's (write_through), or earlier messages'
        (group commit: this message is then not taken)."""
        kind, status, record, suffix, error, length = encode(msg, self._headers)
        timestamp = msg.timestamp
        if not math.isfinite(timestamp):
            raise ValueError(f"time stamp {timestamp!r} is not a finite number of seconds")
        micros = round(timestamp * 1000000.0)
        channel = msg.channel
        with self._lock:
            if self._stopped:
                raise ValueError(f"the .buslog writer of {self.path!r} was stopped")
            self._raise_failure()
            base = self._time_base(micros, timestamp)
            try:
                number = self._channels[channel]
            except (KeyError, TypeError):
                number = self._channel_of(channel)
            since = micros - self._base[0]
            if since < 0:
                since = 0
            if micros > self._latest:
                self._latest = micros
            self._frame_number = frame_number = (self._frame_number + 1) & 0xFFFFFFFF
            item = (frame_number, since, kind, BUS_CAN, number, status, record, suffix, error,
                    frame_line_length(length, frame_number, number), base)
            self._taken += 1
            if self.write_through:
                self._write_items([item])
                self._raise_failure()
            else:
                self._queue.append(item)
                if len(self._queue) == 1:
                    self._done.notify_all()
                while self._taken - self._written >= self.max_queue and self._thread_failure is None:
                    self._done.wait()  # the device is far behind: hold the caller

    def _time_base(self, micros, timestamp):
        """The serial of the time base of a message at `micros`; begins a
        new one at a time jump (ValueError without markers)."""
        what = None
        if self._base is not None:
            since = micros - self._base[0]
            if since >= TIME_FIELD_LIMIT:
                what = (f"time stamp {timestamp:.6f} is {since / 1e6:,.0f} s after the log's time base, more than "
                        "the time field shows (99,999,999 s)")
            elif micros < self._latest - STEP_BACK_LIMIT:
                what = (f"time stamp {timestamp:.6f} is {(self._latest - micros) / 1e6:,.6f} s before the latest "
                        "message's: the clock stepped back")
            else:
                return self._base[1]
            if not self.markers:
                raise ValueError(f"{what}; with markers=False the log cannot begin a new time base, so this "
                                 "message is not logged")
        if self.markers:
            _iso(micros)  # the start time must be one a log can show
        if what is not None:
            self._jumps += 1
            if self._jumps <= _MAX_WARNINGS:
                note = "" if self._jumps < _MAX_WARNINGS else " (further time jumps are not reported)"
                warnings.warn(f"{self.path}: {what}; the log begins a new time base at frame "
                              f"{self._frame_number + 1} (a new buslog start line){note}", RuntimeWarning,
                              stacklevel=3)
        self._base_serial += 1
        self._base = (micros, self._base_serial)
        self._base_times[self._base_serial] = micros
        self._latest = micros
        return self._base_serial

    def _channel_of(self, channel):
        """The module channel of a message's channel, numbering a new name."""
        try:
            hash(channel)
        except TypeError:  # a channel that cannot be a key is taken as its text
            key = repr(channel)
            if key in self._channels:
                return self._channels[key]
        else:
            key = channel
        if type(channel) is int and 0 <= channel <= _CHANNEL_MAX:
            number = channel
        else:
            number = self._named_channels
            self._named_channels += 1
        self._channels[key] = number
        if channel is None or str(channel) == "":
            # No marker: python-can's None says the channel is not known, and
            # an empty interface name is none (readers ignore such a marker).
            self._names.setdefault(number, None)
        elif self._names.get(number) is None:
            text = str(channel).translate({13: " ", 10: " ", 0: " "}).encode("utf-8", "backslashreplace")
            if len(text) > _MAX_NAME_BYTES:
                text = text[:_MAX_NAME_BYTES].decode("utf-8", "ignore").encode("utf-8")
            self._names[number] = text
        return number

    def _raise_failure(self):
        """Raises (once) what the log could not take since the last report."""
        if self._thread_failure is not None:
            raise WriteError(f"the .buslog writer of {self.path!r} stopped logging: {self._thread_failure}")
        if not self._lost:
            return
        lost, self._lost = self._lost, []
        reason, self._reason = self._reason, None
        raise _lost_error(self.path, lost, reason)

    # -- logging (the writer's thread, or the caller's in write_through) -----

    def _run(self):
        try:
            while True:
                with self._lock:
                    while not self._queue and not self._closing:
                        self._done.wait()
                    if not self._queue:
                        return
                    if len(self._queue) <= _CHUNK:
                        items, self._queue = self._queue, []
                    else:  # in chunks, so that waiting callers go on soon
                        items = self._queue[:_CHUNK]
                        del self._queue[:_CHUNK]
                self._write_items(items)
                with self._lock:
                    self._done.notify_all()
        except BaseException as error:  # reported to the caller, not lost in a thread
            with self._lock:
                self._thread_failure = f"{type(error).__name__}: {error}"
                self._done.notify_all()

    def _lines_of(self, item):
        """The lines of a frame item, the marker lines it needs first, and
        the log's state (time base announced, channels named, writer line)
        after them."""
        base = item[_BASE]
        number = item[_CHANNEL]
        file_base, file_channels, writer_line = self._file_base, self._file_channels, self._writer_line
        lines = []
        if base != file_base:
            text = b"buslog start " + _iso(self._base_times[base]).encode("ascii")
            lines.append((0, 0, KIND_MARKER, BUS_MARKER, 0, 0, text, None, None, _marker_length(text), None))
            if not writer_line:
                text = b"buslog writer buslog-python " + _version().encode("ascii")
                lines.append((0, 0, KIND_MARKER, BUS_MARKER, 0, 0, text, None, None, _marker_length(text), None))
                writer_line = True
            file_base, file_channels = base, frozenset()
        if number not in file_channels:
            name = self._names.get(number)
            if name is not None:
                text = b"buslog channel %d " % (number + 1) + name
                lines.append((0, item[_SINCE], KIND_MARKER, BUS_MARKER, 0, 0, text, None, None, _marker_length(text),
                              None))
            file_channels = file_channels | {number}
        lines.append(item)
        return lines, (file_base, file_channels, writer_line)

    def _write_items(self, items):
        """Logs frame items in batches of lines within LINE_LIMIT, one Write
        each. A failed batch leaves nothing in the log; its frames are then
        written one Write each (with their markers), so that exactly the
        frames that cannot be written are counted."""
        markers = self.markers
        with self._module.lock:
            lines = []
            units = []     # the frame items of the batch
            room = LINE_LIMIT + 2  # each line takes its length and CR LF
            saved = (self._file_base, self._file_channels, self._writer_line)
            for item in items:
                for attempt in (0, 1):
                    if not markers or (item[_BASE] == self._file_base and item[_CHANNEL] in self._file_channels):
                        unit = None
                        need = item[_LENGTH] + 2
                    else:
                        unit, after = self._lines_of(item)
                        need = sum(line[_LENGTH] + 2 for line in unit)
                    if need <= room or not units:
                        break
                    self._write_batch(lines, units, saved)
                    lines, units, room = [], [], LINE_LIMIT + 2
                    saved = (self._file_base, self._file_channels, self._writer_line)
                if unit is None:
                    lines.append(item)
                else:
                    lines.extend(unit)
                    self._file_base, self._file_channels, self._writer_line = after
                units.append(item)
                room -= need
            if units:
                self._write_batch(lines, units, saved)

    def _write_batch(self, lines, units, saved):
        reason = self._write_lines(lines)
        if reason is None:
            self._written += len(units)
            return
        # Nothing of the batch is in the log: the log's state is as before it.
        self._file_base, self._file_channels, self._writer_line = saved
        for item in units:
            if len(units) > 1:
                item_lines, after = self._lines_of(item) if self.markers else ([item], saved)
                reason = self._write_lines(item_lines)
                if reason is None and self.markers:
                    self._file_base, self._file_channels, self._writer_line = after
            self._written += 1
            if reason is not None:
                self._lost.append(item[_NUMBER])
                if self._reason is None:
                    self._reason = reason

    def _write_lines(self, lines):
        """Puts `lines` into one Write. None when it succeeded, else the
        reason in words."""
        fast = self._module._fast
        put_frame_id, put_time_stamp, put_frame = fast.PutFrameId, fast.PutTimeStamp, fast.PutFrame
        put_string, put_error = fast.PutString, fast.PutError
        count = self._count
        pack_one, pack_two = _PACK_ONE, _PACK_TWO
        if self._partial:
            raise WriteError(f"a line to {self.path!r} was interrupted before its end; stop this writer")
        self._partial = True
        first = True
        for number, since, kind, bus, channel, status, record, suffix, error, _, _ in lines:
            if first:
                first = False
            else:
                put_string(2, _CR_LF, count)
            put_frame_id(1, pack_one(number), count)
            if since:
                seconds = since // 1000000
                put_time_stamp(2, pack_two(seconds, since - seconds * 1000000), count)
            else:
                put_time_stamp(2, _ZERO_TIME, count)
            put_frame(kind, bus, channel, status, len(record), record, count)
            if suffix is not None:
                put_string(len(suffix), suffix, count)
            elif error is not None:
                put_error(1, pack_one(error), count)
        set_errno(0)
        self._write_export(0, None, count, self._cell_pointer_ref)
        code = get_errno()
        self._partial = False
        self.writes += 1
        if self._cell is None:  # the Write result's cell stays where it is
            self._cell = ctypes.c_uint8.from_address(self._cell_pointer.value)
        result = self._cell.value
        if result == 0:
            return None
        return write_failure_reason(result, code)

    # -- waiting and stopping ---------------------------------------------

    def flush(self):
        """Returns when every message taken before the call is on the device
        (or could not be written: then raises WriteError saying which and
        why)."""
        with self._lock:
            target = self._taken
            while self._written < target and self._thread_failure is None and self._thread is not None:
                self._done.wait()
            self._raise_failure()

    def file_size(self):
        """The log's size on disk."""
        return os.path.getsize(self.path)

    def stop(self):
        """Logs every message taken, then closes the log. Raises WriteError
        when lines could not be written that no call has reported yet."""
        module = self._module
        if module is None:
            return
        with self._lock:
            if self._stopped:
                return
            self._stopped = True
            self._closing = True
            self._done.notify_all()
        if self._thread is not None:
            self._thread.join()
        with module.lock:
            module.close()
        if self._private:
            module.unload()
        else:
            _release_shared(module)
        self._unregister()
        _live_writers.discard(self)
        with self._lock:
            self._raise_failure()


# Writers not yet stopped: stopped at exit, so that a program that forgets
# stop() still gets its queued messages logged.
_live_writers = weakref.WeakSet()


@atexit.register
def _stop_at_exit():
    for writer in list(_live_writers):
        writer.stop()


_PACK_ONE = struct.Struct("<I").pack
_PACK_TWO = struct.Struct("<II").pack
_ZERO_TIME = _PACK_TWO(0, 0)
set_errno = ctypes.set_errno
get_errno = ctypes.get_errno


def _version():
    from . import __version__
    return __version__


def _ranges(numbers):
    """"12-14, 20" of sorted frame numbers."""
    parts = []
    start = previous = None
    for number in numbers:
        if previous is not None and number == previous + 1:
            previous = number
            continue
        if start is not None:
            parts.append(f"{start}" if start == previous else f"{start}-{previous}")
        start = previous = number
    if start is not None:
        parts.append(f"{start}" if start == previous else f"{start}-{previous}")
    if len(parts) > 10:
        parts = parts[:10] + [f"and {len(parts) - 10} more ranges"]
    return ", ".join(parts)


def _lost_error(path, lost, reason):
    code = reason[1]
    if len(lost) == 1:
        what = f"could not write frame {lost[0]} to {path!r}"
    else:
        what = f"could not write {len(lost)} frames to {path!r} (frames {_ranges(lost)})"
    error = WriteError(f"{what}: {reason[0]}")
    error.errno = code or None
    error.strerror = os.strerror(code) if code else None
    error.frames = lost
    return error
