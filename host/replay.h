// Replaying a candump trace through the module, one log line per frame:
//   PutFrameId    running frame number from 1
//   PutTimeStamp  seconds and microseconds since the trace's first frame
//   PutFrame      kind 0x3031 (I), or 0x3030 (O) for a frame candump marked
//                 T (sent by this node), bus 4 (CAN), channel by each interface's
//                 first appearance (first is 0), the CAN record
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
#include <cstdio>

#include "buslog.h"

namespace buslog_host {

struct ReplayOptions {
  bool strict;    // stop at the first malformed line
  bool progress;  // show a progress line on standard error
  uint64_t reportEvery;  // if not 0: say "written N" each N lines written
  const char* traceName;
};

struct ReplayTotals {
  uint64_t linesRead;
  uint64_t framesRead;
  uint64_t written;  // lines the module wrote
  uint64_t dataFrames, remoteFrames, fdFrames, errorFrames;
  uint64_t malformed;       // lines skipped as not a frame
  uint64_t tooLong;         // of those, lines too long to be a frame
  uint64_t tooManyChannels; // frames skipped: more interfaces than channels
  uint64_t timeWentBack;    // frames earlier than the first (stamped 0)
  uint64_t writeFailures;
  bool stoppedEarly;        // strict mode met a malformed line
  bool readError;
};

// Replays the trace in `trace` through the module. Returns true when the
// replay ran to the end (malformed lines may have been skipped).
bool ReplayTrace(const BuslogApi& api, FILE* trace, const ReplayOptions& options, ReplayTotals* totals);

}  // namespace buslog_host
