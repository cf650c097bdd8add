"""A child process for the live tests, logging a virtual bus that a
sender thread in the same process keeps busy with frames of every form.

    live_child.py cli LOG CHANNEL
        runs python-can's own `python3 -m can.logger -i virtual -c CHANNEL
        -f LOG` (the virtual bus only reaches buses of the same process)
    live_child.py count LOG CHANNEL
        a Notifier with can.Logger(LOG, write_through=True); after each
        message the writer has returned from it prints the number of
        messages so far
    live_child.py flushed LOG CHANNEL
        the same with group commit: after every 100th message it calls
        flush() and then prints the number of messages so far
"""

import os
import runpy
import sys
import threading

import can

from frames import forms


def send_forever(channel):
    bus = can.Bus(interface="virtual", channel=channel)
    index = 0
    while True:
        bus.send(forms(index))
        index += 1


def main():
    mode, log, channel = sys.argv[1:4]
    if mode == "cli":
        threading.Thread(target=send_forever, args=(channel,), daemon=True).start()
        # A bounded queue holds the sender back to the logger's pace.
        sys.argv = ["can.logger", "-i", "virtual", "-c", channel, "-f", log, "--rx-queue-size=1000"]
        runpy.run_module("can.logger", run_name="__main__", alter_sys=True)
        return

    bus = can.Bus(interface="virtual", channel=channel, rx_queue_size=1000)
    writer = can.Logger(log, write_through=mode == "count")
    done = [0]

    class Counting(can.Listener):
        def on_message_received(self, message):
            writer.on_message_received(message)
            done[0] += 1
            if mode == "count":
                os.write(1, b"%d\n" % done[0])
            elif done[0] % 100 == 0:
                writer.flush()
                os.write(1, b"%d\n" % done[0])

    can.Notifier(bus, [Counting()])
    send_forever(channel)


if __name__ == "__main__":
    main()
