// Record bodies, one per bus or kind. Each writes its fields, every one with
// a leading comma, directly behind the frame header, reading the record's
// bytes by its own rule and stopping early once the sink is full.
#pragma once

#include <cstdint>

#include "format/frame.h"
#include "output/text_sink.h"

namespace buslog {

// CAN, standard or extended form by the flag bits of byte 0:
// 07 FF 08 11 22 gives ",0,7,FF,8,11,22"; C1 02 03 04 C2 AA gives
// ",3,01,02,03,04,2,AA".
void FormatCanFrame(TextSink& sink, uint32_t dataLength, const uint8_t* data);

// LIN, bytes printed whole: 0A 3C 08 01 gives ",A,3C,8,01".
void FormatLinFrame(TextSink& sink, uint32_t dataLength, const uint8_t* data);

// CXPI, identifier and frame information split: 07 C5 B7 01 gives
// ",3,1,45,B,1,3,01".
void FormatCxpiFrame(TextSink& sink, uint32_t dataLength, const uint8_t* data);

// Port states pin by pin from the pair count in byte 0 (the data length is
// not read): 01 05 03 gives ",P1=1,P2=-,P3=+,P4=0,P5=0,P6=0,P7=0,P8=0".
void FormatPortBody(TextSink& sink, const uint8_t* data);

// Environment variable, name and quoted value (the data length is not read):
// 'A' 00 00 02 '1' '2' gives ",A,\"12\"".
void FormatEnvironmentBody(TextSink& sink, const uint8_t* data);

// Marker text up to its zero byte or `dataLength` bytes (signed; 0 or less
// means no text): "ABC\0xy" gives ",ABC".
void FormatMarkerBody(TextSink& sink, int32_t dataLength, const uint8_t* data);

}  // namespace buslog
