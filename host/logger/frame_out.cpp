// One frame's line.
#include "logger/frame_out.h"

#include "hex.h"

namespace buslog_host {

LogLine FrameLine(uint32_t frameNumber, const Elapsed& since, int32_t channel, const CandumpFrame& frame,
                  uint8_t* record, char* text) {
  LogLine line = {};
  line.frameNumber = frameNumber;
  line.seconds = static_cast<uint32_t>(since.seconds);
  line.micros = since.micros;
  line.kindCode = frame.transmitted ? BUSLOG_KIND_OUT : BUSLOG_KIND_IN;
  line.busCode = BUSLOG_BUS_CAN;
  line.channel = channel;
  line.status = frame.kind == CanFrameKind::kError ? BUSLOG_STATUS_NG : BUSLOG_STATUS_OK;
  line.recordSize = BuildCanRecord(frame, record);
  line.record = record;
  line.text = text;
  switch (frame.kind) {
    case CanFrameKind::kData:
      line.kind = LineKind::kData;
      break;
    case CanFrameKind::kRemote:
      text[0] = ',';
      text[1] = 'R';
      text[2] = 'T';
      text[3] = 'R';
      line.textLength = 4;
      line.kind = LineKind::kRemote;
      break;
    case CanFrameKind::kFd:
      text[0] = ',';
      text[1] = 'F';
      text[2] = 'D';
      text[3] = ',';
      text[4] = kHexDigits[frame.fdFlags & 0xF];
      line.textLength = 5;
      line.kind = LineKind::kFd;
      break;
    case CanFrameKind::kError:
      line.hasError = true;
      line.errorCode = frame.id;
      line.kind = LineKind::kError;
      break;
  }
  // The module reads the extended form from the record's first byte.
  bool extended = line.recordSize > 0 && (record[0] & 0x80) != 0;
  line.length = CanLineLength(frameNumber, channel, extended, line.recordSize, line.textLength, line.hasError);
  return line;
}

}  // namespace buslog_host
