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

}  // namespace

void FormatCanFrame(TextSink& sink, uint32_t dataLength, const uint8_t* data) {
  if (dataLength == 0) return;
  TextSink out = sink;
  uint32_t flags = kFlagValue[data[0] >> 5];
  bool extended = (flags & 1) != 0;

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
