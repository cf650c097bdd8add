// Frame number, time-stamp and error fields.
#include "format/fields.h"

namespace buslog {
namespace {

// The time stamp keeps its first 9 characters; the shortest text,
// "+0.000000", has exactly that many, so the field never varies in width.
constexpr uint32_t kTimeStampWidth = 9;
// "+%u.%06u" is at most a sign, 10 digits, a point and 10 digits.
constexpr uint32_t kTimeStampScratch = 24;
static_assert(1 + 10 + 1 + 10 + 1 <= kTimeStampScratch, "time stamp scratch too small");

}  // namespace

void FormatFrameNumber(TextSink& sink, uint32_t frameNumber) { PutDecimal(sink, frameNumber, 9); }

void FormatTimeStamp(TextSink& sink, uint32_t whole, uint32_t fraction) {
  char scratch[kTimeStampScratch];
  // Formatting into a sink of 9 bytes is the cut by position.
  TextSink stamp = MakeSink(scratch, scratch + kTimeStampWidth);
  PutChar(stamp, '+');  // "+%u.%06u"
  PutDecimal(stamp, whole, 1);
  PutChar(stamp, '.');
  PutDecimal(stamp, fraction, 6);
  PutChar(sink, ',');  // ",%s"
  PutBytes(sink, scratch, static_cast<uint32_t>(stamp.next - scratch));
}

void FormatErrorCode(TextSink& sink, uint32_t errorCode) {
  PutText(sink, ",(0:ERR=");  // ",(0:ERR=%08X)"
  PutHex(sink, errorCode, 8);
  PutChar(sink, ')');
}

}  // namespace buslog
