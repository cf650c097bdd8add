// Hexadecimal digits both ways, for every reader and writer of logs and
// traces (the reader library and buslog-host): the digits written (upper
// case) and the value of a digit read.
#pragma once

#include <cstdint>

namespace buslog_reader {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Digit values, -1 for every other byte: one lookup per digit on the
// replay's hot path.
struct HexTable {
  int8_t value[256];
};
constexpr HexTable MakeHexTable() {
  HexTable table = {};
  for (int c = 0; c < 256; ++c) table.value[c] = -1;
  for (int c = '0'; c <= '9'; ++c) table.value[c] = static_cast<int8_t>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) table.value[c] = static_cast<int8_t>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) table.value[c] = static_cast<int8_t>(c - 'A' + 10);
  return table;
}
constexpr HexTable kHexTable = MakeHexTable();

// The value of the hex digit `c` (either case), or -1.
inline int HexValue(char c) { return kHexTable.value[static_cast<unsigned char>(c)]; }

}  // namespace buslog_reader
