"""python-can writer for .buslog, on buslog's logging engine.

`can.Logger("run.buslog")` hands every message to the engine
(libbuslog-writer.so / buslog-writer.dll, include/buslog_writer.h), loaded
through ctypes from beside the buslog module. The engine owns everything
between a frame and a line in the log, as it does for buslog-host: frame
numbers, channels and their names, the time base and the marker lines,
group commit, the files (rotation, the ring, a new file after a fault), the
storage's faults and the list of frames lost. What this module does is
python-can's side:

- a can.Message becomes the engine's frame: its type, identifier, flags,
  data, length code (the dlc), CAN FD flags (BRS 1, ESI 2), its time stamp
  as seconds and microseconds, and its channel as the interface name (the
  text of any channel but None, which has no name and a channel of its
  own);
- on_message_received raises only for a message no log can show
  (ValueError with the engine's reason) or after stop(); it never raises
  for the storage's faults, which would end a python-can Notifier's
  thread. The engine survives them (a new file, tries again, names what
  it gives up), and its messages are logged to the "buslog.writer" logger;
- flush() and stop() raise WriteError naming the frames lost since the
  last report and why.

By default (group commit) on_message_received queues the message and
returns; a thread of the engine writes what is queued, several lines a
sync, and flush() returns once everything taken before it is on the
device. With write_through=True the message is on the device (or lost, and
said) when on_message_received returns.
"""

import atexit
import ctypes
import logging
import math
import os
import struct
import threading
import time
import weakref

from can.io.generic import MessageWriter

from . import engine
from .engine import BRS, ERROR, ESI, EXTENDED, FD, PACK, REMOTE, SENT, Counts, LostFrames
from .module import ModuleLoadError, WriteError, find_module

__all__ = ["BuslogWriter", "LostFrames"]

log = logging.getLogger("buslog.writer")

# The engine's notes (a time jump, writing that works again, a run's file
# names) are worth seeing as much as its warnings: both show by default.
_LEVELS = {1: logging.WARNING, 2: logging.WARNING, 3: logging.ERROR}
# The engine's refusal of an existing file names the host's option; here
# it names the keyword.
_EXISTS = " exists; give --overwrite to replace it, or choose another name"
_EXISTS_HERE = " exists; give overwrite=True (can.logger: --overwrite=True) to replace it, or choose another name"
# How often on_message_received hands the engine's messages on.
_RELAY_SECONDS = 0.2


def _flag(value, name):
    """A yes/no keyword, also as can.logger's --name=value hands it over
    (a string, or 0 and 1 as integers)."""
    if isinstance(value, bool):
        return value
    if isinstance(value, int) and value in (0, 1):
        return bool(value)
    text = value.strip().lower() if isinstance(value, str) else None
    if text in ("true", "1", "yes", "on"):
        return True
    if text in ("false", "0", "no", "off"):
        return False
    raise ValueError(f"{name} must be true or false, not {value!r}")


def _whole(value, name, least=0):
    """A whole number keyword (also as text); None is 0."""
    if value is None:
        return 0
    try:
        number = int(value)
    except (TypeError, ValueError):
        number = None
    if number is None or number < least or number != float(value):
        raise ValueError(f"{name} must be a whole number, {least} or more, not {value!r}")
    return number


