// The logger: a candump trace or live stream in, log files out through the
// writer engine (buslog_writer.h). Checks the input before anything is
// written, opens the writer, reads the lines (in a reader thread for live
// input, which the writer's queue absorbs), stops cleanly on request,
// closes, and sums up. The write path itself is the engine's.
#pragma once

#include <cstdint>

#include "command_line.h"

namespace buslog_host {

struct LoggerRequest {
  const char* input;       // a path, or "-" for standard input
  bool recording;          // the record command: said so in the summary
  const char* output;      // --output, or null
  const char* name;        // --name, or null
  bool overwrite;
  bool share;
  bool strict;
  bool quiet;
  bool progress;           // progress also when standard error is not a terminal
  uint64_t reportEvery;
  bool syncEveryFrame;     // one Write a frame instead of the frames at hand together
  uint64_t rotateBytes;
  double rotateSeconds;
  uint32_t maxFiles;
  uint64_t maxTotal;
  uint64_t queueFrames;
  bool markers;            // marker lines in every file (not --no-markers)
  bool timeBasePerFile;    // --time-base-per-file: the module's own time column
  SelectionOptions selection;  // --filter, --trigger, ...
};

// The request for the logger from the command line, with `input` (a path or
// "-").
LoggerRequest MakeLoggerRequest(const Options& options, const char* input);

// Runs the logger with the module file `module`; returns the exit status:
// 0 done (to the end of the input or to a first stop request) with every
// frame logged, 1 an error, a frame lost or a second stop request.
int RunLogger(const char* module, const LoggerRequest& request);

}  // namespace buslog_host
