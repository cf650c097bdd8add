// The time base: what a line's +0.000000 means, and when a new one begins.
//
// The time field keeps 9 characters ("+%u.%06u" cut), so a time since the
// base keeps microseconds only below 10 s, fewer digits after that, and is
// wrong from 100,000,000 s on. Each base is said by a start marker line
// (markers.h), so a new one can begin anywhere in a file:
//
//   frame, against the base and the latest frame since it      PRECISE       PER_FILE
//   100,000,000 s or more after the base (also past 2^32 s)     new base      new file
//   more than 1 s before the latest (a clock stepped back)      new base      new file
//   10 s or more after the base                                 new base      kept (said once)
//   up to 1 s before the latest and before the base             new base      +0.000000: clamped
//   anything else                                               kept
//
// A clamped frame's line has a clamp marker before it that says how much
// earlier it was (records.h), so that its time is not lost.
//
// Without marker lines there is no start marker to begin a base with: the
// policy is PER_FILE. The first frame of a file begins its base; a base
// begun later in a file lies 1 s before the frame that begins it, so that
// the frames of other interfaces read slightly out of order after it keep
// their times (that frame is stamped +1.000000).
#pragma once

#include <cstdint>

#include "frame.h"

namespace buslog_writer {

// Seconds after a base from which the time field is wrong.
constexpr uint64_t kSecondsPerBase = 100000000;
// Seconds after a base from which the time field loses a digit.
constexpr uint64_t kPreciseSeconds = 10;
// How far a frame may lie before the latest and still be a frame of
// several interfaces read out of order, not a clock stepped back.
constexpr uint32_t kOutOfOrderMicros = 1000000;

struct TimeBase {
  bool set;          // the open file has a base
  FrameTime base;    // what +0.000000 means
  FrameTime latest;  // the latest frame since the base began
};

enum class TimeStep : uint8_t {
  kKeep,       // the frame's time since the base
  kFirstBase,  // the file's first frame: its base
  kNewBase,    // a new base in the same file, at the frame
  kNewFile,    // a new file, whose base the frame is
};

enum class TimeReason : uint8_t { kNone, kTooLate, kClockBack, kPrecision, kBeforeBase };

// Where the frame at `time` goes: `precise` is the PRECISE policy with
// marker lines. `reason` says why a base or file begins.
TimeStep StepFor(bool precise, const TimeBase& base, const FrameTime& time, TimeReason* reason);

// The frame at `time` is logged under the base: the latest moves on, and
// `since` is its time field. False when it was earlier than the base
// (stamped +0.000000: clamped).
bool TakeTime(TimeBase* base, const FrameTime& time, Elapsed* since);

// Begins a base at `base` for a frame at `time`.
inline void BeginBase(TimeBase* base, const FrameTime& at, const FrameTime& time) {
  *base = TimeBase{true, at, time};
}

// Where a base begun inside a file at a frame at `time` lies: 1 s before
// it (or at 0).
FrameTime RenewedBase(const FrameTime& time);

}  // namespace buslog_writer
