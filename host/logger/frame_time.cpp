// Time since a log file's first frame.
#include "logger/frame_time.h"

namespace buslog_host {

bool TimeSinceFirst(const FrameTime& first, const FrameTime& time, Elapsed* since) {
  *since = Elapsed{0, 0};
  if (time.seconds < first.seconds || (time.seconds == first.seconds && time.micros < first.micros)) return false;
  since->seconds = time.seconds - first.seconds;
  if (time.micros >= first.micros) {
    since->micros = time.micros - first.micros;
  } else {
    --since->seconds;
    since->micros = time.micros + 1000000u - first.micros;
  }
  return true;
}

TimeJump CheckTimeJump(const FrameTime& first, const FrameTime& latest, const FrameTime& time) {
  Elapsed gap;
  if (TimeSinceFirst(time, latest, &gap) &&
      (gap.seconds > kOutOfOrderMicros / 1000000 ||
       (gap.seconds == kOutOfOrderMicros / 1000000 && gap.micros > kOutOfOrderMicros % 1000000))) {
    return TimeJump::kClockBack;
  }
  Elapsed since;
  if (TimeSinceFirst(first, time, &since) && since.seconds >= kSecondsPerFile) return TimeJump::kTooLate;
  return TimeJump::kNone;
}

}  // namespace buslog_host
