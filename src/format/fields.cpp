// Frame number, time-stamp and error fields.
#include "format/fields.h"

namespace buslog {
namespace {

constexpr uint32_t kFrameNumberDigits = 9;
constexpr uint32_t kBelowTenDigits = 1000000000;

// The time stamp keeps its first 9 characters; the shortest text,
// "+0.000000", has exactly that many, so the field never varies in width.
constexpr uint32_t kTimeStampWidth = 9;
constexpr uint32_t kFractionDigits = 6;
// "+%u.%06u" is at most a sign, 10 digits, a point and 10 digits.
constexpr uint32_t kTimeStampScratch = 24;
static_assert(1 + 10 + 1 + 10 <= kTimeStampScratch, "time stamp scratch too small");

}  // namespace

void FormatFrameNumber(TextSink& sink, uint32_t frameNumber) {
  // "%09u": the usual number of nine digits or fewer as one digit and two
  // groups of four.
  if (frameNumber < kBelowTenDigits && SinkRoom(sink) >= kFrameNumberDigits) {
    char* at = sink.next;
    uint32_t low8 = frameNumber % 100000000;
    at[0] = static_cast<char>('0' + frameNumber / 100000000);
    StoreFourDigits(at + 1, low8 / 10000);
    StoreFourDigits(at + 5, low8 % 10000);
    sink.next = at + kFrameNumberDigits;
    return;
  }
  PutDecimal(sink, frameNumber, kFrameNumberDigits);
}

void FormatTimeStamp(TextSink& sink, uint32_t whole, uint32_t fraction) {
  // The whole text of "+%u.%06u", then its first 9 characters.
  char text[kTimeStampScratch];
  text[0] = '+';
  uint32_t wholeDigits = DecimalDigits(whole, 1);
  StoreDecimalDigits(text + 1 + wholeDigits, whole, wholeDigits);
  char* point = text + 1 + wholeDigits;
  *point = '.';
  if (fraction < 1000000) {
    StoreTwoDigits(point + 1, fraction / 10000);
    StoreFourDigits(point + 3, fraction % 10000);
  } else {
    TextSink rest = MakeSink(point + 1, text + sizeof text);
    PutDecimal(rest, fraction, kFractionDigits);
  }
  TextSink out = sink;
  PutChar(out, ',');  // ",%s"
  PutBytes(out, text, kTimeStampWidth);
  sink = out;
}

void FormatErrorCode(TextSink& sink, uint32_t errorCode) {
  TextSink out = sink;
  PutText(out, ",(0:ERR=");  // ",(0:ERR=%08X)"
  PutHex(out, errorCode, 8);
  PutChar(out, ')');
  sink = out;
}

}  // namespace buslog
