// One log line as the module calls that make it (PutFrameId, PutTimeStamp,
// one PutFrame, PutString of a text, PutError), with its exact length, so
// that a batch of lines stays within the module's line limit.
//
// A frame's line:
//   PutFrameId    the frame number
//   PutTimeStamp  seconds and microseconds since the time base
//   PutFrame      kind I (received), or O for a frame sent, bus CAN, the
//                 channel, the CAN record (buslog.h's BuslogBuildCanRecord)
// and one more field where the CAN record cannot show the frame alone:
//   remote frame  the record with the length asked for and no data, ",RTR"
//   CAN FD        the FD length code (9 to F above 8 bytes) and all data
//                 bytes, ",FD,<flags digit>"
//   error frame   status NG, the error class as a 29-bit identifier with the
//                 data bytes, then the error field ",(0:ERR=<class>)"
// A classic frame's length nibble is its number of data bytes, or the length
// code of 9 to 15 the caller gave with 8 bytes (candump's "_X").
//
// A marker line: frame number 0, kind M, bus 0 (a channel of "-"), the text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "buslog.h"
#include "frame.h"

namespace buslog_writer {

// What one Write holds before the CR LF it adds.
constexpr uint32_t kLineLimit = BUSLOG_MAX_LINE;
// The longest CAN record: an extended one with 64 data bytes.
constexpr uint32_t kMaxCanRecord = BUSLOG_CAN_RECORD_SIZE(1, kMaxFrameData);
// Room for the text after a CAN record (",RTR", ",FD,x").
constexpr uint32_t kFrameTextRoom = 8;

// What a line is, for the counts.
enum class LineKind : uint8_t { kData, kRemote, kFd, kError, kMarker };

struct LogLine {
  uint32_t frameNumber;
  uint32_t seconds;
  uint32_t micros;
  uint32_t kindCode;
  uint32_t busCode;
  int32_t channel;
  int32_t status;
  const uint8_t* record;
  uint32_t recordSize;
  const char* text;
  uint32_t textLength;
  bool hasError;
  uint32_t errorCode;
  uint32_t length;  // before its CR LF, exact
  LineKind kind;
};

// Room a frame's line keeps its record and text in until it is added to a
// batch.
struct FrameLineBytes {
  uint8_t record[kMaxCanRecord];
  char text[kFrameTextRoom];
};

// The line of `frame` at `since`, into `out`.
void FrameLine(const Frame& frame, const Elapsed& since, FrameLineBytes* bytes, LogLine* out);

// The marker line of `text` (zero-terminated) at `since`; its record goes
// into `record` (`size` bytes, at least BUSLOG_MARKER_RECORD_SIZE(strlen(text))).
// False when it does not fit there or in a line.
bool MarkerLine(const Elapsed& since, const char* text, uint8_t* record, size_t size, LogLine* line);

// The exact length before CR LF of the line the module writes for a CAN
// record of `recordSize` bytes (`extended`: the 29-bit form) with frame
// number, time stamp and the header of channel `channel`, followed by
// `extraText` bytes of text and, with `hasError`, the error field.
uint32_t CanLineLength(uint32_t frameNumber, int32_t channel, bool extended, uint32_t recordSize, uint32_t extraText,
                       bool hasError);

}  // namespace buslog_writer
