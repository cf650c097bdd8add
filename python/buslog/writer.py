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
import struct
import tempfile
import threading

from can.io.generic import MessageWriter

from .module import BUS_CAN, KIND_IN, KIND_OUT, MAX_PATH_BYTES, Module, OpenError, WriteError, find_module

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


def _special_frame(msg, fd_code_for, fd_suffix):
    """Data, nibble, extended, suffix and status of an error, remote or
    CAN FD frame's record."""
    data = msg.data
    size = len(data)
    if size > 64:
        raise ValueError(f"a CAN frame carries at most 64 data bytes, not {size}")
    if msg.is_error_frame:
        nibble = size if size <= 8 else 8
        if size == 8 and 8 < msg.dlc <= 15:
            nibble = msg.dlc
        return data, nibble, True, None, 1
    if msg.is_remote_frame:
        return b"", msg.dlc & 0x0F, msg.is_extended_id, b",RTR", 0
    nibble = fd_code_for[size]
    if FD_LENGTHS[nibble] != size:
        data = bytes(data) + bytes(FD_LENGTHS[nibble] - size)
    flags = (1 if msg.bitrate_switch else 0) | (2 if msg.error_state_indicator else 0)
    return data, nibble, msg.is_extended_id, fd_suffix[flags], 0


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
        self.path = os.path.abspath(os.fsdecode(os.fspath(file)))
        directory, name = os.path.split(self.path)
        if not name:
            raise ValueError(f"log path {self.path!r} names no file")
        if not os.path.isdir(directory):
            raise FileNotFoundError(f"cannot create log {self.path!r}: no directory {directory!r}")
        # Reached from the module's own directory, which the module knows
        # with its links resolved.
        self._log_path = os.path.join(os.path.realpath(directory), name)
        self._channels = {}
        self._named_channels = 0
        self._open(buslog_module, share_read)

        self._stopped = False
        # The instance's own attribute is found before the method below.
        self.on_message_received = self._line_writer()

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

    # -- writing -----------------------------------------------------------

    def _line_writer(self):
        """The writer's on_message_received: a closure over everything a
        line needs, as a python-can writer's call is the hot path (local
        and closure variables are the cheapest names Python has)."""
        module = self._module
        acquire = module.lock.acquire
        release = module.lock.release
        # The field exports return at once and run with the GIL held;
        # Write, which waits for the device, lets other threads run.
        put_frame_id = module._fast.PutFrameId
        put_time_stamp = module._fast.PutTimeStamp
        put_frame = module._fast.PutFrame
        put_string = module._fast.PutString
        put_error = module._fast.PutError
        write = module._write
        # Argument values as the exports read them: 32-bit words, little-endian.
        pack_one = struct.Struct("<I").pack
        pack_two = struct.Struct("<II").pack
        zero_time = pack_two(0, 0)
        count = ctypes.byref(ctypes.c_int32())
        cell_pointer = ctypes.c_void_p()
        cell_pointer_ref = ctypes.byref(cell_pointer)
        c_uint8_at = ctypes.c_uint8.from_address
        path = self.path
        channels = self._channels
        channel_of = self._channel_of
        # Standard record headers (identifier and nibble) already built.
        headers = {}
        fd_code_for = _FD_CODE_FOR
        kind_in, kind_out, bus_can = KIND_IN, KIND_OUT, BUS_CAN
        fd_suffix = _FD_SUFFIX
        frame_number = 0
        first_micros = None
        cell = None
        # True from a line's first field to its Write: an exception in
        # between (a KeyboardInterrupt) leaves a part line in the module.
        interrupted = False

        def on_message_received(msg):
            nonlocal frame_number, first_micros, cell, interrupted
            micros = round(msg.timestamp * 1000000.0)
            channel = msg.channel
            identifier = msg.arbitration_id
            data = msg.data
            suffix = None
            status = 0
            if not (msg.is_error_frame or msg.is_remote_frame or msg.is_fd):
                size = len(data)
                if size <= 8:
                    nibble = size
                    if size == 8 and msg.dlc > 8:
                        nibble = msg.dlc if msg.dlc <= 15 else 8
                elif size <= 64:
                    nibble = 8
                else:
                    raise ValueError(f"a CAN frame carries at most 64 data bytes, not {size}")
                extended = msg.is_extended_id
            else:
                data, nibble, extended, suffix, status = _special_frame(msg, fd_code_for, fd_suffix)
            if extended:
                if status:  # an error frame's class
                    identifier &= 0x1FFFFFFF
                elif not 0 <= identifier <= 0x1FFFFFFF:
                    raise ValueError(f"extended identifier {identifier:#x} does not fit in 29 bits")
                record = bytes((0x80 | identifier >> 24, identifier >> 16 & 0xFF, identifier >> 8 & 0xFF,
                                identifier & 0xFF, nibble)) + data
            else:
                key = identifier << 4 | nibble
                header = headers.get(key)
                if header is None:
                    if not 0 <= identifier <= 0x7FF:
                        raise ValueError(f"standard identifier {identifier:#x} does not fit in 11 bits")
                    header = headers[key] = bytes((identifier >> 8, identifier & 0xFF, nibble))
                record = header + data
            kind = kind_in if msg.is_rx else kind_out

            acquire()
            try:
                if self._stopped:
                    raise ValueError(f"the .buslog writer of {path!r} was stopped")
                if interrupted:
                    raise WriteError(f"a line to {path!r} was interrupted before its end; stop this writer")
                if first_micros is None:
                    first_micros = micros
                since = micros - first_micros
                try:
                    number = channels[channel]
                except (KeyError, TypeError):
                    number = channel_of(channel)
                frame_number = (frame_number + 1) & 0xFFFFFFFF
                interrupted = True
                put_frame_id(1, pack_one(frame_number), count)
                if since > 0:
                    seconds = since // 1000000
                    put_time_stamp(2, pack_two(seconds if seconds <= 0xFFFFFFFF else 0xFFFFFFFF,
                                               since - seconds * 1000000), count)
                else:
                    put_time_stamp(2, zero_time, count)
                put_frame(kind, bus_can, number, status, len(record), record, count)
                if suffix is not None:
                    put_string(len(suffix), suffix, count)
                elif status:
                    put_error(1, pack_one(identifier), count)
                write(0, None, count, cell_pointer_ref)
                interrupted = False
                if cell is None:  # the Write result's cell stays where it is
                    cell = c_uint8_at(cell_pointer.value)
                if cell.value:
                    raise WriteError(f"the buslog module could not write frame {frame_number} to {path!r}")
            finally:
                release()

        return on_message_received

    def on_message_received(self, msg):
        """Writes the message's line: on the device when this returns.
        Raises WriteError when the module could not write it."""
        self.on_message_received(msg)  # the instance's line writer

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

    def file_size(self):
        """The log's size on disk."""
        return os.path.getsize(self.path)

    def stop(self):
        """Closes the log; every line written is already on the device."""
        module = self._module
        if module is None:
            return
        with module.lock:
            if self._stopped:
                return
            self._stopped = True
            module.close()
        if self._private:
            module.unload()
        else:
            _release_shared(module)
