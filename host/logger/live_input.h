// Live input: a reader thread drains a stream (pipe, FIFO, terminal) as
// fast as bytes arrive into a bounded queue of whole lines held in memory,
// so that a burst the log cannot keep up with never holds up the program
// that feeds the stream. The thread that replays takes lines out of the
// queue; it alone calls the module.
//
// The queue is a list of 1 MiB blocks that the reader reads into directly;
// a line is handed on only when its newline has arrived. Blocks are taken
// as the queue grows and given back as it empties. When the queue holds its
// limit of lines the reader waits: nothing is dropped, and the time it
// waited and the deepest the queue got are counted.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/system.h"

namespace buslog_host {

struct LiveQueue;

enum class LiveStatus {
  kLine,  // a line was handed out
  kIdle,  // nothing arrived within the wait; ask again
  kEnd,   // the input ended (or the reader stopped) and every line was taken
};

struct LiveStats {
  uint64_t deepest;        // most lines the queue held at once
  double readerWaited;     // seconds the reader waited for room
  bool readError;          // reading the input failed
};

// Starts a reader thread on `input` (a stream) for a queue of at most
// `capacity` lines. Returns nullptr when memory or the thread cannot be had.
LiveQueue* StartLiveQueue(const InputFile& input, uint64_t capacity);

// Hands out the next whole line without its line end (`tooLong` set, and
// `length` 0, for a line beyond kMaxLineLength of line_source.h), waiting for it at most
// `waitMilliseconds`. The text stays valid until the next call.
LiveStatus NextLiveLine(LiveQueue* queue, const char** line, size_t* length, bool* tooLong, int waitMilliseconds);

// Lines handed out so far, and lines waiting in the queue now.
uint64_t LiveLineNumber(const LiveQueue* queue);
uint64_t LiveDepth(LiveQueue* queue);

// While the log cannot be written: says whether the queue holds its limit
// of lines with the one in hand (the reader waits for room; the frame in
// hand is then to be given up), and gives the lines taken so far back.
bool LiveQueueFull(LiveQueue* queue);
// Waits at most `milliseconds` for the queue to be full as LiveQueueFull
// says (or the input to end).
void WaitForFullQueue(LiveQueue* queue, int milliseconds);

// True once no more lines will be read (the input ended, failed, or its
// reading was stopped): only those queued are left.
bool LiveInputEnded(LiveQueue* queue);

// True when the input ended in the middle of a line, after the last whole
// one: that part is not handed out as a line.
bool LiveEndedMidLine(LiveQueue* queue);

// Stops reading: lines already whole stay in the queue for NextLiveLine,
// which then ends.
void StopLiveReading(LiveQueue* queue);

// Ends the queue: stops the reader, waits for it where the system lets a
// blocked read be interrupted, fills in `stats` and gives the memory back
// (left to the reader if it cannot be stopped, for the program's end).
// Returns false in that case: the reader still holds the input.
bool FinishLiveQueue(LiveQueue* queue, LiveStats* stats);

}  // namespace buslog_host
