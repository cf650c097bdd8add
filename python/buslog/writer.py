"""python-can writer for .buslog: every message becomes one line written
through the module, on the device when on_message_received returns.

The line is the one `buslog-host replay` writes for the same frame:

    frame number  from 1
    time stamp    since the first message, in whole microseconds (a message
                  earlier than the first is stamped +0.000000)
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
"""

import ctypes
import os
import shutil
import tempfile
import threading

from can.io.generic import MessageWriter

from .module import BUS_CAN, KIND_IN, KIND_OUT, MAX_PATH_BYTES, Module, ModuleLoadError, OpenError, WriteError, \
    find_module

__all__ = ["BuslogWriter"]

# CAN FD data lengths by length code.
FD_LENGTHS = (0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64)
# The length code of every data length up to 64: the smallest FD length that
# holds it.
_FD_CODE_FOR = [next(code for code, size in enumerate(FD_LENGTHS) if size >= n) for n in range(65)]
_FD_SUFFIX = [b",FD,%X" % flags for flags in range(4)]
_CHANNEL_MAX = 0x7FFFFFFE  # channel + 1 must fit the module's 32-bit channel

# Loaded modules that writers share, by path, and which of them a writer
# holds right now. A module keeps one log at a time: a writer that finds its
# module held loads a private copy.
_shared_modules = {}
_held = set()
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


