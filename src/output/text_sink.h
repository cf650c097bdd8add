// The bounded writer that every field of a log line is written through. A
// sink covers the free room of the line; whatever does not fit is dropped
// byte by byte, so a formatter never needs a bound check of its own and no
// record can make it write past its room.
#pragma once

#include <cstdint>
#include <cstring>

namespace buslog {

struct TextSink {
  char* next;  // where the next byte goes
  char* end;   // one past the last byte of room
};

inline TextSink MakeSink(char* begin, char* end) { return TextSink{begin, end}; }

inline bool SinkFull(const TextSink& sink) { return sink.next == sink.end; }

inline uint32_t SinkRoom(const TextSink& sink) { return static_cast<uint32_t>(sink.end - sink.next); }

// Appends one byte, or nothing when the sink is full.
inline void PutChar(TextSink& sink, char c) {
  if (sink.next != sink.end) *sink.next++ = c;
}

// Appends the first `count` bytes at `bytes`, as many as there is room for.
inline void PutBytes(TextSink& sink, const void* bytes, uint32_t count) {
  uint32_t room = SinkRoom(sink);
  if (count > room) count = room;
  memcpy(sink.next, bytes, count);
  sink.next += count;
}

// Appends a zero-terminated literal.
inline void PutText(TextSink& sink, const char* text) {
  PutBytes(sink, text, static_cast<uint32_t>(strlen(text)));
}

// Appends `value` in upper-case hexadecimal with at least `minDigits` digits:
// the text of "%X" (minDigits 1), "%02X", "%04X" or "%08X".
void PutHex(TextSink& sink, uint32_t value, uint32_t minDigits);

// Appends ",%02X" of `byte`: a comma and two upper-case hexadecimal digits.
void PutCommaHexByte(TextSink& sink, uint8_t byte);

// Appends ",%02X" of each of the `count` bytes at `bytes`, reading no more
// of them than the sink has room for: ",11,22,33".
void PutCommaHexBytes(TextSink& sink, const uint8_t* bytes, uint32_t count);

// Appends `value` in decimal with at least `minDigits` digits, zero-padded:
// the text of "%u" (minDigits 1), "%06u" or "%09u".
void PutDecimal(TextSink& sink, uint32_t value, uint32_t minDigits);

// Appends "%d" of `value`: a minus sign for negative values, no padding.
void PutSignedDecimal(TextSink& sink, int32_t value);

}  // namespace buslog
