// A caller's frame taken in: checked against what the log can show, then
// copied into the engine's own form (frame.h), a CAN FD frame's data padded
// with zero bytes to the next CAN FD length, its length code worked out.
#pragma once

#include <cstddef>

#include "buslog_writer.h"
#include "frame.h"

namespace buslog_writer {

// Null when the log can show `frame`; else why not, in `why`, returned.
const char* FrameProblem(const BuslogFrame& frame, char* why, size_t size);

// `frame` (FrameProblem said nothing) as the engine keeps it, without its
// number and channel.
void TakeFrame(const BuslogFrame& frame, Frame* out);

}  // namespace buslog_writer
