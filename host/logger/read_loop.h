// The logger's reading: each line of the input parsed as a candump frame
// and handed to the writer; a line that is no frame is said (the first 20,
// then only counted) and skipped, or ends the run with --strict. One loop
// for a trace file (the main thread, the writer logging in it) and for
// live input (a reader thread, the writer's queue between).
#pragma once

#include <cstdint>

#include "buslog_writer.h"
#include "line_source.h"

namespace buslog_host {

struct ReadTotals {
  uint64_t lines;
  uint64_t frames;       // candump frames read
  uint64_t byKind[4];    // of them data, remote, CAN FD, error
  uint64_t notTaken;     // of them not handed to the writer (it stopped taking frames)
  uint64_t malformed;    // lines skipped as no frame
  uint64_t tooLong;      // of them too long to be one
  uint64_t dropReports;  // candump's DROPCOUNT lines
  uint64_t dropped;      // the frames they say the kernel dropped
};

struct ReadLoop {
  BuslogWriter* writer;
  const char* traceName;  // "standard input" or the path
  bool strict;
  ReadTotals totals;
  uint64_t warnings;
  bool screenFormatSaid;  // candump's screen format met, and what to do said
  bool stoppedEarly;      // --strict stopped, or the input is no candump trace
  bool gaveUp;            // the writer gave up for good: the rest is lost
  bool stopped;           // a stop request ended the reading
  bool readError;         // reading the input failed
  // Called every 1024 lines (the file replay's progress), or null.
  void (*tick)(void* context);
  void* tickContext;
};

// A candump frame as the writer takes it.
struct CandumpFrame;
BuslogFrame WriterFrame(const CandumpFrame& frame);

// Reads `source` to its end, a stop request, --strict's first malformed
// line, or the writer giving up.
void ReadLines(ReadLoop* loop, buslog_reader::LineSource* source);

// A line skipped at `lineNumber` for `why`: said (the first ones, or all
// with --strict), then only counted.
void Warn(ReadLoop* loop, uint64_t lineNumber, const char* why);

}  // namespace buslog_host
