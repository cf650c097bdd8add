// Number conversions of the bounded writer. Each builds its digits in a
// scratch of one field and appends them whole through PutBytes.
#include "output/text_sink.h"

namespace buslog {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Longest text of a 32-bit value: 10 decimal digits and a sign.
constexpr uint32_t kNumberScratch = 12;

}  // namespace

void PutHex(TextSink& sink, uint32_t value, uint32_t minDigits) {
  char scratch[kNumberScratch];
  char* first = scratch + kNumberScratch;
  uint32_t digits = 0;
  do {
    *--first = kHexDigits[value & 0xF];
    value >>= 4;
    ++digits;
  } while (value != 0);
  while (digits < minDigits && digits < 8) {
    *--first = '0';
    ++digits;
  }
  PutBytes(sink, first, digits);
}

void PutCommaHexByte(TextSink& sink, uint8_t byte) {
  if (SinkRoom(sink) >= 3) {
    sink.next[0] = ',';
    sink.next[1] = kHexDigits[byte >> 4];
    sink.next[2] = kHexDigits[byte & 0xF];
    sink.next += 3;
    return;
  }
  const char field[3] = {',', kHexDigits[byte >> 4], kHexDigits[byte & 0xF]};
  PutBytes(sink, field, 3);
}

void PutDecimal(TextSink& sink, uint32_t value, uint32_t minDigits) {
  char scratch[kNumberScratch];
  char* first = scratch + kNumberScratch;
  uint32_t digits = 0;
  do {
    *--first = static_cast<char>('0' + value % 10);
    value /= 10;
    ++digits;
  } while (value != 0);
  while (digits < minDigits && digits < 10) {
    *--first = '0';
    ++digits;
  }
  PutBytes(sink, first, digits);
}

void PutSignedDecimal(TextSink& sink, int32_t value) {
  // The magnitude of INT32_MIN does not fit an int32_t; take it unsigned.
  uint32_t magnitude = static_cast<uint32_t>(value);
  if (value < 0) {
    PutChar(sink, '-');
    magnitude = 0u - magnitude;
  }
  PutDecimal(sink, magnitude, 1);
}

}  // namespace buslog
