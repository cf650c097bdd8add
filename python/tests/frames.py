"""A candump trace with every frame form, and python-can messages of it."""

import can

# Standard, extended, empty, remote, CAN FD (with flags, short, long,
# empty), error frames, two interfaces, R and T marks, a second that
# carries over, a frame earlier than the first (by less than the 1 s that
# would begin a new time base). python-can 4.1.0 cannot read
# candump's "_X" length codes, so they are left out here.
TRACE = """\
(1436509052.249713) can0 123#DEADBEEF
(1436509052.250000) can0 12345678#0102030405060708 R
(1436509052.250100) can1 7FF# T
(1436509052.250200) can0 000#R
(1436509052.250300) can1 1FFFFFFF#R4 T
(1436509052.250400) can0 321##1001122334455667788990011
(1436509052.250500) can1 00000321##3""" + "AB" * 64 + """
(1436509052.250600) can0 123##0
(1436509052.250700) can0 456##2112233 T
(1436509052.250800) can0 20000080#0000000000000000
(1436509052.250900) can1 20000004#0004000000000000 T
(1436509053.000001) can0 001#11
(1436509052.100000) can1 002#2233 R
(1436509099.999999) can0 0FFFFFFF#AABBCCDDEEFF0011 T
"""


def read_trace(path):
    """The trace's messages as can.LogReader gives them, with one repair:
    python-can 4.1.0's candump reader keeps only the time stamp of an error
    frame (class, data, interface and mark are dropped), and reads an error
    frame without the bus-error bit as a data frame. Those lines are taken
    as SocketCAN delivers them: class as identifier, the data bytes."""
    with open(path) as file:
        lines = [line.split() for line in file if line.strip()]
    messages = list(can.LogReader(path))
    assert len(messages) == len(lines)
    for index, fields in enumerate(lines):
        identifier, data = fields[2].split("#", 1)
        if len(identifier) == 8 and int(identifier, 16) & 0x20000000:
            messages[index] = can.Message(
                timestamp=messages[index].timestamp,
                arbitration_id=int(identifier, 16) & 0x1FFFFFFF,
                is_extended_id=True,
                is_error_frame=True,
                data=bytes.fromhex(data),
                channel=fields[1],
                is_rx=not (len(fields) > 3 and fields[3] == "T"),
            )
    return messages


def forms(index, channel=None):
    """The index-th frame of a cycle through every form, its identifier
    and data telling the index."""
    low = index & 0xFF
    form = index % 7
    if form == 0:
        return can.Message(arbitration_id=index & 0x7FF, is_extended_id=False, data=bytes([low, index >> 8 & 0xFF]),
                           channel=channel)
    if form == 1:
        return can.Message(arbitration_id=index, is_extended_id=True, data=bytes(range(8)), channel=channel)
    if form == 2:
        return can.Message(arbitration_id=index & 0x7FF, is_extended_id=False, data=b"", channel=channel)
    if form == 3:
        return can.Message(arbitration_id=index, is_extended_id=True, is_remote_frame=True, dlc=index % 9,
                           channel=channel)
    if form == 4:
        return can.Message(arbitration_id=index & 0x7FF, is_extended_id=False, is_fd=True, bitrate_switch=True,
                           data=bytes([low]) * 64, channel=channel)
    if form == 5:
        return can.Message(arbitration_id=index, is_extended_id=True, is_fd=True, error_state_indicator=True,
                           data=bytes([low]) * 12, channel=channel)
    return can.Message(arbitration_id=index & 0x1FFFFFFF, is_extended_id=True, is_error_frame=True,
                       data=bytes([low]) * 8, channel=channel)
