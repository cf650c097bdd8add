// The logger: a candump trace or live stream in, log files out. Checks the
// input before anything is written, opens the log, replays the lines (from
// a reader thread's queue for live input), closes, and sums up.
#pragma once

#include <cstdint>

#include "buslog.h"
#include "command_line.h"
#include "logger/log_files.h"
#include "logger/rotation.h"

namespace buslog_host {

struct LoggerRequest {
  const char* input;       // a path, or "-" for standard input
  bool recording;          // the record command: said so in the summary
  LogRequest log;
  bool strict;
  bool quiet;
  bool progress;           // progress also when standard error is not a terminal
  uint64_t reportEvery;
  bool syncEveryFrame;     // one Write a frame instead of the frames at hand together
  RotationPolicy rotation; // log.rotating is Rotating(rotation)
  uint64_t queueFrames;
  bool markers;            // marker lines in every file (not --no-markers)
};

// The request for the logger from the command line, with `input` (a path or
// "-").
LoggerRequest MakeLoggerRequest(const Options& options, const char* input);

// Runs the logger with the module's exports; returns the exit status: 0
// done (to the end of the input or to a first stop request), 1 an error or
// a second stop request.
int RunLogger(const BuslogApi& api, const char* moduleDirectory, const LoggerRequest& request);

}  // namespace buslog_host
