// The module calls of one line, and its length.
#include "lines.h"

#include <cstring>

#include "buslog_writer.h"
#include "hex_digits.h"

namespace buslog_writer {
namespace {

// What the module writes around a record, before CR LF:
constexpr uint32_t kFrameNumberDigits = 9;  // "%09u"
constexpr uint32_t kTimeStampField = 10;    // ",+" and 8 more characters
constexpr uint32_t kKindField = 2;          // ",I"
constexpr uint32_t kBusNameField = 10;      // ",CAN     ,"
constexpr uint32_t kChannelWidth = 2;       // "%2s"
constexpr uint32_t kStatusField = 3;        // ",OK"
constexpr uint32_t kErrorField = 17;        // ",(0:ERR=%08X)"
// A marker line before its text: "000000000" ",+0.000000" ",M" ",Marker  "
// ", -" ",OK" ",".
constexpr uint32_t kMarkerBeforeText = 9 + 10 + 2 + 9 + 3 + 3 + 1;

uint32_t DecimalDigits(uint64_t value) {
  uint32_t digits = 1;
  while (value >= 10) {
    value /= 10;
    ++digits;
  }
  return digits;
}

// The length nibble of a classic or error frame's record.
uint32_t ClassicNibble(const Frame& frame) {
  bool longCode = frame.dataLength == 8 && frame.lengthCode > 8 && frame.lengthCode <= 15;
  return longCode ? frame.lengthCode : frame.dataLength;
}

}  // namespace

bool TimeSince(const FrameTime& base, const FrameTime& time, Elapsed* since) {
  *since = Elapsed{0, 0};
  if (Earlier(time, base)) return false;
  since->seconds = time.seconds - base.seconds;
  if (time.micros >= base.micros) {
    since->micros = time.micros - base.micros;
  } else {
    --since->seconds;
    since->micros = time.micros + 1000000u - base.micros;
  }
  return true;
}

uint32_t CanLineLength(uint32_t frameNumber, int32_t channel, bool extended, uint32_t recordSize, uint32_t extraText,
                       bool hasError) {
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
      length += 4;                            // ",F,I" (flags, identifier 10..8)
      if (r > 1) length += 3;                 // ",II"
      if (r >= 3) length += 2 + 3 * (r - 3);  // ",L" and ",DD" each
    } else {
      length += 5;                            // ",F,II" (flags, identifier 28..24)
      length += 3 * (r - 1 < 3 ? r - 1 : 3);  // ",II" each
      if (r >= 5) length += 2 + 3 * (r - 5);
    }
  }
  length += extraText;
  if (hasError) length += kErrorField;
  return length;
}

void FrameLine(const Frame& frame, const Elapsed& since, FrameLineBytes* bytes, LogLine* out) {
  LogLine& line = *out;
  line = LogLine{};
  line.frameNumber = frame.number;
  line.seconds = static_cast<uint32_t>(since.seconds);
  line.micros = since.micros;
  line.kindCode = (frame.flags & BUSLOG_FRAME_SENT) != 0 ? BUSLOG_KIND_OUT : BUSLOG_KIND_IN;
  line.busCode = BUSLOG_BUS_CAN;
  line.channel = frame.channel;
  line.status = BUSLOG_STATUS_OK;
  line.record = bytes->record;
  line.text = bytes->text;
  bool extended = (frame.flags & BUSLOG_FRAME_EXTENDED) != 0;
  uint32_t nibble = ClassicNibble(frame);
  char* text = bytes->text;
  switch (frame.type) {
    case kRemoteFrame:
      nibble = frame.lengthCode;
      memcpy(text, ",RTR", 4);
      line.textLength = 4;
      line.kind = LineKind::kRemote;
      break;
    case kFdFrame:
      nibble = frame.lengthCode;
      memcpy(text, ",FD,", 4);
      text[4] = buslog_reader::kHexDigits[frame.fdFlags & 0xF];
      line.textLength = 5;
      line.kind = LineKind::kFd;
      break;
    case kErrorFrame:
      extended = true;
      line.status = BUSLOG_STATUS_NG;
      line.hasError = true;
      line.errorCode = frame.id;
      line.kind = LineKind::kError;
      break;
    default:
      line.kind = LineKind::kData;
      break;
  }
  line.recordSize = BuslogBuildCanRecord(bytes->record, sizeof bytes->record, extended ? BUSLOG_CAN_EXTENDED : 0,
                                         frame.id, nibble, frame.data, frame.dataLength);
  line.length = CanLineLength(frame.number, frame.channel, extended, line.recordSize, line.textLength, line.hasError);
}

bool MarkerLine(const Elapsed& since, const char* text, uint8_t* record, size_t size, LogLine* line) {
  size_t length = strlen(text);
  if (length + kMarkerBeforeText > kLineLimit) return false;
  *line = LogLine{};
  line->recordSize = BuslogBuildMarkerRecord(record, size, text);
  if (line->recordSize == 0) return false;
  line->seconds = static_cast<uint32_t>(since.seconds);
  line->micros = since.micros;
  line->kindCode = BUSLOG_KIND_MARKER;
  line->busCode = 0;
  line->status = BUSLOG_STATUS_OK;
  line->record = record;
  line->length = kMarkerBeforeText + static_cast<uint32_t>(length);
  line->kind = LineKind::kMarker;
  return true;
}

}  // namespace buslog_writer
