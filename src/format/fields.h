// The short fields of a line: frame number, time stamp and error code.
#pragma once

#include <cstdint>

#include "output/text_sink.h"

namespace buslog {

// "%09u" of `frameNumber`, the one field without a leading comma:
// 123 gives "000000123", 4294967295 gives "4294967295".
void FormatFrameNumber(TextSink& sink, uint32_t frameNumber);

// ",%s" of "+%u.%06u" of (whole, fraction) cut after 9 characters, always 10
// characters: (1, 234567) gives ",+1.234567", (12345, 678901) ",+12345.67",
// (123456789, 0) ",+12345678".
void FormatTimeStamp(TextSink& sink, uint32_t whole, uint32_t fraction);

// ",(0:ERR=%08X)" of `errorCode`: 0x1F gives ",(0:ERR=0000001F)".
void FormatErrorCode(TextSink& sink, uint32_t errorCode);

}  // namespace buslog
