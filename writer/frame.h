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
  uint32_t number;      // frame number, from 1, continued across files (0: not yet numbered)
  uint32_t id;          // identifier, or an error frame's error class
  uint16_t channel;     // by the interface's first appearance, from 0
  uint8_t type;         // FrameType
  uint8_t flags;        // BUSLOG_FRAME_EXTENDED, BUSLOG_FRAME_SENT
  uint8_t lengthCode;   // the record's length nibble (see FrameLine)
  uint8_t fdFlags;      // CAN FD: the flags digit
  uint8_t dataLength;   // bytes in data (0 for a remote frame)
  uint8_t stage;        // StageBits (selection.h): logged, and which triggers it fires
  uint8_t data[kMaxFrameData];
  uint64_t sequence;    // the Add that brought it (or, for frames a trigger took from the
                        // pre-trigger buffer, the trigger's): Flush waits by these
};

// `a` earlier than `b`.
inline bool Earlier(const FrameTime& a, const FrameTime& b) {
  return a.seconds < b.seconds || (a.seconds == b.seconds && a.micros < b.micros);
}

// `time` less `base`. A time earlier than the base gives 0.000000 and
// false (the caller counts it as clamped); otherwise true.
bool TimeSince(const FrameTime& base, const FrameTime& time, Elapsed* since);

// Microseconds from `from` to `to`: 0 when `to` is earlier, UINT64_MAX
// when they do not fit.
inline uint64_t MicrosBetween(const FrameTime& from, const FrameTime& to) {
  Elapsed since;
  if (!TimeSince(from, to, &since)) return 0;
  if (since.seconds >= UINT64_MAX / 1000000u - 1) return UINT64_MAX;
  return since.seconds * 1000000u + since.micros;
}

// `time` moved by `micros`: later (at most to the largest time) or
// earlier (at most to 0).
inline FrameTime LaterBy(const FrameTime& time, uint64_t micros) {
  uint64_t seconds = micros / 1000000u;
  uint32_t fraction = time.micros + static_cast<uint32_t>(micros % 1000000u);
  if (fraction >= 1000000u) {
    fraction -= 1000000u;
    ++seconds;
  }
  if (time.seconds > UINT64_MAX - seconds) return FrameTime{UINT64_MAX, 999999};
  return FrameTime{time.seconds + seconds, fraction};
}
inline FrameTime EarlierBy(const FrameTime& time, uint64_t micros) {
  uint64_t seconds = micros / 1000000u;
  uint32_t fraction = static_cast<uint32_t>(micros % 1000000u);
  if (time.micros < fraction) {
    fraction = time.micros + 1000000u - fraction;
    ++seconds;
  } else {
    fraction = time.micros - fraction;
  }
  if (time.seconds < seconds) return FrameTime{0, 0};
  return FrameTime{time.seconds - seconds, fraction};
}

}  // namespace buslog_writer
