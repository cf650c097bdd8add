"""The buslog module (libbuslog.so / buslog.dll) loaded through ctypes.

`Module` loads one copy of the module and calls its nine exports, one call
at a time: the module keeps one log file and one pending line per loaded
copy and has no locks of its own, while python-can calls its listeners from
a notifier thread.
"""

import ctypes
import os
import sys
import sysconfig
import threading

__all__ = [
    "Module",
    "ModuleLoadError",
    "OpenError",
    "WriteError",
    "find_module",
    "find_library",
    "KIND_OUT",
    "KIND_IN",
    "BUS_CAN",
    "MAX_PATH_BYTES",
    "write_failure_reason",
]

# Kind and bus codes of frame records.
KIND_OUT = 0x3030
KIND_IN = 0x3031
BUS_CAN = 4

# The module's directory and the log's name together, in bytes.
MAX_PATH_BYTES = 259

ENV_VARIABLE = "BUSLOG_MODULE"

_OPEN_REASONS = {
    1: "the name is empty, or the module's directory and the name are longer than 259 bytes",
    2: "the file could not be created (missing directory, no permission, or a directory of that name)",
    3: "this copy of the module already has a log open",
}


class ModuleLoadError(OSError):
    """The module could not be found or loaded."""


class OpenError(OSError):
    """Open gave a result other than 0; `code` holds it."""

    def __init__(self, code, name):
        self.code = code
        self.name = name
        reason = _OPEN_REASONS.get(code, "unknown result")
        super().__init__(f"buslog module could not open log {name!r}: result {code}, {reason}")


class WriteError(OSError):
    """Write gave result 1: the line is not in the log. `errno` and
    `strerror` hold the system's reason where it gave one."""

    def __str__(self):
        return str(self.args[0]) if self.args else super().__str__()


# Write results other than 0, in words.
_WRITE_RESULTS = {1: "the module's Write gave result 1 (no log open, or the system refused the write)"}


def write_failure_reason(result, code):
    """(words, errno) for a failed Write: its result code and the errno the
    system left (0 when it left none)."""
    if code:
        return f"{os.strerror(code)} (errno {code})", code
    return _WRITE_RESULTS.get(result, f"the module's Write gave result {result}"), 0


def _library_file_names(name="buslog"):
    """The file names of the project's library `name` on this system."""
    if sys.platform == "win32":
        return [f"{name}.dll"]
    if sys.platform == "darwin":
        return [f"lib{name}.dylib", f"lib{name}.so"]
    return [f"lib{name}.so"]


def _installed_candidates(name="buslog"):
    """Where an installed library `name` (the module: "buslog") may lie,
    most specific first."""
    multiarch = sysconfig.get_config_var("MULTIARCH") or ""
    here = os.path.dirname(os.path.abspath(__file__))
    prefixes = []
    # A module installed beside this package's own prefix, e.g. everything
    # installed under /opt/buslog: the package in .../lib/python3.X/site-packages,
    # the module in .../lib.
    parts = here.split(os.sep)
    for marker in ("lib", "lib64"):
        if marker in parts:
            index = len(parts) - 1 - parts[::-1].index(marker)
            prefixes.append(os.sep.join(parts[:index]) or os.sep)
    prefixes += [sys.prefix, sys.base_prefix, "/usr/local", "/usr"]
    seen = set()
    candidates = []
    for prefix in prefixes:
        for libdir in ("lib", os.path.join("lib", multiarch) if multiarch else None, "lib64", "bin"):
            if libdir is None:
                continue
            for file_name in _library_file_names(name):
                path = os.path.join(prefix, libdir, file_name)
                if path not in seen:
                    seen.add(path)
                    candidates.append(path)
    return candidates


