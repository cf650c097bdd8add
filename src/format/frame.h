// Frame records: recognition, the frame header, the choice of body, and the
// generic hexadecimal form for every record that is not recognised.
#pragma once

#include <cstdint>

#include "output/text_sink.h"

namespace buslog {

struct FrameRecord {
  uint32_t kindCode;
  uint32_t busCode;
  int32_t channel;
  int32_t statusFlag;
  uint32_t dataLength;
  const uint8_t* data;
};

// Writes the frame header and body of a recognised record and returns true;
// for a record it does not recognise it writes nothing and returns false.
// Example, a CAN record on channel 0 with bytes 07 FF 08 11:
//   ",I,CAN     , 1,OK,0,7,FF,8,11"
bool FormatFrame(TextSink& sink, const FrameRecord& record);

// Writes ",%04X,%02X,%02X,%X" of kind code, bus code, channel and status
// flag, then ",%02X" of each data byte: ",3030,00,01,0,AB,01".
void FormatGenericRecord(TextSink& sink, const FrameRecord& record);

}  // namespace buslog
