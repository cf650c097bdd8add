// The one pending line of the log: its buffer, its length, the append rule
// that every field lands by, the raw text of PutString, and Write.
#pragma once

#include <cstdint>

#include "output/text_sink.h"
#include "platform/platform.h"

namespace buslog {

// A line keeps at most kLineLimit bytes before its CR LF; fields that reach
// past the limit are cut there. The buffer is twice the limit, so the CR LF
// that Write stores behind a full line always fits.
constexpr uint32_t kLineLimit = 4096;
constexpr uint32_t kLineBufferSize = 2 * kLineLimit;
static_assert(kLineLimit + 2 <= kLineBufferSize, "CR LF must fit behind a full line");

struct LineBuffer {
  char bytes[kLineBufferSize];  // bytes[0, length) are the pending line
  uint32_t length;              // 0 to kLineLimit between calls
  uint8_t writeResult;          // result cell of Write: 0 written, 1 failed
};

// Returns a sink over the room between the end of the pending line and the
// line limit. Write one field into it, then hand it to EndField.
inline TextSink BeginField(LineBuffer& line) {
  return MakeSink(line.bytes + line.length, line.bytes + kLineLimit);
}

// The append rule: the field written into `sink` since BeginField becomes
// part of the line, whose length is min(length + written, kLineLimit).
inline void EndField(LineBuffer& line, const TextSink& sink) {
  uint32_t written = static_cast<uint32_t>(sink.next - (line.bytes + line.length));
  uint32_t length = line.length + written;
  line.length = length < kLineLimit ? length : kLineLimit;
}

// Appends `count` bytes of raw text as they are (NUL, CR and LF included),
// as many as fit below the line limit. Adds no comma and no terminator.
void AppendText(LineBuffer& line, const uint8_t* text, uint32_t count);

// Ends the pending line with CR LF and writes it whole to `file`; the line
// is empty afterwards whatever happened. Sets writeResult to 1 when no file
// is open or the write failed, else to 0.
void WriteLine(LineBuffer& line, FileHandle file);

// Forgets the pending line unwritten.
void DiscardLine(LineBuffer& line);

}  // namespace buslog
