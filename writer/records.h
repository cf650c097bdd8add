// The records a log carries of what its frame lines cannot show: frames
// the writer could not keep, logs that went, frames the kernel dropped
// before they reached the writer, and the ring's removals. Each is a marker
// line (reader/log_reader.h, rule 14e), written with the frames, into the
// first file the writer can write, durable like any line:
//
//   000000000,+2.500000,M,Marker  , -,OK,buslog lost 312-548 No space left on device
//   000000000,+0.000000,M,Marker  , -,OK,buslog gone 1-501 deleted run.buslog
//   000000000,+4.100000,M,Marker  , -,OK,buslog dropped 3 17 can0
//   000000000,+0.000000,M,Marker  , -,OK,buslog removed 1-4120
//   000000000,+0.000000,M,Marker  , -,OK,buslog clamped 0.250000
//
// - lost: frames numbered and given up (the storage failed, the queue was
//   full of them, left at a second stop, no channel for their interface);
// - gone: frames written into a log that was deleted or can no longer be
//   reached under its name;
// - dropped: candump's DROPCOUNT, where it came in the input: COUNT frames
//   on interface NAME that never reached the writer (TOTAL so far);
// - removed: at the head of each file of a ring, every frame the ring has
//   removed so far, first to last, and again in the open file when the
//   ring removes more while it is written (a full disk makes room): what
//   was asked, not a loss;
// - clamped: the frame line right after it was S.ffffff s earlier than its
//   file's time base, and stamped +0.000000 (one time base a file only:
//   otherwise such a frame begins a new base).
// A record is taken off the list only once the Write that carried it
// returned 0; records that could not be written stay the writer's word
// alone (its losses). Without marker lines (frames only) there are none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "frame.h"

namespace buslog_writer {

enum class RecordKind : uint8_t { kLost, kGone, kDropped };

struct Record {
  RecordKind kind;
  uint32_t first;     // kLost, kGone: the frames
  uint32_t last;
  uint64_t count;     // kDropped
  uint64_t total;
  std::string words;  // kLost: the reason; kGone: "deleted NAME"; kDropped: the interface
};

struct Records {
  std::vector<Record> list;  // in the order they came
  size_t committed;          // of them written into a log
};

// The most records a frame carries before it; the rest go with the next.
constexpr size_t kRecordsAFrame = 4;

// Frames first..last lost for `reason`: joined to the last record not yet
// written when it goes on from it for the same reason.
void RecordLost(Records* records, uint32_t first, uint32_t last, const std::string& reason);
void RecordGone(Records* records, uint32_t first, uint32_t last, bool deleted, const std::string& path);
void RecordDropped(Records* records, uint64_t count, uint64_t total, const std::string& interfaceName);

// The marker text of a record: "buslog lost 312-548 No space left on
// device". At most `size` - 1 bytes and a NUL.
void RecordText(const Record& record, char* out, size_t size);
// "buslog removed 1-4120".
void RemovedText(uint32_t first, uint32_t last, char* out, size_t size);
// "buslog clamped 0.250000".
void ClampedText(const Elapsed& before, char* out, size_t size);

}  // namespace buslog_writer
