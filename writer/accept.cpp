// Taking a caller's frame in.
#include "accept.h"

#include <cstdio>
#include <cstring>

namespace buslog_writer {
namespace {

// CAN FD data lengths by length code.
constexpr uint8_t kFdLengths[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};

uint8_t FdCode(uint32_t length) {
  uint8_t code = 0;
  while (kFdLengths[code] < length) ++code;
  return code;
}

}  // namespace

const char* FrameProblem(const BuslogFrame& frame, char* why, size_t size) {
  bool extended = (frame.flags & BUSLOG_FRAME_EXTENDED) != 0;
  uint32_t widest = frame.type == BUSLOG_FRAME_FD ? kMaxFrameData : 8;
  if (frame.type > BUSLOG_FRAME_ERROR) {
    snprintf(why, size, "unknown frame type %u", frame.type);
  } else if (frame.micros > 999999) {
    snprintf(why, size, "%u microseconds are not a fraction of a second", frame.micros);
  } else if (frame.type == BUSLOG_FRAME_ERROR && frame.id > 0x1FFFFFFF) {
    snprintf(why, size, "error class 0x%X is wider than 29 bits", frame.id);
  } else if (frame.type != BUSLOG_FRAME_ERROR && frame.id > (extended ? 0x1FFFFFFFu : 0x7FFu)) {
    snprintf(why, size, "%s identifier 0x%X does not fit in %s bits", extended ? "extended" : "standard", frame.id,
             extended ? "29" : "11");
  } else if (frame.type == BUSLOG_FRAME_REMOTE && frame.lengthCode > 15) {
    snprintf(why, size, "a remote frame asks for a length code of 0 to 15, not %u", frame.lengthCode);
  } else if (frame.type != BUSLOG_FRAME_REMOTE && frame.dataLength > widest) {
    snprintf(why, size, "a %s carries at most %u data bytes, not %u",
             frame.type == BUSLOG_FRAME_FD ? "CAN FD frame" : "classic CAN frame", widest, frame.dataLength);
  } else if (frame.type != BUSLOG_FRAME_REMOTE && frame.dataLength > 0 && frame.data == nullptr) {
    snprintf(why, size, "%u data bytes and no data", frame.dataLength);
  } else if (frame.fdFlags > 15) {
    snprintf(why, size, "CAN FD flags %u are more than a digit", frame.fdFlags);
  } else {
    return nullptr;
  }
  return why;
}

void TakeFrame(const BuslogFrame& frame, Frame* out) {
  out->time = FrameTime{frame.seconds, frame.micros};
  out->id = frame.id;
  out->type = frame.type;
  out->flags = frame.flags & (BUSLOG_FRAME_EXTENDED | BUSLOG_FRAME_SENT);
  out->lengthCode = frame.lengthCode;
  out->fdFlags = frame.fdFlags;
  uint32_t length = frame.type == BUSLOG_FRAME_REMOTE ? 0 : frame.dataLength;
  if (length > 0) memcpy(out->data, frame.data, length);
  if (frame.type == BUSLOG_FRAME_FD) {
    out->lengthCode = FdCode(length);
    uint32_t padded = kFdLengths[out->lengthCode];
    memset(out->data + length, 0, padded - length);
    length = padded;
  }
  out->dataLength = static_cast<uint8_t>(length);
}

}  // namespace buslog_writer
