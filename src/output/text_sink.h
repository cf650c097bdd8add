// The bounded writer that every field of a log line is written through. A
// sink covers the free room of the line; whatever does not fit is dropped
// byte by byte, so a formatter never needs a bound check of its own and no
// record can make it write past its room.
//
// Every helper is inline. A formatter that writes more than one field works
// on a local copy of its sink and stores it back at the end: a byte stored
// through a char pointer may alias any object in memory, so a sink reached
// through a reference would be reloaded after every byte, while a local one
// whose address is never taken stays in registers.
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
// A count known to the compiler copies in a few moves when it fits.
inline void PutBytes(TextSink& sink, const void* bytes, uint32_t count) {
  uint32_t room = SinkRoom(sink);
  if (count <= room) {
    memcpy(sink.next, bytes, count);
    sink.next += count;
    return;
  }
  memcpy(sink.next, bytes, room);
  sink.next = sink.end;
}

// Appends a zero-terminated literal.
inline void PutText(TextSink& sink, const char* text) {
  PutBytes(sink, text, static_cast<uint32_t>(strlen(text)));
}

inline constexpr char kHexDigits[] = "0123456789ABCDEF";

// "%02X" of every byte value, two characters each: one load per byte.
struct HexPairTable {
  char pairs[2 * 256];
};
constexpr HexPairTable MakeHexPairTable() {
  HexPairTable table = {};
  for (int byte = 0; byte < 256; ++byte) {
    table.pairs[2 * byte] = kHexDigits[byte >> 4];
    table.pairs[2 * byte + 1] = kHexDigits[byte & 0xF];
  }
  return table;
}
inline constexpr HexPairTable kHexPairs = MakeHexPairTable();

// Stores "%02X" of `byte` at `at`; the caller has made sure of the room.
inline void StoreHexByte(char* at, uint8_t byte) { memcpy(at, kHexPairs.pairs + 2 * byte, 2); }

inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline constexpr uint32_t kPowersOfTen[10] = {1,      10,      100,      1000,      10000,
                                              100000, 1000000, 10000000, 100000000, 1000000000};

// Room for the longest number text: 10 decimal digits and a sign.
constexpr uint32_t kNumberScratch = 12;

// Appends "%X" of a value below 16: one upper-case hexadecimal digit.
inline void PutHexDigit(TextSink& sink, uint32_t nibble) { PutChar(sink, kHexDigits[nibble & 0xF]); }

// Appends "%02X" of `byte`.
inline void PutHexByte(TextSink& sink, uint8_t byte) {
  if (SinkRoom(sink) >= 2) {
    StoreHexByte(sink.next, byte);
    sink.next += 2;
    return;
  }
  PutChar(sink, kHexDigits[byte >> 4]);
}

// Appends ",%02X" of `byte`: a comma and two upper-case hexadecimal digits.
inline void PutCommaHexByte(TextSink& sink, uint8_t byte) {
  PutChar(sink, ',');
  PutHexByte(sink, byte);
}

// ",%02X" of every byte value and one more byte, as one 32-bit word each.
struct CommaHexTable {
  uint32_t fields[256];
};
constexpr CommaHexTable MakeCommaHexTable() {
  CommaHexTable table = {};
  for (uint32_t byte = 0; byte < 256; ++byte) {
    uint32_t high = static_cast<unsigned char>(kHexDigits[byte >> 4]);
    uint32_t low = static_cast<unsigned char>(kHexDigits[byte & 0xF]);
    table.fields[byte] = ',' | high << 8 | low << 16;  // lowest byte first
  }
  return table;
}
inline constexpr CommaHexTable kCommaHex = MakeCommaHexTable();

// Stores ",%02X" of `byte` at `at` with one 4-byte move and returns the
// end of the field. The fourth byte is a zero that the next field or the
// line end overwrites: the caller has made sure of room for 4 bytes.
inline char* StoreCommaHexByte(char* at, uint8_t byte) {
  memcpy(at, &kCommaHex.fields[byte], 4);
  return at + 3;
}

