// The one reading of filters and triggers, for every face: candump's
// filter syntax, and the conditions on a frame's data and signals that a
// trigger adds. A text is one or more sets separated by blanks (or ';'),
// each "[INTERFACE,]ITEM[,ITEM...]" as candump takes them:
//
//   123:7FF           identifier & 7FF equals 123 & 7FF (candump's <id>:<mask>)
//   123~7F0           identifier & 7F0 differs from 123 & 7F0 (<id>~<mask>)
//   12345678:1FFFFFFF 8 hex digits: an extended identifier (the kernel's EFF flag)
//   #000000FF         error frames whose class has one of these bits (<error mask>)
//   j                 every item of the set must match, not any
//   7E0               a bare identifier: 7E0:7FF; an 8-digit one: <id>:1FFFFFFF
//   7E0#0210/FFF0     the first data bytes under a mask (no mask: every bit)
//   3E9#16|16@1+*0.01>100
//                     a signal compared with a threshold (triggers only):
//                     START|LENGTH@ORDER SIGN as a DBC file writes it (@1
//                     Intel, little-endian; @0 Motorola, big-endian; +
//                     unsigned, - signed), then *FACTOR and +OFFSET or
//                     -OFFSET (both optional), then < <= > >= == != and the
//                     threshold in physical units
//   can0,123:7FF,j,...  the set of interface can0; a set without a name (or
//                     named "any") serves every interface without one
//
// The identifier is matched as the kernel matches candump's filters, on
// its can_id: the identifier with the EFF flag (80000000) for an extended
// frame and the RTR flag (40000000) for a remote frame, so 123:7FF also
// takes extended and remote frames whose low 11 bits are 123, and
// 123:C00007FF only standard data frames. Error frames match only an error
// mask. A filter set without identifier items keeps every frame but error
// frames; a trigger set without them fires on none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "buslog_writer.h"
#include "frame.h"

namespace buslog_writer {

// The kernel's can_id flags.
constexpr uint32_t kEffFlag = 0x80000000u;
constexpr uint32_t kRtrFlag = 0x40000000u;
constexpr uint32_t kErrFlag = 0x20000000u;
constexpr uint32_t kSffMask = 0x7FFu;
constexpr uint32_t kEffMask = 0x1FFFFFFFu;

enum class ConditionKind : uint8_t { kId, kData, kSignal };
enum class Compare : uint8_t { kLess, kLessOrEqual, kGreater, kGreaterOrEqual, kEqual, kNotEqual };

struct Signal {
  uint16_t startBit;  // as a DBC file gives it: the lowest bit (Intel) or the highest (Motorola)
  uint8_t length;     // bits, 1 to 64
  bool intel;         // @1: little-endian; @0: big-endian (Motorola)
  bool isSigned;
  double factor;
  double offset;
  Compare compare;
  double threshold;
};

struct Condition {
  ConditionKind kind;
  bool inverted;       // <id>~<mask>
  uint32_t id;         // the filter's identifier & mask, as the kernel keeps it
  uint32_t mask;
  uint8_t dataLength;  // kData: the bytes compared
  uint8_t data[kMaxFrameData];
  uint8_t dataMask[kMaxFrameData];
  Signal signal;       // kSignal
  bool held;           // kSignal: its comparison held at the last frame it read
};

struct ConditionSet {
  std::string interfaceName;  // empty: every interface without a set of its own
  std::vector<Condition> conditions;
  uint32_t errorMask;         // error frames of these classes; 0: none
  bool join;                  // j
};

// What a text is for: a filter (no signals) or a trigger.
enum class SyntaxUse : uint8_t { kFilter, kTrigger };

struct ConditionSets {
  std::vector<ConditionSet> sets;
  int32_t anySet;    // the set without a name; -1 when none
  std::string text;  // the text, its blanks made single: for the log's marker
};

// A frame as the conditions see it.
struct FrameView {
  uint32_t canId;          // the kernel's can_id: identifier and flags
  bool error;              // an error frame (canId holds its class | kErrFlag)
  const uint8_t* data;     // null when none
  uint32_t dataLength;
};

FrameView ViewOf(const BuslogFrame& frame);

// Reads `text` as `use` says into `out`. False with one line in `why`
// that names the item at fault, `label` first: "filter 12Z:7FF: 12Z is
// not an identifier: give 1 to 3 hex digits, or 8 for an extended one".
bool ParseConditions(const char* text, SyntaxUse use, const char* label, ConditionSets* out, std::string* why);

// The set that serves interface `name` (`length` bytes): its own, else
// the one without a name, else null.
ConditionSet* SetFor(ConditionSets* sets, const char* name, size_t length);

// The filter's word on a frame (candump's): kept or not.
bool FilterKeeps(const ConditionSet& set, const FrameView& frame);

// A trigger's word: true when the frame fires it. A signal comparison
// fires when it holds and did not at the last frame it read (the first
// frame that passes the threshold, not every one after it); every other
// item at each frame it matches.
bool TriggerFires(ConditionSet* set, const FrameView& frame);

// A Motorola signal's next bit, from its highest down: from a byte's
// lowest bit on to the next byte's highest.
inline uint32_t NextMotorolaBit(uint32_t bit) { return (bit & 7) == 0 ? bit + 15 : bit - 1; }

// The physical value of `signal` in `data` (`length` bytes): false when
// the data is too short for it.
bool SignalValue(const Signal& signal, const uint8_t* data, uint32_t length, double* value);

}  // namespace buslog_writer
