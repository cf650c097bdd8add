// Number conversions of the bounded writer. Each writes its digits straight
// into the sink when they fit, and otherwise builds them in a scratch of one
// field and appends as many as fit through PutBytes.
#include "output/text_sink.h"

namespace buslog {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Longest text of a 32-bit value: 10 decimal digits and a sign.
constexpr uint32_t kNumberScratch = 12;

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr uint32_t kPowersOfTen[10] = {1,      10,      100,      1000,      10000,
                                       100000, 1000000, 10000000, 100000000, 1000000000};

// Digits of "%0*u": at least `minDigits` (1 to 10), more as the value needs.
uint32_t DecimalDigits(uint32_t value, uint32_t minDigits) {
  uint32_t digits = minDigits < 1 ? 1 : (minDigits < 10 ? minDigits : 10);
  while (digits < 10 && value >= kPowersOfTen[digits]) ++digits;
  return digits;
}

}  // namespace

void PutHex(TextSink& sink, uint32_t value, uint32_t minDigits) {
  uint32_t digits = 1;
  while (digits < 8 && (value >> (4 * digits)) != 0) ++digits;
  if (digits < minDigits) digits = minDigits < 8 ? minDigits : 8;
  char scratch[kNumberScratch];
  // Straight into the line when it has room, else through the scratch.
  bool direct = SinkRoom(sink) >= digits;
  char* last = direct ? sink.next + digits : scratch + digits;
  for (char* at = last; at != last - digits;) {
    *--at = kHexDigits[value & 0xF];
    value >>= 4;
  }
  if (direct) {
    sink.next = last;
  } else {
    PutBytes(sink, scratch, digits);
  }
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

void PutCommaHexBytes(TextSink& sink, const uint8_t* bytes, uint32_t count) {
  // Whole fields straight into the line; the sink's cursor lives in a local
  // so that the byte stores need not reload it.
  uint32_t whole = SinkRoom(sink) / 3;
  uint32_t direct = count < whole ? count : whole;
  char* next = sink.next;
  for (uint32_t i = 0; i < direct; ++i) {
    next[0] = ',';
    next[1] = kHexDigits[bytes[i] >> 4];
    next[2] = kHexDigits[bytes[i] & 0xF];
    next += 3;
  }
  sink.next = next;
  // At most one field is cut at the end of the room.
  if (direct < count) PutCommaHexByte(sink, bytes[direct]);
}

void PutDecimal(TextSink& sink, uint32_t value, uint32_t minDigits) {
  uint32_t digits = DecimalDigits(value, minDigits);
  char scratch[kNumberScratch];
  bool direct = SinkRoom(sink) >= digits;
  char* first = direct ? sink.next : scratch;
  char* at = first + digits;
  // Two digits a step, from the right; the leading positions become zeros.
  while (value >= 100) {
    const char* pair = kDigitPairs + 2 * (value % 100);
    value /= 100;
    *--at = pair[1];
    *--at = pair[0];
  }
  if (value >= 10) {
    const char* pair = kDigitPairs + 2 * value;
    *--at = pair[1];
    *--at = pair[0];
  } else {
    *--at = static_cast<char>('0' + value);
  }
  while (at != first) *--at = '0';
  if (direct) {
    sink.next = first + digits;
  } else {
    PutBytes(sink, scratch, digits);
  }
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