// Appends ",%02X" of each of the `count` bytes at `bytes`, reading no more
// of them than the sink has room for: ",11,22,33".
inline void PutCommaHexBytes(TextSink& sink, const uint8_t* bytes, uint32_t count) {
  // Whole fields straight into the line, each stored with the spare byte
  // behind it inside the room; at most one field is cut at the end.
  uint32_t room = SinkRoom(sink);
  uint32_t whole = room == 0 ? 0 : (room - 1) / 3;
  uint32_t direct = count < whole ? count : whole;
  char* next = sink.next;
  for (uint32_t i = 0; i < direct; ++i) next = StoreCommaHexByte(next, bytes[i]);
  sink.next = next;
  if (direct < count) PutCommaHexByte(sink, bytes[direct]);
}

// Appends `value` in upper-case hexadecimal with at least `minDigits` digits:
// the text of "%X" (minDigits 1), "%02X", "%04X" or "%08X".
inline void PutHex(TextSink& sink, uint32_t value, uint32_t minDigits) {
  uint32_t digits = 1;
  while (digits < 8 && (value >> (4 * digits)) != 0) ++digits;
  if (digits < minDigits) digits = minDigits < 8 ? minDigits : 8;
  // Straight into the line when it has room, else through a scratch.
  char scratch[kNumberScratch];
  bool direct = SinkRoom(sink) >= digits;
  char* last = (direct ? sink.next : scratch) + digits;
  for (char* at = last; at != last - digits;) {
    *--at = kHexDigits[value & 0xF];
    value >>= 4;
  }
  if (direct) {
    sink.next = last;
  } else {
    PutBytes(sink, scratch, digits);
  }
}

// Stores the two digits of `value` (below 100) at `at`.
inline void StoreTwoDigits(char* at, uint32_t value) { memcpy(at, kDigitPairs + 2 * value, 2); }

// Stores the four digits of `value` (below 10000), leading zeros included,
// at `at`.
inline void StoreFourDigits(char* at, uint32_t value) {
  StoreTwoDigits(at, value / 100);
  StoreTwoDigits(at + 2, value % 100);
}

// Stores the `digits` lowest decimal digits of `value`, leading zeros
// included, in the `digits` bytes before `end`, two digits a step from the
// right. The caller has made sure of the room.
inline void StoreDecimalDigits(char* end, uint32_t value, uint32_t digits) {
  for (; digits >= 2; digits -= 2) {
    end -= 2;
    StoreTwoDigits(end, value % 100);
    value /= 100;
  }
  if (digits == 1) end[-1] = static_cast<char>('0' + value % 10);
}

// Digits of "%0*u": at least `minDigits` (1 to 10), more as the value needs.
inline uint32_t DecimalDigits(uint32_t value, uint32_t minDigits) {
  uint32_t digits = minDigits < 1 ? 1 : (minDigits < 10 ? minDigits : 10);
  while (digits < 10 && value >= kPowersOfTen[digits]) ++digits;
  return digits;
}

// Appends `value` in decimal with at least `minDigits` digits, zero-padded:
// the text of "%u" (minDigits 1), "%06u" or "%09u".
inline void PutDecimal(TextSink& sink, uint32_t value, uint32_t minDigits) {
  uint32_t digits = DecimalDigits(value, minDigits);
  char scratch[kNumberScratch];
  bool direct = SinkRoom(sink) >= digits;
  StoreDecimalDigits((direct ? sink.next : scratch) + digits, value, digits);
  if (direct) {
    sink.next += digits;
  } else {
    PutBytes(sink, scratch, digits);
  }
}

// Appends "%d" of `value`: a minus sign for negative values, no padding.
inline void PutSignedDecimal(TextSink& sink, int32_t value) {
  // The magnitude of INT32_MIN does not fit an int32_t; take it unsigned.
  uint32_t magnitude = static_cast<uint32_t>(value);
  if (value < 0) {
    PutChar(sink, '-');
    magnitude = 0u - magnitude;
  }
  PutDecimal(sink, magnitude, 1);
}

}  // namespace buslog
