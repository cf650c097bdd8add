"""The python-can writer for scripts/crash-test.sh: logs COUNT messages
(the same ones every run: frame forms, interfaces and times follow the
index) into LOG through buslog.BuslogWriter and prints "written N" once N
messages are known to be on the device:

  write-through  after every 100th on_message_received that returned
  group commit   after every 1000th message, once flush() returned

    python3 scripts/crash_python.py LOG COUNT write-through|group-commit

Needs python-can and the package on PYTHONPATH (python/), and the module in
BUSLOG_MODULE, the engine beside it.
"""

import os
import sys

import can

import buslog


def message(index):
    """The index-th message: standard, extended, CAN FD and remote frames on
    three interfaces, 100 µs apart."""
    form = index % 4
    data = (index & 0xFFFFFFFF).to_bytes(4, "big") * 2
    fields = {"timestamp": 1700000000 + index / 10000, "channel": ("can0", "can1", 2)[index % 3],
              "is_rx": index % 5 != 0}
    if form == 1:
        return can.Message(arbitration_id=index & 0x1FFFFFFF, data=data, **fields)
    if form == 2:
        return can.Message(arbitration_id=index & 0x7FF, is_extended_id=False, is_fd=True, bitrate_switch=True,
                           data=data * 2, **fields)
    if form == 3:
        return can.Message(arbitration_id=index & 0x7FF, is_extended_id=False, is_remote_frame=True, dlc=index % 9,
                           **fields)
    return can.Message(arbitration_id=index & 0x7FF, is_extended_id=False, data=data[:index % 9], **fields)


def main():
    log, count, mode = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    through = mode == "write-through"
    every = 100 if through else 1000
    writer = buslog.BuslogWriter(log, write_through=through)
    for index in range(count):
        writer.on_message_received(message(index))
        if (index + 1) % every == 0:
            if not through:
                writer.flush()
            os.write(2, b"written %d\n" % (index + 1))
    writer.stop()


if __name__ == "__main__":
    main()
