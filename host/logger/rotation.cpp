// When the replay rotates to a new log file, and how.
#include "logger/rotation.h"

#include "logger/log_files.h"
#include "logger/run.h"
#include "platform/system.h"

namespace buslog_host {

uint64_t LinesBeforeSizeCheck(uint64_t limit, uint64_t size) {
  if (size >= limit) return 1;
  uint64_t lines = (limit - size) / kLongestLogLine;
  return lines == 0 ? 1 : lines;
}

bool AgeReached(const FrameTime& first, const FrameTime& time, double limit) {
  if (time.seconds < first.seconds) return false;
  uint64_t whole = time.seconds - first.seconds;
  if (whole > 1000000000ull) return true;
  double age =
      static_cast<double>(whole) + (static_cast<double>(time.micros) - static_cast<double>(first.micros)) / 1e6;
  return age >= limit;
}

bool RotationDue(const RotationPolicy& policy, const RotationState& state, bool fileHasFrame,
                 const FrameTime& first, const FrameTime& time) {
  if (!Rotating(policy) || !fileHasFrame) return false;
  return state.full || (policy.seconds > 0 && AgeReached(first, time, policy.seconds));
}

bool SizeCheckDue(const RotationPolicy& policy, RotationState* state) {
  return policy.bytes != 0 && --state->linesBeforeSizeCheck == 0;
}

void SizeLookedAt(const RotationPolicy& policy, RotationState* state, uint64_t size) {
  state->full = size >= policy.bytes;
  state->linesBeforeSizeCheck = LinesBeforeSizeCheck(policy.bytes, size);
}

RotationState FreshFile(const RotationPolicy& policy) {
  return RotationState{LinesBeforeSizeCheck(policy.bytes, 0), false};
}

bool RotateLog(LoggerRun* run, OpenFailure* failure) {
  if (run->logs.open) run->logs.files.back().lines = run->totals.written - run->writtenBefore;
  if (!BeginNewFile(&run->logs, failure)) return false;
  run->fileHasFrame = false;
  // Each file has marker lines of its own.
  run->fileMarked = run->writerMarked = false;
  for (bool& marked : run->channelMarked) marked = false;
  run->writtenBefore = run->totals.written;
  run->rotation = FreshFile(run->request->rotation);
  return true;
}

void CheckSize(LoggerRun* run) {
  if (!SizeCheckDue(run->request->rotation, &run->rotation)) return;
  // The file being written, not whatever its name leads to now.
  const LogFileEntry& file = run->logs.files.back();
  WatchedFile watched;
  uint64_t size = 0;
  if (LookAtWatched(file.watch, &watched)) {
    size = watched.size;
  } else {
    SizeOfFile(file.path.c_str(), &size);
  }
  SizeLookedAt(run->request->rotation, &run->rotation, size);
}

}  // namespace buslog_host
