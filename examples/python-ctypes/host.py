#!/usr/bin/python3
"""A host of buslog in Python with ctypes: the C host of examples/c-host,
line for line. Loads the module, logs one record of every kind, closes the
log and prints where it is.

    python3 host.py MODULE [LOG]

MODULE is libbuslog.so (or buslog.dll under a Windows Python); LOG is the
log's path relative to the current directory (default python-host.buslog).
The module opens logs by a name relative to its own folder, so the host
hands it the way from there to LOG ("../../home/me/python-host.buslog").
"""
import ctypes
import os
import struct
import sys

KIND_OUT, KIND_IN, KIND_PORT, KIND_ENV, KIND_MARKER = 0x3030, 0x3031, 0x3033, 0x3131, 0xFFFB
BUS_PORT_IN, BUS_CAN, BUS_LIN, BUS_CXPI, BUS_PORT_OUT = 0, 4, 12, 40, 0x83
CAN_EXTENDED = 1


# Record builders: the bytes buslog.h's builders make.
def can_record(flags, identifier, length_code, data):
    top = ((flags & 1) << 2) | (flags & 2) | ((flags >> 2) & 1)  # bits 7..5 of byte 0
    if flags & CAN_EXTENDED:
        lead = struct.pack(">IB", (top << 29) | identifier, length_code)
    else:
        lead = struct.pack(">HB", (top << 13) | identifier, length_code)
    return lead + bytes(data)


def lin_record(byte0, byte1, byte2, data):
    return bytes([byte0, byte1, byte2]) + bytes(data)


def cxpi_record(value, parity, frame_id, dlc, nm, ct, data):
    return bytes([value, (parity << 7) | frame_id, (dlc << 4) | (nm << 2) | ct]) + bytes(data)


def port_record(pairs):
    return bytes([len(pairs)]) + b"".join(bytes(pair) for pair in pairs)


def env_record(name, value):
    return name + b"\0" + struct.pack(">H", len(value)) + value


def marker_record(text):
    return text + b"\0"


class Module:
    """The nine exports, with the result cells read at their own widths."""

    def __init__(self, path):
        self.lib = ctypes.CDLL(path)
        block = [ctypes.c_uint32, ctypes.c_void_p, ctypes.POINTER(ctypes.c_int32)]
        for name in ("Close", "PutString", "PutFrameId", "PutTimeStamp", "PutError"):
            getattr(self.lib, name).argtypes = block
        for name in ("Open", "ShareMode", "Write"):
            getattr(self.lib, name).argtypes = block + [ctypes.POINTER(ctypes.c_void_p)]
        self.lib.PutFrame.argtypes = [ctypes.c_uint32, ctypes.c_uint32, ctypes.c_int32, ctypes.c_int32,
                                      ctypes.c_uint32, ctypes.c_char_p, ctypes.POINTER(ctypes.c_int32)]
        self.count = ctypes.c_int32()
        self.cell = ctypes.c_void_p()

    def call(self, name, payload=b""):
        getattr(self.lib, name)(len(payload), payload, ctypes.byref(self.count))

    def values(self, name, *values):
        payload = struct.pack("<%dI" % len(values), *values)
        getattr(self.lib, name)(len(values), payload, ctypes.byref(self.count))

    def with_result(self, name, payload=b""):
        getattr(self.lib, name)(len(payload), payload, ctypes.byref(self.count), ctypes.byref(self.cell))
        return ctypes.c_uint8.from_address(self.cell.value).value  # Open and Write: 1 byte

    def line(self, number, seconds, micros, kind, bus, channel, record):
        self.values("PutFrameId", number)
        self.values("PutTimeStamp", seconds, micros)
        self.lib.PutFrame(kind, bus, channel, 0, len(record), record, ctypes.byref(self.count))
        return self.with_result("Write")


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: host.py MODULE [LOG]   (MODULE: the path of libbuslog.so or buslog.dll)")
    module_path = sys.argv[1]
    log_path = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else "python-host.buslog")
    module = Module(module_path)
    # From the module's real folder: the system takes its ".." steps there.
    log_name = os.path.relpath(log_path, os.path.dirname(os.path.realpath(module_path)))
    result = module.with_result("Open", os.fsencode(log_name))
    if result != 0:
        sys.exit("python-host: cannot open %s: Open result %d" % (log_path, result))
    data = bytes([0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88])
    lines = [
        (0, 0, KIND_MARKER, 0, 0, marker_record(b"Start of test")),
        (0, 1000, KIND_IN, BUS_CAN, 0, can_record(0, 0x123, 2, data[:2])),
        (0, 2000, KIND_OUT, BUS_CAN, 1, can_record(CAN_EXTENDED, 0x18DAF110, 8, data)),
        (0, 3000, KIND_IN, BUS_LIN, 0, lin_record(0x0A, 0x3C, 0x02, data[:2])),
        (0, 4000, KIND_OUT, BUS_CXPI, 1, cxpi_record(3, 1, 0x45, 2, 1, 3, data[:2])),
        (0, 5000, KIND_PORT, BUS_PORT_IN, 0, port_record([(0x05, 0x03)])),
        (0, 6000, KIND_PORT, BUS_PORT_OUT, 0, port_record([(0x05, 0x03), (0x80, 0x01)])),
        (0, 7000, KIND_ENV, 0, 0, env_record(b"EngineSpeed", b"1500")),
    ]
    failures = 0
    for number, line in enumerate(lines, 1):
        failures += module.line(number, *line)
    # An error code and free text need no record.
    module.values("PutFrameId", len(lines) + 1)
    module.values("PutTimeStamp", 1, 0)
    module.values("PutError", 0x1F)
    module.call("PutString", b",operator: stopped")
    failures += module.with_result("Write")
    module.call("Close")
    print("log: %s" % log_path)
    if failures:
        sys.exit("python-host: %d lines were not written" % failures)


if __name__ == "__main__":
    main()
