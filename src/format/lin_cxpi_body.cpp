// LIN and CXPI frame bodies: fixed fields for the first three bytes, then
// ",%02X" for every further byte the data length covers. The CXPI DLC is
// printed, never used to count bytes.
#include "format/bodies.h"

namespace buslog {
namespace {

// ",%02X" of bytes 3 to dataLength - 1, shared by both buses.
void PutTrailingBytes(TextSink& out, uint32_t dataLength, const uint8_t* data) {
  if (dataLength > 3) PutCommaHexBytes(out, data + 3, dataLength - 3);
}

void PutLinFields(TextSink& out, uint32_t dataLength, const uint8_t* data) {
  if (dataLength == 0) return;
  PutChar(out, ',');  // ",%X" of byte 0
  PutHex(out, data[0], 1);
  if (dataLength == 1) return;
  PutCommaHexByte(out, data[1]);
  if (dataLength == 2) return;
  PutChar(out, ',');  // ",%X" of byte 2
  PutHex(out, data[2], 1);
  PutTrailingBytes(out, dataLength, data);
}

void PutCxpiFields(TextSink& out, uint32_t dataLength, const uint8_t* data) {
  if (dataLength == 0) return;
  PutChar(out, ',');  // ",%X" of the two-bit value in byte 0
  PutHexDigit(out, data[0] & 0x03u);
  if (dataLength == 1) return;
  // ",%X,%02X" of the protected identifier: parity bit, frame ID.
  PutChar(out, ',');
  PutHexDigit(out, data[1] >> 7);
  PutChar(out, ',');
  PutHexByte(out, data[1] & 0x7Fu);
  if (dataLength == 2) return;
  // ",%X,%X,%X" of the frame information: DLC, NM, CT.
  PutChar(out, ',');
  PutHexDigit(out, data[2] >> 4);
  PutChar(out, ',');
  PutHexDigit(out, (data[2] >> 2) & 0x03u);
  PutChar(out, ',');
  PutHexDigit(out, data[2] & 0x03u);
  PutTrailingBytes(out, dataLength, data);
}

}  // namespace

void FormatLinFrame(TextSink& sink, uint32_t dataLength, const uint8_t* data) {
  TextSink out = sink;
  PutLinFields(out, dataLength, data);
  sink = out;
}

void FormatCxpiFrame(TextSink& sink, uint32_t dataLength, const uint8_t* data) {
  TextSink out = sink;
  PutCxpiFields(out, dataLength, data);
  sink = out;
}

}  // namespace buslog
