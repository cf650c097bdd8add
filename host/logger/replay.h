// Replaying a candump trace through the module, one log line per frame:
//   PutFrameId    running frame number from 1, continued across log files
//   PutTimeStamp  seconds and microseconds since the first frame of the
//                 log file
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
// The lines come from a file read in blocks or from the live queue; stop
// requests are honoured between lines, and the log rotates to a new file
// before the frame that would go beyond its size or age.
#pragma once

#include <cstdint>
#include <cstdio>

#include "buslog.h"
#include "line_reader.h"
#include "logger/live_input.h"
#include "logger/log_files.h"

namespace buslog_host {

struct ReplayOptions {
  bool strict;    // stop at the first malformed line
  bool progress;  // show a progress line on standard error
  bool progressInPlace;  // rewrite it in place (standard error is a terminal)
  uint64_t reportEvery;  // if not 0: say "written N" each N lines written
  const char* traceName;
  uint64_t inputSize;    // bytes, 0 when not known
  uint64_t rotateBytes;  // 0: no rotation by size
  double rotateSeconds;  // 0: no rotation by age
};

struct ReplayTotals {
  uint64_t linesRead;
  uint64_t framesRead;
  uint64_t written;  // lines the module wrote
  uint64_t dataFrames, remoteFrames, fdFrames, errorFrames;
  uint64_t malformed;       // lines skipped as not a frame
  uint64_t tooLong;         // of those, lines too long to be a frame
  uint64_t tooManyChannels; // frames skipped: more interfaces than channels
  uint64_t timeWentBack;    // frames earlier than their file's first (stamped 0)
  uint64_t writeFailures;
  uint64_t notLogged;       // frames read but left when a second stop came
  int stops;                // stop requests seen
  bool stoppedEarly;        // strict mode met a malformed line
  bool logFailed;           // a rotation could not open the next log
  bool readError;
};

// Replays lines through the module into `logs` (its first log open).
// Returns true when the replay ran to the end of the input or to a first
// stop request (malformed lines may have been skipped).
bool ReplayTrace(const BuslogApi& api, LineReader* reader, LogSet* logs, const ReplayOptions& options,
                 ReplayTotals* totals);
bool ReplayTrace(const BuslogApi& api, LiveQueue* queue, LogSet* logs, const ReplayOptions& options,
                 ReplayTotals* totals);

// Says "  can0 -> channel 1" on standard error for each interface met, in
// channel order.
void PrintChannels();

}  // namespace buslog_host
