// Replaying a candump trace through the module, one log line per frame (the
// fields are in frame_out.h). The lines come from a file read in blocks or
// from the live queue; stop requests are honoured between lines, and the
// log rotates to a new file before the frame that would go beyond its size
// or age (rotation.h).
//
// The loop's steps, each a function of its own over the run (run.h):
//   TakeStops        stop requests between lines
//   ReadFrame        the next line, parsed as a candump frame (or skipped)
//   ChannelStep      the interface's channel (channels.h)
//   RotationDue / RotateLog   a new file first when the open one is done
//   FileTimeStep     the time since the file's first frame (frame_time.h)
//   PutFrameFields / WriteLine   the fields and the Write (frame_out.h)
//   CountWrite       the totals, --report-every, the size for rotation
#pragma once

#include "line_source.h"
#include "logger/live_input.h"
#include "logger/run.h"

namespace buslog_host {

// Replays lines through the module into `run->logs` (its first log open),
// counting into `run->totals`. Returns true when the replay ran to the end
// of the input or to a first stop request (malformed lines may have been
// skipped).
bool ReplayTrace(LoggerRun* run, buslog_reader::LineSource* reader);
bool ReplayTrace(LoggerRun* run, LiveQueue* queue);

}  // namespace buslog_host
