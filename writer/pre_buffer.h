// The frames before a trigger: held in memory, not numbered, until a
// trigger takes them into its window or they are older than any window
// can reach. One block of memory, taken when the writer opens (the system
// gives its pages as they fill), bounded by its size in bytes: a frame
// takes kHeldHeader bytes and its data bytes (30 for a classic frame of 8
// bytes, 86 for a CAN FD frame of 64). No allocation a frame.
//
// When the block is full the oldest frame is given up. Whether that is a
// loss is known only when a trigger comes: the frames given up are kept as
// runs of times and counts (GivenUp), and a window that reaches into a run
// takes the whole run, numbered and lost, its start moved back to the
// run's first frame if need be. Runs are at most 1/128 of --pre long, so a
// window begins at most that much earlier than asked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "frame.h"

namespace buslog_writer {

// Bytes a held frame takes before its data.
constexpr uint32_t kHeldHeader = 22;
// The smallest block.
constexpr uint64_t kLeastPreBytes = 64 * 1024;

// The block when none is asked for: room for `preMicros` of 10,000 classic
// frames of 8 bytes a second (a bus of 1 Mbit/s at full load carries
// about 8,000), 300,000 bytes a second of --pre, and at least 1 MiB.
uint64_t DefaultPreBytes(uint64_t preMicros);

struct PreBuffer {
  std::unique_ptr<uint8_t[]> bytes;
  uint64_t capacity;
  uint64_t head;      // where the next frame goes, counted from the start (never wrapped)
  uint64_t tail;      // where the oldest frame lies
  uint64_t frames;    // frames held
  uint64_t mostUsed;  // the most bytes held at once
};

// Takes `capacity` bytes. False when the memory cannot be had.
bool MakePreBuffer(PreBuffer* buffer, uint64_t capacity);

// Holds `frame` (its time, identifier, channel, type, flags, codes and
// data). False when there is no room: give up the oldest first.
bool HoldFrame(PreBuffer* buffer, const Frame& frame);

// The oldest frame held into `out` (without number and sequence), or
// its time alone; false when none is.
bool OldestFrame(const PreBuffer& buffer, Frame* out);
bool OldestTime(const PreBuffer& buffer, FrameTime* time);
void DropOldest(PreBuffer* buffer);

struct GivenUpRun {
  FrameTime first;
  FrameTime last;
  uint64_t count;
};

constexpr size_t kMostRuns = 256;

struct GivenUp {
  GivenUpRun runs[kMostRuns];
  size_t start;        // the oldest run
  size_t count;
  uint64_t grain;      // microseconds a run spans at most
  uint64_t frames;     // frames in the runs
};

// A frame at `time` was given up by a full buffer.
void NoteGivenUp(GivenUp* givenUp, const FrameTime& time);

// Forgets the runs that end before `horizon` (no window can reach them);
// returns their frames.
uint64_t DropRunsBefore(GivenUp* givenUp, const FrameTime& horizon);

// A window from `*from` on: returns the frames of every run that reaches
// it, moving `*from` back to the first frame of the earliest of them;
// `*older` gets the frames of the runs before it. Forgets every run.
uint64_t TakeRuns(GivenUp* givenUp, FrameTime* from, uint64_t* older);

}  // namespace buslog_writer
