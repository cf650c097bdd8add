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
  uint32_t flags = kFlagValue[data[0] >> 5];
  bool extended = (flags & 1) != 0;

  PutChar(sink, ',');
  PutHex(sink, flags, 1);
  PutChar(sink, ',');
  uint32_t headerBytes;
  if (!extended) {
    PutHex(sink, data[0] & 0x07u, 1);  // ",%X,%X"
    if (dataLength > 1) PutCommaHexByte(sink, data[1]);
    headerBytes = kStandardHeaderBytes;
  } else {
    PutHex(sink, data[0] & 0x1Fu, 2);  // ",%X,%02X"
    PutCommaHexBytes(sink, data + 1, dataLength < 4 ? dataLength - 1 : 3);
    headerBytes = kExtendedHeaderBytes;
  }
  if (dataLength < headerBytes) return;

  PutChar(sink, ',');  // ",%X" of the length nibble
  PutHex(sink, data[headerBytes - 1] & 0x0Fu, 1);
  PutCommaHexBytes(sink, data + headerBytes, dataLength - headerBytes);
}

}  // namespace buslog
