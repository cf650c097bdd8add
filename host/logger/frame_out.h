// One frame's line for the log: the module calls that make it, as a
// LogLine for the batch (batch.h), with its exact length.
//   PutFrameId    running frame number from 1, continued across log files
//   PutTimeStamp  seconds and microseconds since the first frame of the
//                 log file
//   PutFrame      kind 0x3031 (I), or 0x3030 (O) for a frame candump marked
//                 T (sent by this node), bus 4 (CAN), the channel, the CAN
//                 record
// Frames the CAN record cannot show alone get one more field:
//   remote frame  record with the requested length code and no data, then
//                 ",RTR"
//   CAN FD        record with the FD length code (9 to F above 8 bytes) and
//                 all data bytes, then ",FD,<flags digit>"
//   error frame   status NG, the error class as a 29-bit identifier with the
//                 data bytes, then the error field ",(0:ERR=<class>)"
#pragma once

#include <cstdint>

#include "buslog.h"
#include "candump.h"
#include "logger/batch.h"
#include "logger/frame_time.h"

namespace buslog_host {

// Room FrameLine needs for the text after the record.
constexpr uint32_t kFrameTextRoom = 8;

// The line of `frame`; its record goes into `record` (kMaxCanRecord bytes)
// and its text into `text` (kFrameTextRoom bytes), which must stay as they
// are until the line is added to a batch.
LogLine FrameLine(uint32_t frameNumber, const Elapsed& since, int32_t channel, const CandumpFrame& frame,
                  uint8_t* record, char* text);

}  // namespace buslog_host
