// Group commit's batch: adding lines, their lengths, and the Write.
#include "logger/batch.h"

#include <cstring>

namespace buslog_host {
namespace {

// What the module writes around a CAN record, before CR LF:
constexpr uint32_t kFrameNumberDigits = 9;  // "%09u"
constexpr uint32_t kTimeStampField = 10;    // ",+" and 8 more characters
constexpr uint32_t kKindField = 2;          // ",I"
constexpr uint32_t kBusNameField = 10;      // ",CAN     ,"
constexpr uint32_t kChannelWidth = 2;       // "%2s"
constexpr uint32_t kStatusField = 3;        // ",OK"
constexpr uint32_t kErrorField = 17;        // ",(0:ERR=%08X)"

uint32_t DecimalDigits(uint64_t value) {
  uint32_t digits = 1;
  while (value >= 10) {
    value /= 10;
    ++digits;
  }
  return digits;
}

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

bool Write(const BuslogApi& api) {
  int32_t count;
  void* cell;
  api.Write(0, nullptr, &count, &cell);
  return *static_cast<const uint8_t*>(cell) == BUSLOG_WRITE_OK;
}

}  // namespace

uint32_t CanLineLength(uint32_t frameNumber, int32_t channel, bool extended, uint32_t recordSize,
                       uint32_t extraText, bool hasError) {
  uint32_t length = frameNumber >= 1000000000u ? 10 : kFrameNumberDigits;
  length += kTimeStampField + kKindField + kBusNameField + kStatusField;
  // The channel as channel + 1 in 32 bits, at least two characters wide.
  int32_t shown = static_cast<int32_t>(static_cast<uint32_t>(channel) + 1u);
  uint32_t channelText = shown < 0 ? 1 + DecimalDigits(0 - static_cast<int64_t>(shown)) : DecimalDigits(shown);
  length += channelText < kChannelWidth ? kChannelWidth : channelText;
  // The body: ",%X," of the flags, then the identifier's bytes, the length
  // nibble and the data bytes as far as the record goes.
  uint32_t r = recordSize;
  if (r > 0) {
    if (!extended) {
      length += 4;                          // ",F,I" (flags, identifier 10..8)
      if (r > 1) length += 3;               // ",II"
      if (r >= 3) length += 2 + 3 * (r - 3);  // ",L" and ",DD" each
    } else {
      length += 5;                              // ",F,II" (flags, identifier 28..24)
      length += 3 * (r - 1 < 3 ? r - 1 : 3);    // ",II" each
      if (r >= 5) length += 2 + 3 * (r - 5);
    }
  }
  length += extraText;
  if (hasError) length += kErrorField;
  return length;
}

bool BatchTakes(const LineBatch& batch, const LogLine& line) {
  if (batch.count == 0) return true;
  if (batch.count == kBatchLines) return false;
  if (batch.bytesUsed + line.recordSize + line.textLength > kBatchBytes) return false;
  return static_cast<uint64_t>(batch.used) + 2 + line.length <= kLineLimit;
}

void AddToBatch(LineBatch* batch, const LogLine& line) {
  LogLine& kept = batch->lines[batch->count];
  kept = line;
  kept.written = false;
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

bool WriteWholeBatch(const BuslogApi& api, LineBatch* batch) {
  int32_t count;
  for (uint32_t i = 0; i < batch->count; ++i) {
    if (i > 0) api.PutString(2, "\r\n", &count);
    PutLine(api, batch->lines[i]);
  }
  if (!Write(api)) return false;
  for (uint32_t i = 0; i < batch->count; ++i) batch->lines[i].written = true;
  return true;
}

bool WriteOneLine(const BuslogApi& api, const LogLine& line) {
  PutLine(api, line);
  return Write(api);
}

uint32_t WriteBatch(const BuslogApi& api, LineBatch* batch) {
  if (batch->count == 0) return 0;
  if (WriteWholeBatch(api, batch)) return 0;
  // Nothing of the batch is in the log: each line alone, to learn which
  // cannot be written. A batch of one was that already.
  if (batch->count == 1) return 1;
  uint32_t failed = 0;
  for (uint32_t i = 0; i < batch->count; ++i) {
    PutLine(api, batch->lines[i]);
    batch->lines[i].written = Write(api);
    if (!batch->lines[i].written) ++failed;
  }
  return failed;
}

}  // namespace buslog_host
