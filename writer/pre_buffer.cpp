// The pre-trigger buffer: a ring of packed frames, and the runs of frames
// it gave up.
#include "pre_buffer.h"

#include <cstring>
#include <new>

namespace buslog_writer {
namespace {

// A held frame's bytes: type, flags, length code | FD flags << 4, data
// length, channel (2), identifier (4), microseconds (4), seconds (8), data.
// A type of kWrap says the ring goes on at its start.
constexpr uint8_t kWrap = 0xFF;

uint64_t SizeOf(const Frame& frame) { return kHeldHeader + frame.dataLength; }

// Where the oldest frame begins, past a wrap.
uint64_t OldestAt(const PreBuffer& buffer) {
  uint64_t at = buffer.tail % buffer.capacity;
  uint64_t room = buffer.capacity - at;
  if (room < kHeldHeader || buffer.bytes[at] == kWrap) return buffer.tail + room;
  return buffer.tail;
}

}  // namespace

uint64_t DefaultPreBytes(uint64_t preMicros) {
  constexpr uint64_t kBytesASecond = 10000 * (kHeldHeader + 8);
  constexpr uint64_t kLeast = 1024 * 1024;
  uint64_t bytes = preMicros / 1000000u * kBytesASecond + preMicros % 1000000u * kBytesASecond / 1000000u;
  return bytes < kLeast ? kLeast : bytes;
}

bool MakePreBuffer(PreBuffer* buffer, uint64_t capacity) {
  *buffer = PreBuffer{};
  // Not filled in: the system gives the pages as they are written.
  buffer->bytes.reset(new (std::nothrow) uint8_t[capacity]);
  buffer->capacity = capacity;
  return buffer->bytes != nullptr;
}

bool HoldFrame(PreBuffer* buffer, const Frame& frame) {
  uint64_t size = SizeOf(frame);
  uint64_t at = buffer->head % buffer->capacity;
  uint64_t room = buffer->capacity - at;
  uint64_t skip = room < size ? room : 0;
  if (buffer->head - buffer->tail + skip + size > buffer->capacity) return false;
  if (skip > 0) {
    if (room >= kHeldHeader) buffer->bytes[at] = kWrap;
    buffer->head += skip;
    at = 0;
  }
  uint8_t* p = buffer->bytes.get() + at;
  p[0] = frame.type;
  p[1] = frame.flags;
  p[2] = static_cast<uint8_t>((frame.lengthCode & 0xF) | (frame.fdFlags << 4));
  p[3] = frame.dataLength;
  memcpy(p + 4, &frame.channel, 2);
  memcpy(p + 6, &frame.id, 4);
  memcpy(p + 10, &frame.time.micros, 4);
  memcpy(p + 14, &frame.time.seconds, 8);
  memcpy(p + kHeldHeader, frame.data, frame.dataLength);
  buffer->head += size;
  ++buffer->frames;
  if (buffer->head - buffer->tail > buffer->mostUsed) buffer->mostUsed = buffer->head - buffer->tail;
  return true;
}

bool OldestFrame(const PreBuffer& buffer, Frame* out) {
  if (buffer.frames == 0) return false;
  const uint8_t* p = buffer.bytes.get() + OldestAt(buffer) % buffer.capacity;
  *out = Frame{};
  out->type = p[0];
  out->flags = p[1];
  out->lengthCode = p[2] & 0xF;
  out->fdFlags = static_cast<uint8_t>(p[2] >> 4);
  out->dataLength = p[3];
  memcpy(&out->channel, p + 4, 2);
  memcpy(&out->id, p + 6, 4);
  memcpy(&out->time.micros, p + 10, 4);
  memcpy(&out->time.seconds, p + 14, 8);
  memcpy(out->data, p + kHeldHeader, out->dataLength);
  return true;
}

bool OldestTime(const PreBuffer& buffer, FrameTime* time) {
  if (buffer.frames == 0) return false;
  const uint8_t* p = buffer.bytes.get() + OldestAt(buffer) % buffer.capacity;
  memcpy(&time->micros, p + 10, 4);
  memcpy(&time->seconds, p + 14, 8);
  return true;
}

void DropOldest(PreBuffer* buffer) {
  if (buffer->frames == 0) return;
  uint64_t at = OldestAt(*buffer);
  buffer->tail = at + kHeldHeader + buffer->bytes[at % buffer->capacity + 3];
  if (--buffer->frames == 0) buffer->tail = buffer->head;
}

void NoteGivenUp(GivenUp* g, const FrameTime& time) {
  ++g->frames;
  if (g->count > 0) {
    GivenUpRun& last = g->runs[(g->start + g->count - 1) % kMostRuns];
    if (!Earlier(time, last.first) && MicrosBetween(last.first, time) <= g->grain) {
      if (Earlier(last.last, time)) last.last = time;
      ++last.count;
      return;
    }
  }
  if (g->count == kMostRuns) {
    // The two oldest become one: coarser where a window is least likely.
    GivenUpRun& oldest = g->runs[g->start];
    g->start = (g->start + 1) % kMostRuns;
    GivenUpRun& next = g->runs[g->start];
    next.first = oldest.first;
    next.count += oldest.count;
    --g->count;
  }
  g->runs[(g->start + g->count) % kMostRuns] = GivenUpRun{time, time, 1};
  ++g->count;
}

uint64_t DropRunsBefore(GivenUp* g, const FrameTime& horizon) {
  uint64_t dropped = 0;
  while (g->count > 0 && Earlier(g->runs[g->start].last, horizon)) {
    dropped += g->runs[g->start].count;
    g->start = (g->start + 1) % kMostRuns;
    --g->count;
  }
  g->frames -= dropped;
  return dropped;
}

uint64_t TakeRuns(GivenUp* g, FrameTime* from, uint64_t* older) {
  *older = DropRunsBefore(g, *from);
  uint64_t taken = g->frames;
  if (g->count > 0 && Earlier(g->runs[g->start].first, *from)) *from = g->runs[g->start].first;
  g->start = g->count = 0;
  g->frames = 0;
  return taken;
}

}  // namespace buslog_writer
