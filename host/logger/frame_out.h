// One frame into the log: its fields through the module's exports, then
// the Write that ends the line.
//   PutFrameId    running frame number from 1, continued across log files
//   PutTimeStamp  seconds and microseconds since the first frame of the
//                 log file
//   PutFrame      kind 0x3031 (I), or 0x3030 (O) for a frame candump marked
//                 T (sent by this node), bus 4 (CAN), the channel, the CAN
//                 record
//   Write
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
#include "logger/frame_time.h"

namespace buslog_host {

// Puts the line's fields for `frame` (not yet written).
void PutFrameFields(const BuslogApi& api, uint32_t frameNumber, const Elapsed& since, int32_t channel,
                    const CandumpFrame& frame);

// Writes the line; true when the module wrote it (BUSLOG_WRITE_OK).
bool WriteLine(const BuslogApi& api);

}  // namespace buslog_host
