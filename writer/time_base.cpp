// When a new time base begins.
#include "time_base.h"

namespace buslog_writer {

TimeStep StepFor(bool precise, const TimeBase& base, const FrameTime& time, TimeReason* reason) {
  *reason = TimeReason::kNone;
  if (!base.set) return TimeStep::kFirstBase;
  Elapsed back;
  if (TimeSince(time, base.latest, &back) &&
      (back.seconds > kOutOfOrderMicros / 1000000 ||
       (back.seconds == kOutOfOrderMicros / 1000000 && back.micros > kOutOfOrderMicros % 1000000))) {
    *reason = TimeReason::kClockBack;
  } else {
    Elapsed since;
    if (!TimeSince(base.base, time, &since)) {
      // Before the base, but not so far before the latest that the clock
      // went back: a frame of another interface read late.
      if (!precise) return TimeStep::kKeep;
      *reason = TimeReason::kBeforeBase;
      return TimeStep::kNewBase;
    }
    if (since.seconds < kPreciseSeconds) return TimeStep::kKeep;
    if (since.seconds >= kSecondsPerBase) {
      *reason = TimeReason::kTooLate;
    } else if (precise) {
      *reason = TimeReason::kPrecision;
    } else {
      return TimeStep::kKeep;
    }
  }
  return precise ? TimeStep::kNewBase : TimeStep::kNewFile;
}

FrameTime RenewedBase(const FrameTime& time) {
  uint64_t back = kOutOfOrderMicros / 1000000;
  if (time.seconds < back) return FrameTime{0, 0};
  return FrameTime{time.seconds - back, time.micros};
}

bool TakeTime(TimeBase* base, const FrameTime& time, Elapsed* since) {
  if (Earlier(base->latest, time)) base->latest = time;
  return TimeSince(base->base, time, since);
}

}  // namespace buslog_writer
