// Rotation: when the replay goes on in a new log file, and how. A new file
// is opened before the frame that finds the current one full (--rotate-size)
// or old enough (--rotate-seconds): never an empty file, and every frame in
// exactly one. The file's size is looked at only as often as the longest
// lines could bring it to the limit.
#pragma once

#include <cstdint>

#include "buslog.h"
#include "logger/frame_time.h"

namespace buslog_host {

struct LoggerRun;
struct OpenFailure;

// What the user asked for; 0 turns each limit off.
struct RotationPolicy {
  uint64_t bytes;  // --rotate-size
  double seconds;  // --rotate-seconds
};

// The one answer to "is this run rotating?".
inline bool Rotating(const RotationPolicy& policy) { return policy.bytes != 0 || policy.seconds > 0; }

// The longest line the module writes: its line limit and CR LF. A log
// cannot pass a size limit by more than this without the size being looked
// at again.
constexpr uint64_t kLongestLogLine = BUSLOG_MAX_LINE + 2;

// Where the open file stands.
struct RotationState {
  uint64_t linesBeforeSizeCheck;  // lines to write before the size is looked at
  bool full;                      // the size reached the limit at the last look
};

// ---- when

// Lines that can be written into a file of `size` bytes before it could
// reach `limit` (at least 1).
uint64_t LinesBeforeSizeCheck(uint64_t limit, uint64_t size);

// True once the frame at `time` is `limit` seconds or more after the
// file's first frame `first` (never for a frame earlier than that).
bool AgeReached(const FrameTime& first, const FrameTime& time, double limit);

// True when the frame at `time` goes into a new file: the open file has a
// frame (its first at `first`) and is full or old enough.
bool RotationDue(const RotationPolicy& policy, const RotationState& state, bool fileHasFrame,
                 const FrameTime& first, const FrameTime& time);

// After a line was written into the open file: true when its size is to be
// looked at now (then give it to SizeLookedAt).
bool SizeCheckDue(const RotationPolicy& policy, RotationState* state);
void SizeLookedAt(const RotationPolicy& policy, RotationState* state, uint64_t size);

// The state of a file just opened.
RotationState FreshFile(const RotationPolicy& policy);

// ---- how

// Closes the open file (recording its lines) and begins the next one.
// False when the next cannot be opened (why in `failure`): no log is open.
bool RotateLog(LoggerRun* run, OpenFailure* failure);

// Looks at the open file's size after a line written into it.
void CheckSize(LoggerRun* run);

}  // namespace buslog_host
