// A frame as the engine keeps it between the caller's Add and its line in
// the log: numbered, its interface turned into a channel, its data copied
// (a CAN FD frame's padded to a length the log can show), and the times the
// log's time field is worked out from, as two whole numbers (no division on
// the way, no overflow for the largest time stamps).
#pragma once

#include <cstdint>

namespace buslog_writer {

// The most data bytes a frame carries (CAN FD).
constexpr uint32_t kMaxFrameData = 64;

// A frame's type, from its flags; kDropsItem is no frame but candump's drop
// report, queued among the frames: `id` frames dropped on its channel's
// interface, `time.seconds` the total so far.
enum FrameType : uint8_t { kDataFrame, kRemoteFrame, kFdFrame, kErrorFrame, kDropsItem };

// The channel of a frame whose interface found none (all taken): it is lost.
constexpr uint16_t kNoChannel = 0xFFFF;

// A time: seconds and microseconds (0 to 999999), since 1970 when the
// source's times are absolute.
struct FrameTime {
  uint64_t seconds;
  uint32_t micros;
};

// A time since a time base, as PutTimeStamp takes it.
struct Elapsed {
  uint64_t seconds;
  uint32_t micros;
};

struct Frame {
  FrameTime time;
  uint32_t number;      // frame number, from 1, continued across files
  uint32_t id;          // identifier, or an error frame's error class
  uint16_t channel;     // by the interface's first appearance, from 0
  uint8_t type;         // FrameType
  uint8_t flags;        // BUSLOG_FRAME_EXTENDED, BUSLOG_FRAME_SENT
  uint8_t lengthCode;   // the record's length nibble (see FrameLine)
  uint8_t fdFlags;      // CAN FD: the flags digit
  uint8_t dataLength;   // bytes in data (0 for a remote frame)
  uint8_t data[kMaxFrameData];
};

// `a` earlier than `b`.
inline bool Earlier(const FrameTime& a, const FrameTime& b) {
  return a.seconds < b.seconds || (a.seconds == b.seconds && a.micros < b.micros);
}

// `time` less `base`. A time earlier than the base gives 0.000000 and
// false (the caller counts it as clamped); otherwise true.
bool TimeSince(const FrameTime& base, const FrameTime& time, Elapsed* since);

}  // namespace buslog_writer
