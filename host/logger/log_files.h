// Where the replay's log files go and how they are opened: the path the
// user chose (relative to the current directory) or a fresh default name,
// handed to the module as a path from the module's folder; nothing of the
// user's replaced (an existing file only with --overwrite, the input
// never); rotation to further files with a counter in their names; an
// empty log removed again.
//
//   --output run.buslog                      run.buslog
//   --output run.buslog --rotate-size 10M    run-001.buslog, run-002.buslog, ...
//   --output run.buslog, and a time jump     run.buslog, then run-002.buslog, ... (the
//                                            files a jump begins, logger/frame_time.h)
//   (no --output)                         buslog-2026-12-09_131743.buslog
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "buslog.h"
#include "platform/system.h"

namespace buslog_host {

// What the user asked for.
struct LogRequest {
  const char* output;    // --output, relative to the current directory; or null
  const char* name;      // --name, relative to the module's folder; or null
  bool overwrite;        // an existing file may be replaced (never the input)
  bool rotating;         // names carry a counter
  bool share;            // ShareMode 1 before the first Open
};

struct LogFileEntry {
  std::string path;      // full path
  uint64_t lines;        // lines the module wrote into it
  bool haveFirst;        // a frame went into it
  uint64_t firstSeconds; // its first frame's time stamp
  uint32_t firstMicros;
};

struct LogSet {
  const BuslogApi* api;
  std::string moduleDirectory;  // full, with its separator
  LogRequest request;
  FileIdentity input;     // the input's identity; not known for a pipe
  bool inputUnknown;      // a file whose identity the system would not tell
  std::string base;       // full path the names are made from
  std::string moduleBase; // the same, as the module reaches it
  uint32_t counter;       // last rotation number used
  bool open;              // a log is open in the module
  bool createdCurrent;    // the host created the open file
  std::vector<LogFileEntry> files;
};

// Works out the first log's path and checks it, before anything is
// written. Prints a one-line error and returns false when it cannot be used.
// `inputIsFile` says the input is a file (not a pipe): if its identity is
// not known, no existing file is replaced, since it could be the input.
bool PlanLogs(const BuslogApi& api, const char* moduleDirectory, const LogRequest& request,
              const FileIdentity& input, bool inputIsFile, LogSet* logs);

// Opens the first log (a rotation's first name), or, with one open, closes
// it and opens the next (without rotation: the name with -002, -003 ...).
// Prints a one-line error and returns false on
// failure; then no log is open.
bool OpenNextLog(LogSet* logs);

// Closes the open log; a file that got no line is removed if this run
// created or replaced it.
void CloseLog(LogSet* logs);

}  // namespace buslog_host
