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

constexpr uint8_t kKinds = BUSLOG_FRAME_REMOTE | BUSLOG_FRAME_FD | BUSLOG_FRAME_ERROR;

uint8_t TypeOf(const BuslogFrame& frame) {
  if (frame.flags & BUSLOG_FRAME_ERROR) return kErrorFrame;
  if (frame.flags & BUSLOG_FRAME_REMOTE) return kRemoteFrame;
  if (frame.flags & BUSLOG_FRAME_FD) return kFdFrame;
  return kDataFrame;
}

}  // namespace

const char* FrameProblem(const BuslogFrame& frame, char* why, size_t size) {
  bool extended = (frame.flags & BUSLOG_FRAME_EXTENDED) != 0;
  uint8_t type = TypeOf(frame);
  uint8_t kinds = frame.flags & kKinds;
  uint32_t widest = type == kFdFrame ? kMaxFrameData : 8;
  if ((kinds & (kinds - 1)) != 0) {
    snprintf(why, size, "a frame is at most one of remote, CAN FD and error frame (flags 0x%02X)", frame.flags);
  } else if (frame.micros > 999999) {
    snprintf(why, size, "%u microseconds are not a fraction of a second", frame.micros);
  } else if (type == kErrorFrame && frame.id > 0x1FFFFFFF) {
    snprintf(why, size, "error class 0x%X is wider than 29 bits", frame.id);
  } else if (type != kErrorFrame && frame.id > (extended ? 0x1FFFFFFFu : 0x7FFu)) {
    snprintf(why, size, "%s identifier 0x%X does not fit in %s bits", extended ? "extended" : "standard", frame.id,
             extended ? "29" : "11");
  } else if (type == kRemoteFrame && frame.lengthCode > 15) {
    snprintf(why, size, "a remote frame asks for a length code of 0 to 15, not %u", frame.lengthCode);
  } else if (type != kRemoteFrame && frame.dataLength > widest) {
    snprintf(why, size, "a %s carries at most %u data bytes, not %u",
             type == kFdFrame ? "CAN FD frame" : "classic CAN frame", widest, frame.dataLength);
  } else if (type != kRemoteFrame && frame.dataLength > 0 && frame.data == nullptr) {
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
  out->type = TypeOf(frame);
  out->flags = frame.flags & (BUSLOG_FRAME_EXTENDED | BUSLOG_FRAME_SENT);
  out->lengthCode = frame.lengthCode;
  out->fdFlags = frame.fdFlags;
  if (out->fdFlags == 0) {
    out->fdFlags = static_cast<uint8_t>(((frame.flags & BUSLOG_FRAME_BRS) ? 1 : 0) | ((frame.flags & BUSLOG_FRAME_ESI) ? 2 : 0));
  }
  uint32_t length = out->type == kRemoteFrame ? 0 : frame.dataLength;
  if (length > 0) memcpy(out->data, frame.data, length);
  if (out->type == kFdFrame) {
    out->lengthCode = FdCode(length);
    uint32_t padded = kFdLengths[out->lengthCode];
    memset(out->data + length, 0, padded - length);
    length = padded;
  }
  out->dataLength = static_cast<uint8_t>(length);
}

}  // namespace buslog_writer
