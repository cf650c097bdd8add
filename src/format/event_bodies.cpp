// Port, environment-variable and marker bodies: the records that are not
// bus frames. Port and environment-variable records carry their own extent
// (pair count; name terminator and value length) and do not read the data
// length; a marker is bounded by it.
#include "format/bodies.h"

namespace buslog {
namespace {

// Pin character from the pin's bit in the first and in the second byte of
// its pair: equal bits give their digit, unequal ones the side that is set.
char PinCharacter(bool first, bool second) {
  if (first == second) return first ? '1' : '0';
  return first ? '+' : '-';
}

void PutPortFields(TextSink& out, const uint8_t* data) {
  uint32_t pairs = data[0];
  // Four pairs fill the 32-bit masks; later pairs fold onto the same bits.
  uint32_t firstMask = 0;
  uint32_t secondMask = 0;
  for (uint32_t i = 0; i < pairs; ++i) {
    uint32_t shift = (8 * i) % 32;
    firstMask |= static_cast<uint32_t>(data[1 + 2 * i]) << shift;
    secondMask |= static_cast<uint32_t>(data[2 + 2 * i]) << shift;
  }
  for (uint32_t pin = 1; pin <= 8 * pairs && !SinkFull(out); ++pin) {
    uint32_t bit = 1u << ((pin - 1) % 32);
    PutText(out, ",P");  // ",P%d=%c"
    PutDecimal(out, pin, 1);
    PutChar(out, '=');
    PutChar(out, PinCharacter((firstMask & bit) != 0, (secondMask & bit) != 0));
  }
}

void PutEnvironmentFields(TextSink& out, const uint8_t* data) {
  PutChar(out, ',');
  // The name ends only at its zero byte; stop reading once nothing more of
  // the line can be kept.
  const uint8_t* name = data;
  while (*name != 0) {
    if (SinkFull(out)) return;
    PutChar(out, static_cast<char>(*name));
    ++name;
  }
  uint32_t valueLength = (static_cast<uint32_t>(name[1]) << 8) | name[2];
  PutChar(out, ',');
  PutChar(out, '"');
  PutBytes(out, name + 3, valueLength);
  PutChar(out, '"');
}

void PutMarkerFields(TextSink& out, int32_t dataLength, const uint8_t* data) {
  PutChar(out, ',');
  for (int32_t i = 0; i < dataLength && !SinkFull(out) && data[i] != 0; ++i) {
    PutChar(out, static_cast<char>(data[i]));
  }
}

}  // namespace

void FormatPortBody(TextSink& sink, const uint8_t* data) {
  TextSink out = sink;
  PutPortFields(out, data);
  sink = out;
}

void FormatEnvironmentBody(TextSink& sink, const uint8_t* data) {
  TextSink out = sink;
  PutEnvironmentFields(out, data);
  sink = out;
}

void FormatMarkerBody(TextSink& sink, int32_t dataLength, const uint8_t* data) {
  TextSink out = sink;
  PutMarkerFields(out, dataLength, data);
  sink = out;
}

}  // namespace buslog
