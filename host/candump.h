// The candump log format of can-utils, one frame per line:
//   (1436509052.249713) can0 123#DEADBEEF        standard data frame
//   (1436509052.249713) can0 12345678#01         extended (8 digits)
//   (1436509052.249713) can0 123#                no data
//   (1436509052.249713) can0 123#R  or  123#R4   remote frame, length 4
//   (1436509052.249713) can0 123##1112233        CAN FD, flags 1, data
//   (1436509052.249713) can0 20000004#0000...    error frame (error flag)
//   (1436509052.249713) can0 123#1122334455667788_C   8 bytes with DLC 12
// An optional direction mark after the frame says who sent it: T a frame this
// node transmitted, R (or none) a frame it received. Data bytes may be
// separated by dots.
#pragma once

#include <cstddef>
#include <cstdint>

#include "buslog.h"

namespace buslog_host {

enum class CanFrameKind { kData, kRemote, kFd, kError };

constexpr uint32_t kCanErrorFlag = 0x20000000;
constexpr uint32_t kMaxCanData = 64;
// The longest interface name the host takes: in a trace it replays, in
// convert --interfaces.
constexpr size_t kMaxInterfaceName = 64;
// Leading bytes of an extended CAN record plus the most data of a frame.
constexpr uint32_t kMaxCanRecord = BUSLOG_CAN_RECORD_SIZE(1, kMaxCanData);

struct CandumpFrame {
  uint64_t seconds;
  uint32_t micros;
  const char* interfaceName;  // points into the parsed line
  size_t interfaceLength;
  CanFrameKind kind;
  bool extended;    // 29-bit identifier (error frames are extended)
  uint32_t id;      // identifier without flags; for errors the error class
  uint8_t length;   // data bytes (for remote frames: the requested length)
  uint8_t dlc;      // length code printed in the record
  uint8_t fdFlags;  // CAN FD flags digit (BRS 1, ESI 2)
  bool transmitted; // candump's T mark: this node sent the frame
  uint8_t data[kMaxCanData];
};

// Parses one line (without its line end). Returns nullptr on success, or a
// short reason such as "bad identifier" when the line is not a frame.
const char* ParseCandumpLine(const char* line, size_t length, CandumpFrame* frame);

// candump's report of frames the kernel dropped on a socket, a line of its
// own among the frames (candump -d, or a full socket queue):
//   DROPCOUNT: dropped 3 CAN frames on 'can0' socket (total drops 3)
struct DropReport {
  const char* interfaceName;  // points into the parsed line
  size_t interfaceLength;
  uint64_t count;
  uint64_t total;
};

// True when the line (without its line end) begins as a drop report does.
bool IsDropReport(const char* line, size_t length);
// Parses a drop report. Returns nullptr on success, or a short reason.
const char* ParseDropReport(const char* line, size_t length, DropReport* report);

// The longest line FormatCandumpLine writes, its newline included.
constexpr size_t kMaxCandumpLine = 256;

// Writes `frame` as candump writes it, with its newline, at `out` (room for
// kMaxCandumpLine bytes): the time stamp with at least 10 digits of
// seconds, the interface, the identifier (3 or 8 digits; for an error frame
// the class with the error flag), then the data, "R" and the requested
// length, "##" with the flags digit for CAN FD, or "_X" after 8 bytes of a
// classic frame whose length code X is above 8. `mark` 'T' or 'R' is put
// after the frame, 0 puts none. The interface name must be at most
// kMaxInterfaceName bytes, the data at most 8 bytes (64 for CAN FD), a
// remote length at most 8. Returns the end.
char* FormatCandumpLine(char* out, const CandumpFrame& frame, char mark);

// Lays out `frame` as the module's CAN record with buslog.h's builder
// (BuslogBuildCanRecord): flag value 0 or BUSLOG_CAN_EXTENDED, the
// identifier, the length code and the data (none for a remote frame).
// Writes at most kMaxCanRecord bytes and returns how many.
uint32_t BuildCanRecord(const CandumpFrame& frame, uint8_t* record);

}  // namespace buslog_host
