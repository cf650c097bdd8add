// LIN and CXPI frame bodies: fixed fields for the first three bytes, then
// ",%02X" for every further byte the data length covers. The CXPI DLC is
// printed, never used to count bytes.
#include "format/bodies.h"

namespace buslog {
namespace {

// ",%02X" of bytes 3 to dataLength - 1, shared by both buses.
void PutTrailingBytes(TextSink& sink, uint32_t dataLength, const uint8_t* data) {
  if (dataLength > 3) PutCommaHexBytes(sink, data + 3, dataLength - 3);
}

}  // namespace

void FormatLinFrame(TextSink& sink, uint32_t dataLength, const uint8_t* data) {
  if (dataLength == 0) return;
  PutChar(sink, ',');  // ",%X" of byte 0
  PutHex(sink, data[0], 1);
  if (dataLength == 1) return;
  PutCommaHexByte(sink, data[1]);
  if (dataLength == 2) return;
  PutChar(sink, ',');  // ",%X" of byte 2
  PutHex(sink, data[2], 1);
  PutTrailingBytes(sink, dataLength, data);
}

void FormatCxpiFrame(TextSink& sink, uint32_t dataLength, const uint8_t* data) {
  if (dataLength == 0) return;
  PutChar(sink, ',');  // ",%X" of the two-bit value in byte 0
  PutHex(sink, data[0] & 0x03u, 1);
  if (dataLength == 1) return;
  // ",%X,%02X" of the protected identifier: parity bit, frame ID.
  PutChar(sink, ',');
  PutHex(sink, data[1] >> 7, 1);
  PutChar(sink, ',');
  PutHex(sink, data[1] & 0x7Fu, 2);
  if (dataLength == 2) return;
  // ",%X,%X,%X" of the frame information: DLC, NM, CT.
  PutChar(sink, ',');
  PutHex(sink, data[2] >> 4, 1);
  PutChar(sink, ',');
  PutHex(sink, (data[2] >> 2) & 0x03u, 1);
  PutChar(sink, ',');
  PutHex(sink, data[2] & 0x03u, 1);
  PutTrailingBytes(sink, dataLength, data);
}

}  // namespace buslog
