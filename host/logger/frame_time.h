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

}  // namespace buslog_host
