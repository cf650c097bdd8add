// CAN frame body. Byte 0 carries three flag bits (7..5) and the top of the
// identifier; the flag value is those bits in reversed order, and its bit 0
// (byte 0 bit 7) selects the extended form with a 29-bit identifier.
//   standard: flags|id10..8, id7..0, length nibble, data...
//   extended: flags|id28..24, id23..16, id15..8, id7..0, length nibble, data...
// The data length alone decides how many bytes are printed; the length
// nibble is printed as it stands.
#include "format/bodies.h"

namespace buslog {
namespace {

// Bits 7..5 of byte 0, read as a number, with their order reversed.
constexpr uint32_t kFlagValue[8] = {0, 4, 2, 6, 1, 5, 3, 7};

constexpr uint32_t kStandardHeaderBytes = 3;
constexpr uint32_t kExtendedHeaderBytes = 5;

// The body of a record that has room for 3 bytes per data byte and 3 more:
// the longest body (extended, 3 * length + 2) plus the spare byte of
// StoreCommaHexByte. Every store below stays inside that room.
char* StoreCanFrame(char* at, uint32_t flags, bool extended, uint32_t dataLength, const uint8_t* data) {
  at[0] = ',';
  at[1] = kHexDigits[flags];
  at[2] = ',';
  uint32_t headerBytes;
  if (!extended) {
    at[3] = kHexDigits[data[0] & 0x07u];
    at += 4;
    headerBytes = kStandardHeaderBytes;
  } else {
    StoreHexByte(at + 3, data[0] & 0x1Fu);
    at += 5;
    headerBytes = kExtendedHeaderBytes;
  }
  uint32_t idBytes = dataLength < headerBytes - 1 ? dataLength : headerBytes - 1;
  for (uint32_t i = 1; i < idBytes; ++i) at = StoreCommaHexByte(at, data[i]);
  if (dataLength >= headerBytes) {
    at[0] = ',';
    at[1] = kHexDigits[data[headerBytes - 1] & 0xFu];
    at += 2;
    for (uint32_t i = headerBytes; i < dataLength; ++i) at = StoreCommaHexByte(at, data[i]);
  }
  return at;
}

}  // namespace

void FormatCanFrame(TextSink& sink, uint32_t dataLength, const uint8_t* data) {
  if (dataLength == 0) return;
  TextSink out = sink;
  uint32_t flags = kFlagValue[data[0] >> 5];
  bool extended = (flags & 1) != 0;
  if (SinkRoom(out) / 3 > dataLength) {
    sink.next = StoreCanFrame(out.next, flags, extended, dataLength, data);
    return;
  }
  // Too little room for all of it: field by field, cut at the end.

  PutChar(out, ',');
  PutHexDigit(out, flags);
  PutChar(out, ',');
  uint32_t headerBytes;
  if (!extended) {
    PutHexDigit(out, data[0] & 0x07u);  // ",%X,%X"
    if (dataLength > 1) PutCommaHexByte(out, data[1]);
    headerBytes = kStandardHeaderBytes;
  } else {
    PutHexByte(out, data[0] & 0x1Fu);  // ",%X,%02X"
    PutCommaHexBytes(out, data + 1, dataLength < 4 ? dataLength - 1 : 3);
    headerBytes = kExtendedHeaderBytes;
  }
  if (dataLength >= headerBytes) {
    PutChar(out, ',');  // ",%X" of the length nibble
    PutHexDigit(out, data[headerBytes - 1]);
    PutCommaHexBytes(out, data + headerBytes, dataLength - headerBytes);
  }
  sink = out;
}

}  // namespace buslog
