// Group commit: the lines at hand go to the module with one Write.
//
// The module copies PutString's bytes unchanged, so the fields of several
// lines, each but the last followed by PutString of CR LF, make with one
// Write the very bytes that one Write a line would, with one system call
// and one sync for all of them. A Write holds at most kLineLimit bytes
// before its CR LF, so each line comes with its exact length and a batch
// takes a line only while the sum stays within the limit. A Write that
// fails leaves nothing of its batch in the log (the module cuts a partial
// write off); the batch keeps its frames, so that each can be written again
// alone.
#pragma once

#include <cstddef>
#include <cstdint>

#include "buslog.h"
#include "frame.h"
#include "lines.h"

namespace buslog_writer {

// The most lines a batch holds (a CAN line has 45 bytes or more).
constexpr uint32_t kBatchLines = 128;
// Bytes of records and text the batch keeps for its lines.
constexpr size_t kBatchBytes = 8192;

struct LineBatch {
  LogLine lines[kBatchLines];
  uint32_t count;
  uint32_t used;       // bytes of the batch's text, CR LF between lines included
  size_t bytesUsed;    // of `bytes`
  uint8_t bytes[kBatchBytes];
  Frame frames[kBatchLines];  // the frames whose lines are in the batch, in order
  uint32_t frameCount;
};

inline void ClearBatch(LineBatch* batch) {
  batch->count = 0;
  batch->used = 0;
  batch->bytesUsed = 0;
  batch->frameCount = 0;
}

// Bytes the batch's text would take with `lines` more lines of `length`
// bytes in all (their CR LF included).
inline uint64_t BatchTextWith(const LineBatch& batch, uint32_t lines, uint64_t length) {
  return batch.used + length + 2ull * lines - (batch.count == 0 && lines > 0 ? 2 : 0);
}

// True when the lines `lines[0..count)` can join the batch together (an
// empty batch takes any one line).
bool BatchTakes(const LineBatch& batch, const LogLine* lines, uint32_t count);

// Adds `line`, copying its record and text; BatchTakes must have said yes.
void AddToBatch(LineBatch* batch, const LogLine& line);

// Writes the batch's lines with one Write; true when it worked.
bool WriteBatch(const BuslogApi& api, const LineBatch& batch);

}  // namespace buslog_writer
