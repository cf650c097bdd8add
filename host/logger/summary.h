// The logger's last word: the summary on standard error and the exit
// status, from what the reading counted and what the writer says it did.
//
//   buslog-host: replay of trace.log
//     frames read     3000 (data 2990, remote 0, CAN FD 10, error 0)
//     frames logged   2499 (data 2489, remote 0, CAN FD 10, error 0)
//     not logged      501 (storage 501, too many interfaces 0, left at the stop 0)
//     ...
//     missing         frames 1-501 (the log /m/run.buslog was deleted)
//     log             /m/run-002.buslog (2503 lines, first frame 2023-01-19T12:17:43.666929Z)
//     can0 -> channel 1
#pragma once

#include "buslog_writer.h"
#include "logger/logger.h"
#include "logger/read_loop.h"

namespace buslog_host {

struct RunOutcome {
  const LoggerRequest* request;
  const char* traceName;
  bool live;
  double seconds;
  const ReadLoop* loop;
  bool readError;
  int stops;
};

void PrintSummary(BuslogWriter* writer, const RunOutcome& outcome);

// 0 when the input was read to its end (or a first stop), every frame
// read is in the logs (the ring's removals apart) and candump reported no
// frames dropped by the kernel; 1 otherwise, with the last word on what
// went wrong.
int ExitStatus(BuslogWriter* writer, const RunOutcome& outcome);

}  // namespace buslog_host
