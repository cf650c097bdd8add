// Group commit: the lines at hand go to the module with one Write.
//
// The module copies PutString's bytes unchanged, so the fields of several
// lines, each but the last followed by PutString of CR LF, make with one
// Write the very bytes that one Write a line would, with one system call
// and one sync for all of them. A Write holds at most kLineLimit bytes
// before its CR LF, so each line comes with its length (exact, or a bound
// that is never too small) and a batch takes a line only while the sum
// stays within the limit.
//
// A batch is only what is already at hand: the replay loop adds lines
// while its input holds more and writes the batch as soon as it would wait
// (or the batch is full, or a file is to change): nothing ever waits for a
// batch to fill. A Write that fails leaves nothing of its batch in the log
// (the module cuts a partial write off); the batch's lines are then written
// again one Write each, so that exactly the lines that cannot be written
// are known.
#pragma once

#include <cstddef>
#include <cstdint>

#include "buslog.h"

namespace buslog_host {

// What one Write holds before the CR LF it adds.
constexpr uint32_t kLineLimit = BUSLOG_MAX_LINE;
// The most lines a batch holds (a CAN line has 45 bytes or more).
constexpr uint32_t kBatchLines = 128;
// Bytes of records and text the batch keeps for its lines.
constexpr size_t kBatchBytes = 8192;

// What a line is, for the counts: a frame of one of four forms, or a line
// that is no frame (a marker).
enum class LineKind : uint8_t { kData, kRemote, kFd, kError, kOther };

// One line of the log as the module calls that make it: PutFrameId,
// PutTimeStamp, one PutFrame, then PutString of `text` if any, then
// PutError if `hasError`.
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
  // The line's length before its CR LF, or a bound never too small; a
  // line of kLineLimit goes alone.
  uint32_t length;
  LineKind kind;
  uint64_t sourceLine;  // where it came from, for messages (0: nowhere)
  // A marker line (logger/markers.h): what it marks, so that the markers of
  // a batch that failed are written again before their frames.
  uint8_t marksFile;      // the file's start marker (1) or writer marker (2); else 0
  uint32_t marksChannel;  // a channel's marker: the channel + 1; else 0
  bool written;         // set by WriteBatch
};

struct LineBatch {
  LogLine lines[kBatchLines];
  uint32_t count;
  uint32_t used;        // bytes of the batch's text, CR LF between lines included
  size_t bytesUsed;     // of `bytes`
  uint8_t bytes[kBatchBytes];
};

inline void ClearBatch(LineBatch* batch) {
  batch->count = 0;
  batch->used = 0;
  batch->bytesUsed = 0;
}

// True when `line` can join the batch (an empty batch takes any line).
bool BatchTakes(const LineBatch& batch, const LogLine& line);

// Adds `line`, copying its record and text; BatchTakes must have said yes.
void AddToBatch(LineBatch* batch, const LogLine& line);

// Writes the batch's lines with one Write; when that fails, each line again
// with a Write of its own. Marks each line's `written`; returns how many
// were not written. The batch keeps its lines until ClearBatch.
uint32_t WriteBatch(const BuslogApi& api, LineBatch* batch);

// The batch's lines with one Write only; true (each line marked written)
// when it worked. After a failure the logger takes the lines one by one
// itself, trying each again while the storage fails (logger/log_frame.h).
bool WriteWholeBatch(const BuslogApi& api, LineBatch* batch);

// One line with a Write of its own; true when it was written.
bool WriteOneLine(const BuslogApi& api, const LogLine& line);

// The exact length before CR LF of the line the module writes for a CAN
// record of `recordSize` bytes (`extended`: the 29-bit form) with frame
// number, time stamp and the header of channel `channel`, followed by
// `extraText` bytes of text (",RTR", ",FD,x") and, with `hasError`, the
// error field.
uint32_t CanLineLength(uint32_t frameNumber, int32_t channel, bool extended, uint32_t recordSize,
                       uint32_t extraText, bool hasError);

}  // namespace buslog_host
