// Group commit's batch: adding lines, and the Write.
#include "batch.h"

#include <cstring>

namespace buslog_writer {
namespace {

void PutLine(const BuslogApi& api, const LogLine& line) {
  int32_t count;
  uint32_t values[2] = {line.frameNumber, 0};
  api.PutFrameId(1, values, &count);
  values[0] = line.seconds;
  values[1] = line.micros;
  api.PutTimeStamp(2, values, &count);
  api.PutFrame(line.kindCode, line.busCode, line.channel, line.status, line.recordSize, line.record, &count);
  if (line.textLength > 0) api.PutString(line.textLength, line.text, &count);
  if (line.hasError) api.PutError(1, &line.errorCode, &count);
}

}  // namespace

bool BatchTakes(const LineBatch& batch, const LogLine* lines, uint32_t count) {
  if (batch.count == 0 && count == 1) return true;
  if (batch.count + count > kBatchLines) return false;
  uint64_t length = 0;
  size_t bytes = 0;
  for (uint32_t i = 0; i < count; ++i) {
    length += lines[i].length;
    bytes += lines[i].recordSize + lines[i].textLength;
  }
  return batch.bytesUsed + bytes <= kBatchBytes && BatchTextWith(batch, count, length) <= kLineLimit;
}

void AddToBatch(LineBatch* batch, const LogLine& line) {
  LogLine& kept = batch->lines[batch->count];
  kept = line;
  // A line alone in its batch may be larger than the room kept: it is
  // written before anything else comes, so its own bytes serve.
  size_t size = static_cast<size_t>(line.recordSize) + line.textLength;
  if (batch->bytesUsed + size <= kBatchBytes) {
    uint8_t* at = batch->bytes + batch->bytesUsed;
    if (line.recordSize > 0) memcpy(at, line.record, line.recordSize);
    if (line.textLength > 0) memcpy(at + line.recordSize, line.text, line.textLength);
    kept.record = at;
    kept.text = reinterpret_cast<const char*>(at + line.recordSize);
    batch->bytesUsed += size;
  }
  batch->used += (batch->count > 0 ? 2 : 0) + line.length;
  ++batch->count;
}

bool WriteBatch(const BuslogApi& api, const LineBatch& batch) {
  int32_t count;
  for (uint32_t i = 0; i < batch.count; ++i) {
    if (i > 0) api.PutString(2, "\r\n", &count);
    PutLine(api, batch.lines[i]);
  }
  void* cell;
  api.Write(0, nullptr, &count, &cell);
  return *static_cast<const uint8_t*>(cell) == BUSLOG_WRITE_OK;
}

}  // namespace buslog_writer