def find_module(path=None):
    """Returns the path of the module to load.

    Looks at `path` if given, else at the environment variable BUSLOG_MODULE,
    else at the installed locations. Raises ModuleLoadError naming every
    place it tried when none holds the module.
    """
    if path is not None:
        path = os.fspath(path)
        if os.path.isfile(path):
            return path
        raise ModuleLoadError(f"buslog module not found: {path!r} (given explicitly) is not a file")
    from_env = os.environ.get(ENV_VARIABLE)
    if from_env:
        if os.path.isfile(from_env):
            return from_env
        raise ModuleLoadError(f"buslog module not found: {ENV_VARIABLE}={from_env!r} is not a file")
    tried = _installed_candidates()
    for candidate in tried:
        if os.path.isfile(candidate):
            return candidate
    raise ModuleLoadError(
        "buslog module not found: no path given, " + ENV_VARIABLE + " not set, and none of these exists: "
        + ", ".join(tried)
    )


def find_library(name, module_path=None):
    """Returns the path of the project's library `name` ("buslog-reader":
    libbuslog-reader.so, buslog-reader.dll), found the way the module is
    found: beside the module that `module_path`, else BUSLOG_MODULE, names;
    else beside the installed module, or where an installed module may lie
    (the install puts them side by side). Raises ModuleLoadError naming
    where it looked."""
    names = _library_file_names(name)
    if module_path is not None or os.environ.get(ENV_VARIABLE):
        module = find_module(module_path)
        folder = os.path.dirname(os.path.abspath(module))
        for file_name in names:
            candidate = os.path.join(folder, file_name)
            if os.path.isfile(candidate):
                return candidate
        raise ModuleLoadError(f"{names[0]} not found beside the buslog module {module!r} "
                              f"(the install puts them in one folder)")
    tried = _installed_candidates(name)
    for candidate in tried:
        if os.path.isfile(candidate):
            return candidate
    raise ModuleLoadError(f"{names[0]} not found: no buslog module given, {ENV_VARIABLE} not set, and none of "
                          f"these exists: " + ", ".join(tried))


