// The time stamp the replay puts on a frame: seconds and microseconds since
// the first frame of its log file, kept as two whole numbers (no division
// on the way, no overflow for the largest candump time stamps).
#pragma once

#include <cstdint>

namespace buslog_host {

// A candump time stamp.
struct FrameTime {
  uint64_t seconds;
  uint32_t micros;  // 0 to 999999
};

// The time since the file's first frame, as PutTimeStamp takes it.
struct Elapsed {
  uint64_t seconds;
  uint32_t micros;
};

// `time` less `first`. A frame earlier than the first gets 0.000000 and
// the result false (the caller counts it); otherwise true.
bool TimeSinceFirst(const FrameTime& first, const FrameTime& time, Elapsed* since);

// ---- times a file cannot take
//
// The time field keeps 8 characters ("+%u.%06u" cut to 9 with its "+"), so
// a file's times are right only below kSecondsPerFile after its first
// frame; the module's time stamp takes 32-bit seconds, far beyond that. A
// frame that a file cannot take rightly begins a new file with a new time
// base, its own time:
//
//   frame, against the file's first and latest frame     the file
//   100,000,000 s or more after the first (also past     kTooLate: a new file
//       2^32 s, where the seconds would wrap)
//   more than 1 s before the latest (a clock that        kClockBack: a new file
//       stepped back)
//   up to 1 s before the latest, but before the first    takes it at +0.000000,
//       (interfaces read slightly out of order)             counted (TimeSinceFirst)
//   anything else                                        takes it

// Seconds after a file's first frame from which its time field is wrong.
constexpr uint64_t kSecondsPerFile = 100000000;
// How far a frame may lie before the file's latest and still be a frame of
// several interfaces read out of order, not a clock stepped back.
constexpr uint32_t kOutOfOrderMicros = 1000000;

enum class TimeJump : uint8_t {
  kNone,       // the frame goes into the file
  kTooLate,    // kSecondsPerFile or more after the file's first frame
  kClockBack,  // more than kOutOfOrderMicros before the file's latest frame
};

// Whether the file whose first and latest frames are `first` and `latest`
// can take the frame at `time`.
TimeJump CheckTimeJump(const FrameTime& first, const FrameTime& latest, const FrameTime& time);

// `a` earlier than `b`.
inline bool Earlier(const FrameTime& a, const FrameTime& b) {
  return a.seconds < b.seconds || (a.seconds == b.seconds && a.micros < b.micros);
}

}  // namespace buslog_host