class BuslogWriter(MessageWriter):
    """Logs CAN messages into `file` through buslog's logging engine.

    :param file: path of the log. An existing file is not replaced unless
        `overwrite` is True (python-can's own writers replace it; this one
        refuses: FileExistsError), and never one that a writer of this
        process has open. After a fault
        that the file cannot survive (a file-size limit, a log deleted) the
        engine goes on in run-002.buslog, run-003.buslog, ...
    :param append: refused: a log always starts afresh.
    :param buslog_module: path of libbuslog.so / buslog.dll; else the
        environment variable BUSLOG_MODULE, else the installed module. The
        engine library is looked for beside it.
    :param share_read: let other programs read the log while it is open
        (Windows; POSIX readers are never locked out).
    :param write_through: False (the default): group commit, the message is
        queued and written by the engine's thread, several lines a sync.
        True: on the device when on_message_received returns.
    :param markers: write the marker lines (start time, writer, channel
        names); False leaves them out (one time base a file).
    :param max_queue: group commit: when this many messages wait to be
        written, on_message_received waits for room (while the storage fails,
        the oldest is given up instead).
    :param rotate_size: a new file once one has this size ("10M", "500k" or
        bytes); files are then run-001.buslog, run-002.buslog, ...
    :param rotate_seconds: a new file once a file spans this many seconds.
    :param max_files, max_total: with rotation, keep at most this many files
        or this many bytes ("1G") of this writer's, removing the oldest.
    :param overwrite: False (the default): an existing file of the log's
        name is kept and the writer refuses, FileExistsError. True replaces
        it (can.logger: --overwrite=True).
    :param time_base_per_file: one time base a file, for tools that read the
        time column alone (times then keep fewer digits as a file runs).
    :param log_filter: log only the frames these filters keep, in candump's
        syntax: "123:7FF,400~7F0,#1FFFFFFF,j", "can0,123:7FF;can1,0~0" (sets
        of interfaces separated by blanks or ";"). Frames left out get no
        frame number. (can.logger's own --filter filters at the bus.)
    :param trigger: log only the windows around the frames that fire these
        items: "7E0", "7E0#0210/FFF0" (data under a mask),
        "3E9#16|16@1+*0.01>100" (a signal, as a DBC file writes it, passing
        a threshold).
    :param start_trigger, stop_trigger: log from a frame that fires the
        start trigger until `post` seconds after one that fires the stop
        trigger.
    :param pre, post: seconds of a window before and after its trigger; the
        frames before wait in memory until it comes (not durable until then).
    :param pre_buffer: that memory ("64M" or bytes); by default 300,000
        bytes a second of `pre`. A full one gives up its oldest frames, a
        loss (a WriteError) when a window reaches them. docs/logger.md has
        the syntax and what is durable when.

    Every keyword also takes the text that can.logger's --name=value gives
    (--log-filter=..., --trigger=..., --pre=10; an 8-digit identifier that
    is all digits loses its leading zeros there: write 00000123:1FFFFFFF).
    """

    def __init__(self, file, append=False, buslog_module=None, share_read=True, write_through=False, markers=True,
                 max_queue=100000, rotate_size=None, rotate_seconds=None, max_files=None, max_total=None,
                 overwrite=False, time_base_per_file=False, log_filter=None, trigger=None, start_trigger=None,
                 stop_trigger=None, pre=0, post=0, pre_buffer=None, *args, **kwargs):
        if append is not False and _flag(append, "append"):
            raise ValueError(".buslog logs cannot be appended to: a log always starts afresh (leave out append / "
                             "--append, or log to a new file name)")
        if file is None or hasattr(file, "write") or hasattr(file, "read"):
            raise TypeError(".buslog writer needs a file path, not a file object (the buslog module opens the "
                            "file itself; compressed .buslog.gz is not supported)")
        super().__init__(None)
        self._handle = None
        self._stopped = True
        self.path = os.path.abspath(os.fsdecode(os.fspath(file)))
        if os.path.isdir(self.path):
            raise IsADirectoryError(f"cannot log to {self.path!r}: it is a folder")
        self.write_through = _flag(write_through, "write_through")
        self.markers = _flag(markers, "markers")
        self.max_queue = _whole(max_queue, "max_queue", 1)
        module = find_module(buslog_module)
        self._lib = engine.load_engine(module)
        options = engine.Options()
        self._lib.BuslogWriterDefaults(ctypes.byref(options))
        options.module = os.fsencode(module)
        options.output = os.fsencode(self.path)
        options.writer = b"buslog-python " + _version().encode("ascii")
        options.mode = engine.WRITE_THROUGH if self.write_through else engine.QUEUED
        options.markers = self.markers
        options.timeBase = engine.TIME_PER_FILE if _flag(time_base_per_file, "time_base_per_file") else 0
        options.overwrite = _flag(overwrite, "overwrite")
        options.share = _flag(share_read, "share_read")
        options.queueFrames = self.max_queue
        options.rotateBytes = self._size(rotate_size, "rotate_size")
        options.maxTotal = self._size(max_total, "max_total")
        options.maxFiles = _whole(max_files, "max_files")
        try:
            options.rotateSeconds = float(rotate_seconds or 0)
        except ValueError:
            raise ValueError(f"rotate_seconds must be a number of seconds, not {rotate_seconds!r}") from None
        self._select(options, (log_filter, trigger, start_trigger, stop_trigger), pre, post, pre_buffer)
        self._relay_lock = threading.Lock()
        self._text = ctypes.create_string_buffer(4608)
        self._next_relay = 0.0
        self._register()
        try:
            self._open(options)
            self._register(opened=True)
        except BaseException:
            self._unregister()
            raise
        self._stopped = False
        self._add = self._lib.BuslogWriterAdd
        self._adding = self._handle  # None once stopped: Add then refuses
        self._busy = []
        self._local = threading.local()
        self._names = {}  # channel -> (address, length) of its interface name
        self._kept = []   # the names' bytes, which the engine reads at each Add
        self.files = []
        _live_writers.add(self)

    def _select(self, options, texts, pre, post, pre_buffer):
        """The filter, the triggers and their windows into `options`: the
        engine reads and checks them when it opens."""
        for field, text in zip(("filter", "trigger", "startTrigger", "stopTrigger"), texts):
            # can.logger hands a bare number over as an int (--trigger=100).
            setattr(options, field, None if text is None else str(text).encode())
        for field, value, name in (("preSeconds", pre, "pre"), ("postSeconds", post, "post")):
            try:
                setattr(options, field, float(value or 0))
            except ValueError:
                raise ValueError(f"{name} must be a number of seconds, not {value!r}") from None
        options.preBytes = self._size(pre_buffer, "pre_buffer")

    def _size(self, value, name):
        """A size keyword: bytes as a number, or text as users write it."""
        if value is None or isinstance(value, (int, float)) and not isinstance(value, bool):
            return _whole(value, name)
        size, why = ctypes.c_uint64(), ctypes.create_string_buffer(256)
        if self._lib.BuslogWriterParseSize(str(value).encode(), ctypes.byref(size), why, len(why)) != engine.OK:
            raise ValueError(f"{name}: {why.value.decode()}")
        return size.value

    def _open(self, options):
        handle, error = ctypes.c_void_p(), ctypes.create_string_buffer(1024)
        result = self._lib.BuslogWriterOpen(ctypes.byref(options), ctypes.byref(handle), error, len(error))
        text = error.value.decode("utf-8", "replace")
        if result == engine.BAD_ARGUMENT:
            raise ValueError(f"cannot log to {self.path!r}: {text}")
        if result == engine.NO_MODULE:
            raise ModuleLoadError(f"the buslog module could not be loaded: {text}")
        if result == engine.NO_MEMORY:
            raise MemoryError(text)
        if result != engine.OK and text.endswith(_EXISTS):
            raise FileExistsError(text[:-len(_EXISTS)] + _EXISTS_HERE)
        if result != engine.OK:
            raise OSError(text)
        self._handle = handle
        self._relay()

    # -- the process's open logs: a writer never replaces another's ----------

    def _register(self, opened=False):
        """Notes the log as open in this process (once more when `opened`:
        by the identity of the file now there)."""
        real = os.path.realpath(self.path)
        try:
            status = os.stat(real)
            keys = {real, (status.st_dev, status.st_ino)}
        except OSError:
            keys = {real}
        with engine.libraries_lock:
            for key in keys:
                if key in _open_logs and not opened:
                    raise ValueError(f"cannot log to {self.path!r}: a .buslog writer of this process has it open "
                                     f"(as {_open_logs[key]!r}); stop that writer first")
            for key in keys:
                _open_logs[key] = self.path
        self._keys = keys | getattr(self, "_keys", set())

    def _unregister(self):
        with engine.libraries_lock:
            for key in self._keys:
                _open_logs.pop(key, None)
            self._keys = set()

    # -- taking messages ------------------------------------------------------

    def on_message_received(self, msg):
        """Takes a message: numbers it and hands it to the engine. Raises
        ValueError, logging nothing, for a message that the log cannot show
        (the engine's reason) and after stop(); never for the storage."""
        try:
            frame, pointer, data_at, busy = self._local.frame
        except AttributeError:
            frame, pointer, data_at, busy = self._thread_frame()
        channel = msg.channel
        try:
            name_at, name_length = self._names[channel]
        except (KeyError, TypeError):
            name_at, name_length = self._name_of(channel)
        data = msg.data
        try:
            stamp = round(msg.timestamp * 1000000.0)
            if msg.is_error_frame:
                flags = ERROR
            elif msg.is_remote_frame:
                flags = REMOTE
            elif msg.is_fd:
                flags = FD | (BRS if msg.bitrate_switch else 0) | (ESI if msg.error_state_indicator else 0)
            else:
                flags = 0
            if msg.is_extended_id:
                flags |= EXTENDED
            if not msg.is_rx:
                flags |= SENT
            PACK(frame, 0, stamp // 1000000, stamp % 1000000, msg.arbitration_id, flags, msg.dlc, len(data),
                 data_at, name_at, name_length, data)
        except (OverflowError, ValueError, TypeError, struct.error) as error:
            raise _unfit(msg, error) from None
        busy[0] = 1
        try:
            result = self._add(self._adding, pointer)
        finally:
            busy[0] = 0
        if result:
            self._not_taken(result, frame)
        if time.monotonic() >= self._next_relay:
            self._relay()

    def _thread_frame(self):
        """This thread's frame (a buffer of its own, as Add may be called
        from several threads at once), and its flag that says it is in Add."""
        frame = ctypes.create_string_buffer(engine.DATA_AT + 64)
        address = ctypes.addressof(frame)
        self._local.frame = frame, ctypes.c_void_p(address), address + engine.DATA_AT, [0]
        with self._relay_lock:
            self._busy.append(self._local.frame[3])
        return self._local.frame

    def _name_of(self, channel):
        """The interface name of a channel: none for None, else its text."""
        text = b"" if channel is None else str(channel).encode("utf-8", "backslashreplace")
        named = (ctypes.cast(ctypes.c_char_p(text), ctypes.c_void_p).value or 0, len(text))
        self._kept.append(text)
        try:
            if len(self._names) < 4096:
                self._names[channel] = named
        except TypeError:  # a channel that is no dict key is named each time
            if len(self._kept) > 4096:
                del self._kept[:-1]
        return named

    def _not_taken(self, result, frame):
        if self._stopped or result == engine.CLOSED:
            raise ValueError(f"the .buslog writer of {self.path!r} was stopped")
        if result == engine.BAD_ARGUMENT:
            why = ctypes.create_string_buffer(256)
            self._lib.BuslogWriterCheckFrame(frame, why, len(why))
            raise ValueError(f"cannot log this message to {self.path!r}: {why.value.decode()}")
        if result == engine.NO_MEMORY:
            raise MemoryError(f"the .buslog writer of {self.path!r} is out of memory")
        self._relay()  # GAVE_UP: said now, reported by flush() and stop()

    def _relay(self):
        """Hands the engine's messages on to the "buslog.writer" logger."""
        self._next_relay = time.monotonic() + _RELAY_SECONDS
        with self._relay_lock:
            while True:
                level = self._lib.BuslogWriterNextMessage(self._handle, self._text, len(self._text))
                if not level:
                    return
                log.log(_LEVELS.get(level, logging.WARNING), "%s", self._text.value.decode("utf-8", "replace"))

    # -- reports ----------------------------------------------------------------

    def _losses(self, result, report):
        """WriteError naming what `report` says was lost, or None."""
        self._relay()
        if result != engine.LOST:
            return None
        ranges, loss = [], engine.Loss()
        for index in range(report.firstLoss, report.firstLoss + report.lossCount):
            if self._lib.BuslogWriterGetLoss(self._handle, index, ctypes.byref(loss)) == engine.OK:
                ranges.append((loss.firstFrame, loss.lastFrame, loss.reason.decode("utf-8", "replace")))
        error = WriteError(report.text.decode("utf-8", "replace"))
        error.errno = report.error or None
        error.strerror = os.strerror(report.error) if report.error else None
        error.ranges = ranges
        error.frames = LostFrames(ranges)
        return error

    def counts(self):
        """What the writer did so far, as the engine counts it (Counts)."""
        if self._handle is None:
            return self._final_counts
        counts = Counts()
        self._lib.BuslogWriterGetCounts(self._handle, ctypes.byref(counts))
        return counts

    def file_size(self):
        """The size of the log file on the device (0 once it is gone)."""
        try:
            return os.path.getsize(self.path)
        except OSError:
            return 0

    def flush(self):
        """Returns when every message taken before the call is on the
        device, or lost: then raises WriteError naming the frames lost since
        the last report (`frames`, `ranges` with their reasons, `errno`)."""
        if self._stopped:
            return
        report = engine.Report()
        error = self._losses(self._lib.BuslogWriterFlush(self._handle, ctypes.byref(report)), report)
        if error is not None:
            raise error

    def stop(self):
        """Logs every message taken and closes the log (a file that got no
        line is removed). Raises WriteError as flush() does. `files` then
        lists the files the writer left."""
        with self._relay_lock:
            if self._stopped:
                return
            self._stopped = True
        _live_writers.discard(self)
        self._adding = None
        report = engine.Report()
        result = self._lib.BuslogWriterClose(self._handle, ctypes.byref(report))
        self._unregister()
        self._final_counts, entry = self.counts(), engine.File()
        for index in range(self._final_counts.files):
            if self._lib.BuslogWriterGetFile(self._handle, index, ctypes.byref(entry)) == engine.OK and entry.fate == 0:
                self.files.append(os.fsdecode(entry.path))
        error = self._losses(result, report)
        # Freed (its module unloaded) once no thread is inside Add: a thread
        # that comes later finds the writer stopped.
        deadline = time.monotonic() + 10
        while any(busy[0] for busy in self._busy) and time.monotonic() < deadline:
            time.sleep(0.001)
        if not any(busy[0] for busy in self._busy):
            self._free()
        if error is not None:
            raise error

    def _free(self):
        handle, self._handle = self._handle, None
        if handle is not None:
            self._lib.BuslogWriterFree(handle)

    def __del__(self):
        # A writer never stopped: its log is closed (what it lost unsaid).
        if getattr(self, "_handle", None) is not None:
            self._stopped = True
            self._unregister()
            self._free()


def _unfit(msg, error):
    """ValueError for a message whose fields are no numbers a frame holds."""
    stamp = msg.timestamp
    if not isinstance(stamp, (int, float)) or not math.isfinite(stamp):
        return ValueError(f"time stamp {stamp!r} is not a finite number of seconds")
    if stamp < 0:
        return ValueError(f"time stamp {stamp!r} is before 1970-01-01, the earliest time a log takes")
    for name in ("arbitration_id", "dlc"):
        value = getattr(msg, name)
        if not isinstance(value, int) or not 0 <= value <= (0xFFFFFFFF if name == "arbitration_id" else 0xFF):
            return ValueError(f"{name} {value!r} is no {'CAN identifier' if name == 'arbitration_id' else 'length code'}")
    return ValueError(f"cannot log this message: {error}")


# Logs open in a writer of this process: real path, and (device, inode).
_open_logs = {}
# Writers not yet stopped: stopped at exit, so that a program that forgets
# stop() still gets its queued messages logged.
_live_writers = weakref.WeakSet()


@atexit.register
def _stop_at_exit():
    for writer in list(_live_writers):
        try:
            writer.stop()
        except WriteError as error:
            log.error("%s", error)


def _version():
    from . import __version__
    return __version__
