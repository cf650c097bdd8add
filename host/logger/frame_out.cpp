// One frame's fields and its Write.
#include "logger/frame_out.h"

#include "hex.h"

namespace buslog_host {

void PutFrameFields(const BuslogApi& api, uint32_t frameNumber, const Elapsed& since, int32_t channel,
                    const CandumpFrame& frame) {
  int32_t resultCount;
  uint32_t values[2] = {frameNumber, 0};
  api.PutFrameId(1, values, &resultCount);
  values[0] = static_cast<uint32_t>(since.seconds);
  values[1] = since.micros;
  api.PutTimeStamp(2, values, &resultCount);
  uint8_t record[kMaxCanRecord];
  uint32_t recordSize = BuildCanRecord(frame, record);
  int32_t status = frame.kind == CanFrameKind::kError ? BUSLOG_STATUS_NG : BUSLOG_STATUS_OK;
  api.PutFrame(frame.transmitted ? BUSLOG_KIND_OUT : BUSLOG_KIND_IN, BUSLOG_BUS_CAN, channel, status, recordSize,
               record, &resultCount);
  switch (frame.kind) {
    case CanFrameKind::kData:
      break;
    case CanFrameKind::kRemote:
      api.PutString(4, ",RTR", &resultCount);
      break;
    case CanFrameKind::kFd: {
      char field[5] = {',', 'F', 'D', ',', kHexDigits[frame.fdFlags & 0xF]};
      api.PutString(5, field, &resultCount);
      break;
    }
    case CanFrameKind::kError:
      values[0] = frame.id;
      api.PutError(1, values, &resultCount);
      break;
  }
}

bool WriteLine(const BuslogApi& api) {
  int32_t resultCount;
  void* cell;
  api.Write(0, nullptr, &resultCount, &cell);
  return *static_cast<uint8_t*>(cell) == BUSLOG_WRITE_OK;
}

}  // namespace buslog_host
