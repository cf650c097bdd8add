// The write step and what it does when the storage fails. A frame stays in
// hand until its line is written or it is given up:
//   - a failed Write or create is said with the system's reason (once a
//     kind), and tried again every kRetrySeconds; live input keeps being
//     read meanwhile, and a frame is given up only when the queue behind it
//     is full (or, once no more input will come, after kGiveUpSeconds);
//   - a file that may not grow (a file size limit, the file system's
//     largest file), a log deleted, renamed or replaced under the logger, a
//     file left ending in a cut line: the frame goes into a new file;
//   - with a ring (--max-files, --max-total), a full disk first costs the
//     run's oldest file.
// The log is looked at through the open file itself about once a second.
#pragma once

#include <cstdint>
#include <string>

#include "candump.h"
#include "logger/storage.h"

namespace buslog_host {

struct LoggerRun;
struct LiveQueue;

enum class Logged {
  kWritten,  // the frame's line is in the log
  kLost,     // the frame was given up (counted as missing); go on
  kStop,     // the frame was given up and the replay stops (a file replay
             // whose failure did not pass, or a second stop request)
};

struct Keeping {
  StorageTrouble trouble;
  double nextLook;        // when the open log is looked at again
  double lastClock;       // the steady clock when last read
  bool newFileDue;        // a new file is to be begun before the next line
  std::string newFileNote; // why (after a failure), said with its name once open
  std::string jumpNote;   // a time jump's line, said with the new file's name once open
  bool stopReplay;        // a frame was given up where the replay stops
  bool batchFailed;       // a batch's Write failed, not yet said
  int batchError;
  uint32_t batchFrame;
  bool givenUp;           // no more tries: frames from now on are missing
  std::string givenUpReason;
};

// Seconds on the steady clock, for the trouble's times.
double SteadySeconds();

// Logs `frame` (number `number`, channel `channel`) into the open log, or
// into a new one when `rotate` says the open one is full or old enough (or
// cannot show its time: a time jump). The marker lines the frame needs go
// before it (logger/markers.h): start and writer when the file has none,
// its channel's when the file has none for it. Each counts as written only
// when its own Write succeeded, as a line and never as a frame; a marker
// that fails is tried again, with the frame, as the frame would be.
// `queue` is the live input (null for a file replay); a first stop request
// that comes while the frame waits stops its reading.
Logged LogFrame(LoggerRun* run, LiveQueue* queue, bool rotate, const CandumpFrame& frame, int32_t channel,
                uint32_t number);

// A batch's one Write failed with the system's `error` (its first frame
// `firstFrame`): said, and a new file begun first when the log ends in a
// cut line or was lost; its lines then go through LogFrame one by one,
// the first at once.
void BatchFailed(LoggerRun* run, uint32_t firstFrame, int error);
// After the failed batch's lines were each tried: says the failure if
// none of them failed (so it passed at once).
void BatchRetried(LoggerRun* run);

// About once a second: is the open log still there under its name? When
// not, said, and the next frame goes into a new file.
void LookAtLogNow(LoggerRun* run);

// The frames first..last were read but will not be logged (a second stop):
// counted as missing for `reason`.
void GiveUpFrames(LoggerRun* run, uint32_t first, uint32_t last, const char* reason);

}  // namespace buslog_host
