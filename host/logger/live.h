// Live input (a pipe, a FIFO, a terminal): a reader thread takes the lines
// as fast as they arrive and hands each frame to the writer, whose queue
// holds them while the log catches up, so that a burst faster than the
// disk syncs never holds up the program that feeds the stream. The main
// thread meanwhile shows what happens and takes the stop requests: the
// first stops the reading, says how many frames are still to be logged
// and logs them; a second gives those up.
#pragma once

#include "logger/monitor.h"
#include "logger/read_loop.h"
#include "platform/system.h"

namespace buslog_host {

// Reads `input` (a stream) through `loop` until its end or a stop. Returns
// false when the reader thread could not be stopped (Windows, a console
// read): it then still holds the input, which must not be closed.
bool ReadLive(ReadLoop* loop, const InputFile& input, Monitor* monitor, bool quiet);

// Waits for the writer to log what it holds, giving it up at a second stop
// request, while the monitor shows what happens.
void WaitForWriter(BuslogWriter* writer, Monitor* monitor, bool quiet);

}  // namespace buslog_host
