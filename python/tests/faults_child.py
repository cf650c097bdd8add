"""A child process for the storage-fault tests: the .buslog writer under a
fault that only a process of its own can have (a file-size limit, the
preloaded fault library) or that the test makes while it runs. Prints what
happened as JSON: the messages sent, the frames the WriteErrors named as
lost, their reasons and errno, where they were raised, the files left.

    faults_child.py notifier LOG WRITE_THROUGH COUNT [FILLER AT]
        python-can's virtual bus and a Notifier with can.Logger(LOG): COUNT
        messages 2 ms apart; FILLER (a file on a full disk) is removed
        after AT of them; stop() at the end
    faults_child.py size-limit LOG WRITE_THROUGH COUNT LIMIT
        COUNT messages straight into can.Logger(LOG) under a file-size
        limit of LIMIT bytes (SIGXFSZ ignored, as a logger must)
"""

import json
import os
import resource
import signal
import sys
import threading
import time
import uuid

import can

import buslog


def main():
    scenario, log, write_through, count = sys.argv[1], sys.argv[2], sys.argv[3] == "true", int(sys.argv[4])
    result = {"sent": 0, "lost": [], "reasons": [], "errno": [], "raised": []}
    if scenario == "size-limit":
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        limit = int(sys.argv[5])
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    writer = can.Logger(log, write_through=write_through)

    def note(error, where):
        result["lost"] += list(error.frames)
        result["reasons"] += sorted({reason for _, _, reason in error.ranges})
        result["errno"].append(error.errno)
        result["raised"].append(where)

    if scenario == "notifier":
        channel = f"faults-{uuid.uuid4()}"
        bus = can.Bus(interface="virtual", channel=channel)
        sender = can.Bus(interface="virtual", channel=channel)
        notifier = can.Notifier(bus, [writer])
        for index in range(count):
            if len(sys.argv) > 6 and index == int(sys.argv[6]):
                os.remove(sys.argv[5])
            sender.send(can.Message(arbitration_id=index & 0x7FF, is_extended_id=False, data=index.to_bytes(8, "big")))
            result["sent"] += 1
            time.sleep(0.002)
        deadline = time.monotonic() + 10
        while writer.counts().framesAdded < count and time.monotonic() < deadline:
            time.sleep(0.01)
        result["notifier alive"] = all(thread.is_alive() for thread in notifier._readers
                                       if isinstance(thread, threading.Thread))
        try:
            notifier.stop()  # python-can's Notifier stops its listeners too
        except buslog.WriteError as error:
            note(error, "stop")
        bus.shutdown()
        sender.shutdown()
    else:
        for index in range(count):
            writer(can.Message(timestamp=1700000000 + index * 0.01, arbitration_id=index, is_extended_id=False,
                               data=bytes(8)))
            result["sent"] += 1
    try:
        writer.stop()
    except buslog.WriteError as error:
        note(error, "stop")
    result["files"] = writer.files
    counts = writer.counts()
    result["added"], result["logged"] = counts.framesAdded, counts.framesLogged
    print(json.dumps(result))


if __name__ == "__main__":
    main()