class Module:
    """One loaded copy of the module and its nine exports.

    Every method takes `lock`, so calls from several threads never overlap.
    A caller that builds a whole line holds `lock` itself around the calls
    (it is re-entrant) so that no other thread's fields land in its line.
    """

    def __init__(self, path=None):
        self.path = os.path.abspath(find_module(path))
        try:
            self._library = ctypes.CDLL(self.path, use_errno=True)
        except OSError as error:
            raise ModuleLoadError(f"buslog module {self.path!r} could not be loaded: {error}") from None
        missing = [name for name in self.EXPORTS if not hasattr(self._library, name)]
        if missing:
            raise ModuleLoadError(f"buslog module {self.path!r} lacks the exports {', '.join(missing)}")
        # The directory the module creates its logs in: its own, with links
        # resolved as the module resolves them.
        self.directory = os.path.dirname(os.path.realpath(self.path))
        self.lock = threading.RLock()
        self.loaded = True
        lib = self._library
        self._open = lib.Open
        self._close = lib.Close
        self._share_mode = lib.ShareMode
        self._put_frame_id = lib.PutFrameId
        self._put_time_stamp = lib.PutTimeStamp
        self._put_frame = lib.PutFrame
        self._put_error = lib.PutError
        self._put_string = lib.PutString
        self._write = lib.Write
        # The same exports called with the GIL held: cheaper per call, for
        # the field exports, which return at once. (Write and Open wait for
        # the system and go through the calls above, which release it.)
        self._fast = ctypes.PyDLL(self.path)
        for function in (self._open, self._close, self._share_mode, self._put_frame_id, self._put_time_stamp,
                         self._put_frame, self._put_error, self._put_string, self._write, self._fast.PutFrameId,
                         self._fast.PutTimeStamp, self._fast.PutFrame, self._fast.PutError, self._fast.PutString):
            function.restype = None
        self._result_count = ctypes.c_int32()
        self._result_pointer = ctypes.c_void_p()
        self._values = (ctypes.c_uint32 * 2)()

    EXPORTS = ("Open", "Close", "PutError", "PutFrame", "PutFrameId", "PutString", "PutTimeStamp", "ShareMode",
               "Write")

    def __repr__(self):
        return f"<buslog.Module {self.path!r}>"

    def _cell(self, ctype):
        """The result cell whose address the last call stored, read at its own width."""
        return ctype.from_address(self._result_pointer.value).value

    def _check_loaded(self):
        if not self.loaded:
            raise ValueError(f"buslog module {self.path!r} was unloaded")

    @staticmethod
    def _word(value, what):
        if not 0 <= value <= 0xFFFFFFFF:
            raise ValueError(f"{what} {value} does not fit in 32 bits")
        return value

    def fits(self, name):
        """True when the module accepts `name` (bytes) by length: its
        directory, a separator and the name within 259 bytes."""
        return 0 < len(os.fsencode(self.directory)) + 1 + len(name) <= MAX_PATH_BYTES

    def open(self, name):
        """Creates the log `name` (str or bytes) inside the module's
        directory, replacing a file of that name. Raises OpenError."""
        data = os.fsencode(name)
        with self.lock:
            self._check_loaded()
            self._open(len(data), data, ctypes.byref(self._result_count), ctypes.byref(self._result_pointer))
            code = self._cell(ctypes.c_uint8)
        if code != 0:
            raise OpenError(code, os.fsdecode(data))

    def close(self):
        with self.lock:
            self._check_loaded()
            self._close(0, None, ctypes.byref(self._result_count))

    def share_mode(self, share):
        """Chooses whether the next log may be read by others while open;
        returns the ShareMode result (1 until a choice was made, then 0)."""
        with self.lock:
            self._check_loaded()
            self._values[0] = 1 if share else 0
            self._share_mode(1, self._values, ctypes.byref(self._result_count), ctypes.byref(self._result_pointer))
            return self._cell(ctypes.c_uint32)

    def put_frame_id(self, number):
        with self.lock:
            self._check_loaded()
            self._values[0] = self._word(number, "frame number")
            self._put_frame_id(1, self._values, ctypes.byref(self._result_count))

    def put_time_stamp(self, seconds, micros):
        with self.lock:
            self._check_loaded()
            self._values[0] = self._word(seconds, "seconds")
            self._values[1] = self._word(micros, "fraction")
            self._put_time_stamp(2, self._values, ctypes.byref(self._result_count))

    def put_error(self, code):
        with self.lock:
            self._check_loaded()
            self._values[0] = self._word(code, "error code")
            self._put_error(1, self._values, ctypes.byref(self._result_count))

    def put_frame(self, kind, bus, channel, status, data=b""):
        """Adds a frame record; `data` is the record's bytes."""
        data = bytes(data)
        with self.lock:
            self._check_loaded()
            self._put_frame(ctypes.c_uint32(self._word(kind, "kind code")), ctypes.c_uint32(self._word(bus, "bus code")),
                            ctypes.c_int32(channel), ctypes.c_int32(status), ctypes.c_uint32(len(data)), data,
                            ctypes.byref(self._result_count))

    def put_string(self, text):
        data = text.encode("latin-1") if isinstance(text, str) else bytes(text)
        with self.lock:
            self._check_loaded()
            self._put_string(len(data), data, ctypes.byref(self._result_count))

    def write(self):
        """Ends the pending line and writes it. Raises WriteError when the
        module could not (no log open, or the system refused the write)."""
        with self.lock:
            self._check_loaded()
            ctypes.set_errno(0)
            self._write(0, None, ctypes.byref(self._result_count), ctypes.byref(self._result_pointer))
            code = ctypes.get_errno()
            failed = self._cell(ctypes.c_uint8)
        if failed:
            words, code = write_failure_reason(failed, code)
            error = WriteError(f"buslog module {self.path!r} could not write the line: {words}")
            error.errno = code or None
            error.strerror = os.strerror(code) if code else None
            raise error

    def unload(self):
        """Unloads this copy of the module (closing a log still open). Only
        for a copy no one else loaded: the process's other users of the same
        file would lose it too."""
        with self.lock:
            if not self.loaded:
                return
            self.loaded = False
            # Both handles, the CDLL's and the PyDLL's, hold the library.
            handles = (self._library._handle, self._fast._handle)
            self._library = self._fast = None
            import _ctypes
            for handle in handles:
                if sys.platform == "win32":
                    _ctypes.FreeLibrary(handle)
                else:
                    _ctypes.dlclose(handle)