class BuslogWriter(MessageWriter):
    """Logs CAN messages through the buslog module into `file`, one durable
    line per message.

    :param file: path of the log; an existing file is replaced.
    :param append: refused: the module always starts a log afresh.
    :param buslog_module: path of libbuslog.so / buslog.dll; else the
        environment variable BUSLOG_MODULE, else the installed module.
    :param share_read: let other programs read the log while it is open
        (Windows; POSIX readers are never locked out).
    """

    def __init__(self, file, append=False, buslog_module=None, share_read=True, *args, **kwargs):
        if append:
            raise ValueError(".buslog logs cannot be appended to: the buslog module always starts a new file "
                             "(leave out append / --append, or log to a new file name)")
        if file is None or hasattr(file, "write") or hasattr(file, "read"):
            raise TypeError(".buslog writer needs a file path, not a file object (the buslog module opens the "
                            "file itself; compressed .buslog.gz is not supported)")
        super().__init__(None)
        self._module = None
        self._private = False
        self._cleanup = None
        self.path = os.path.abspath(os.fsdecode(os.fspath(file)))
        directory, name = os.path.split(self.path)
        if not name:
            raise ValueError(f"log path {self.path!r} names no file")
        if not os.path.isdir(directory):
            raise FileNotFoundError(f"cannot create log {self.path!r}: no directory {directory!r}")
        # Reached from the module's own directory, which the module knows
        # with its links resolved.
        self._log_path = os.path.join(os.path.realpath(directory), name)
        self._open(buslog_module, share_read)

        module = self._module
        self._lock = module.lock
        self._frame_id = module._put_frame_id
        self._time_stamp = module._put_time_stamp
        self._frame = module._put_frame
        self._string = module._put_string
        self._error = module._put_error
        self._write = module._write
        self._id_value = (ctypes.c_uint32 * 1)()
        self._time_values = (ctypes.c_uint32 * 2)()
        self._error_value = (ctypes.c_uint32 * 1)()
        self._count = ctypes.c_int32()
        self._count_ref = ctypes.byref(self._count)
        self._cell_pointer = ctypes.c_void_p()
        self._cell_pointer_ref = ctypes.byref(self._cell_pointer)
        self._cell_address = None
        self._cell = None
        self._frame_number = 0
        self._first_micros = None
        self._channels = {}
        self._named_channels = 0
        self._open_log = True
        self._broken = None

    # -- opening -----------------------------------------------------------

    def _open(self, buslog_module, share_read):
        module = _shared_module(buslog_module)
        if module is not None:
            name = _relative_name(module.directory, self._log_path)
            if _fits(module.directory, name):
                self._open_with(module, name, share_read, private=False)
                return
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
            except ModuleLoadError as error:
                tried.append(f"{place}: {error}")
            finally:
                # The loaded copy stays mapped; its file is no longer needed.
                shutil.rmtree(folder, ignore_errors=True)
        raise OSError(f"cannot log to {self.path!r}: {reason}, and no private copy of the module could open it "
                      f"(the module's directory and the log's name must stay within {MAX_PATH_BYTES} bytes): "
                      + "; ".join(tried))

    # -- writing -----------------------------------------------------------

    def _channel_of(self, channel):
        """The module channel of a message's channel, numbering a new name."""
        try:
            hash(channel)
        except TypeError:  # a channel that cannot be a key is taken as its text
            channel = repr(channel)
            if channel in self._channels:
                return self._channels[channel]
        if type(channel) is int and 0 <= channel <= _CHANNEL_MAX:
            number = channel
        else:
            number = self._named_channels
            self._named_channels += 1
        self._channels[channel] = number
        return number

    def on_message_received(self, msg):
        micros = round(msg.timestamp * 1000000.0)
        channel = msg.channel
        identifier = msg.arbitration_id
        data = msg.data
        size = len(data)
        status = 0
        suffix = None
        if size > 64:
            raise ValueError(f"a CAN frame carries at most 64 data bytes, not {size}")
        if msg.is_error_frame:
            identifier &= 0x1FFFFFFF
            extended = True
            status = 1
            nibble = size if size <= 8 else 8
            if size == 8 and 8 < msg.dlc <= 15:
                nibble = msg.dlc
        elif msg.is_remote_frame:
            extended = msg.is_extended_id
            nibble = msg.dlc & 0x0F
            data = b""
            suffix = b",RTR"
        elif msg.is_fd:
            extended = msg.is_extended_id
            nibble = _FD_CODE_FOR[size]
            if FD_LENGTHS[nibble] != size:
                data = bytes(data) + bytes(FD_LENGTHS[nibble] - size)
            suffix = _FD_SUFFIX[(1 if msg.bitrate_switch else 0) | (2 if msg.error_state_indicator else 0)]
        else:
            extended = msg.is_extended_id
            nibble = size if size <= 8 else 8
            if size == 8 and 8 < msg.dlc <= 15:
                nibble = msg.dlc
        if extended:
            if not 0 <= identifier <= 0x1FFFFFFF:
                raise ValueError(f"extended identifier {identifier:#x} does not fit in 29 bits")
            record = bytes((0x80 | identifier >> 24, identifier >> 16 & 0xFF, identifier >> 8 & 0xFF,
                            identifier & 0xFF, nibble)) + data
        else:
            if not 0 <= identifier <= 0x7FF:
                raise ValueError(f"standard identifier {identifier:#x} does not fit in 11 bits")
            record = bytes((identifier >> 8, identifier & 0xFF, nibble)) + data

        kind = KIND_IN if msg.is_rx else KIND_OUT
        count = self._count_ref
        with self._lock:
            if not self._open_log:
                raise ValueError(f"the .buslog writer of {self.path!r} was stopped")
            if self._broken is not None:
                raise self._broken
            first = self._first_micros
            if first is None:
                first = self._first_micros = micros
            since = micros - first
            seconds, fraction = divmod(since, 1000000) if since > 0 else (0, 0)
            if seconds > 0xFFFFFFFF:
                seconds = 0xFFFFFFFF
            try:
                number = self._channels[channel]
            except (KeyError, TypeError):
                number = self._channel_of(channel)
            # An exception between the first field and Write (a
            # KeyboardInterrupt) would leave a part line in the module, in
            # front of the next message's fields: the writer then refuses.
            self._broken = WriteError(f"an earlier line to {self.path!r} was interrupted; stop this writer")
            self._frame_number = number_id = (self._frame_number + 1) & 0xFFFFFFFF
            self._id_value[0] = number_id
            self._frame_id(1, self._id_value, count)
            values = self._time_values
            values[0] = seconds
            values[1] = fraction
            self._time_stamp(2, values, count)
            self._frame(kind, BUS_CAN, number, status, len(record), record, count)
            if suffix is not None:
                self._string(len(suffix), suffix, count)
            elif status:
                self._error_value[0] = identifier
                self._error(1, self._error_value, count)
            self._write(0, None, count, self._cell_pointer_ref)
            address = self._cell_pointer.value
            if address != self._cell_address:
                self._cell_address = address
                self._cell = ctypes.c_uint8.from_address(address)
            self._broken = None
            failed = self._cell.value
        if failed:
            raise WriteError(f"the buslog module could not write frame {number_id} to {self.path!r}")

    def file_size(self):
        """The log's size on disk."""
        return os.path.getsize(self.path)

    def stop(self):
        """Closes the log; every line written is already on the device."""
        module = self._module
        if module is None:
            return
        with module.lock:
            if not self._open_log:
                return
            self._open_log = False
            module.close()
        if self._private:
            module.unload()
        else:
            _release_shared(module)
