// Replaying a candump trace through the module, one log line per frame (the
// fields are in frame_out.h), the frames at hand written together with one
// Write (group commit, batch.h). The lines come from a file read in blocks or
// from the live queue; stop requests are honoured between lines, and the
// log rotates to a new file before the frame that would go beyond its size
// or age (rotation.h).
//
// The loop's steps, each a function of its own over the run (run.h):
//   TakeStops        stop requests between lines
//   ReadFrame        the next line, parsed as a candump frame (or skipped)
//   ChannelStep      the interface's channel (channels.h)
//   TimeJumpStep / RotationDue   a new file first when the open one cannot
//                    show the frame's time (frame_time.h) or is done; the
//                    frame then goes through LogFrame (log_frame.h), as
//                    every frame does while the storage fails
//   FileTimeStep     the time since the file's first frame (frame_time.h)
//   MarkerStep       the marker lines the frame needs first (markers.h)
//   FrameLine        the frame's line, with its exact length (frame_out.h)
//   FlushBatch       the lines at hand with one Write (batch.h), then for
//                    each line CountWrite: the totals, --report-every, the
//                    size for rotation
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

// The write step, for every line of the log (a frame's, or another such as
// a marker: LineKind::kOther, which counts as a line and not as a frame).
// AddLine puts `line` into the batch in hand (run->batch), writing the
// batch first when the line does not fit, and at once with
// --sync-every-frame; the line's record and text are copied. FlushBatch
// writes the batch with one Write (WriteWholeBatch) and counts each line
// (the totals, --report-every, the size for rotation); when that Write
// fails, each frame goes again alone through the write step (LogFrame,
// log_frame.h), kept while the storage fails, and the batch's marker lines
// are written again before the frames that need them. A line is logged
// only when its Write returned 0. False when the batch was empty. A batch
// never spans two log files: flush before a rotation.
void AddLine(LoggerRun* run, const LogLine& line);
bool FlushBatch(LoggerRun* run);

}  // namespace buslog_host
