// Where a writer's log files go and how they are opened: the path the
// caller chose (relative to the current directory) or a fresh default name,
// handed to the module as a path from the module's folder; nothing of the
// user's replaced (an existing file only with overwrite, the input never);
// further files with a counter in their names; an empty log removed again.
//
//   output run.buslog                       run.buslog
//   output run.buslog, rotating             run-001.buslog, run-002.buslog, ...
//   output run.buslog, a new file after a   run.buslog, then run-002.buslog, ...
//     failure or a lost log
//   output logs/ (a folder)                 logs/buslog-2026-12-09_131743.buslog
//   (no output)                             buslog-2026-12-09_131743.buslog
//   run-001.buslog exists already           run-2-001.buslog, run-2-002.buslog, ...
//                                           (a writer never continues another's series)
//
// With a ring (maxFiles, maxTotal) the oldest files of this writer are
// removed to make room, never another file, and their folder is synced so
// that a removed file cannot come back.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "buslog.h"
#include "buslog_writer.h"
#include "frame.h"
#include "messages.h"
#include "platform/files.h"

namespace buslog_writer {

using buslog_files::FileIdentity;
using buslog_files::FileWatch;

// What the caller asked for.
struct LogRequest {
  const char* output;    // relative to the current directory; or null
  const char* name;      // relative to the module's folder; or null
  bool overwrite;        // an existing file may be replaced (never the input)
  bool rotating;         // names carry a counter
  uint32_t maxFiles;     // a ring of at most so many files; 0 no limit
  uint64_t maxTotal;     // a ring of at most so many bytes; 0 no limit
  uint64_t fileBytes;    // what a file may grow to (rotation by size); 0 not known
};

inline bool Ring(const LogRequest& request) { return request.maxFiles != 0 || request.maxTotal != 0; }

struct LogFileEntry {
  std::string path;      // full path
  uint64_t lines;        // lines the module wrote into it
  uint64_t bytes;        // bytes the module wrote into it
  uint32_t firstFrame;   // frame numbers of its first and last frame (0: none)
  uint32_t lastFrame;
  std::vector<std::pair<uint32_t, uint32_t>> runs;  // its frames, as runs of numbers
  uint64_t byType[4];    // its frames by type
  bool haveStart;        // its first frame's time:
  FrameTime start;
  FileWatch watch;       // while open: the file itself
  FileIdentity identity; // which file it is
  bool created;          // this writer created it (only such files are removed)
  bool cutEnd;           // it ends in a part of a line that could not be taken back
  int32_t fate;          // BUSLOG_FILE_*
};

// Why a log could not be opened.
struct OpenFailure {
  std::string path;
  int error;             // the system's error, 0 when none
  std::string reason;    // in words
};

struct LogSet {
  const BuslogApi* api;
  Messages* messages;
  std::string moduleDirectory;  // full, with its separator
  LogRequest request;
  FileIdentity input;     // the input's identity
  bool inputUnknown;      // an input file whose identity the system would not tell
  std::string base;       // full path the names are made from
  std::string moduleBase; // the same, as the module reaches it
  uint32_t counter;       // last number used
  bool open;              // a log is open in the module
  bool createdCurrent;    // the writer created (or replaced) the open file
  std::vector<LogFileEntry> files;
  uint32_t removed;       // files removed by the ring
  uint64_t framesRemoved; // the frames they held,
  uint32_t removedFirst;  // from the first
  uint32_t removedLast;   // to the last
};

// Works out the first log's path and checks it, before anything is
// written. `input` is a file never to replace ("-" standard input) or null.
// False with one line in `error` when it cannot be used.
bool PlanLogs(LogSet* logs, const char* input, std::string* error);

// Opens the first log (a rotation's first name), or, with one open,
// closes it and opens the next. False with one line in `error`; then no
// log is open.
bool OpenFirstLog(LogSet* logs, std::string* error);

// Closes the open log; a file that got no line is removed if this writer
// created or replaced it. The engine closes through CloseOpenLog, which
// looks at the log first.
void CloseLog(LogSet* logs);

// Looks at the open log through its watch: does its name still lead to
// it? When not, records what became of it (deleted; renamed, with its new
// path; no longer reachable) and returns the line that says so; empty when
// it is there or nothing can be told.
std::string LookAtOpenLog(LogFileEntry* file);

// Begins a new file after a rotation, a failure or a lost file (no log is
// open then; one that is, is closed). With a ring, first removes this
// writer's oldest files while a new one could pass maxFiles or maxTotal.
// False with the reason in `failure`; the next call tries the same name.
bool BeginNewFile(LogSet* logs, OpenFailure* failure);

// Removes the oldest file this writer created and still keeps (not the
// open one), if its name still leads to it, and syncs its folder. Returns
// it, or null when there is none.
LogFileEntry* RemoveOldestOwnFile(LogSet* logs);

// The logs that went since they were closed (deleted, or their name leads
// elsewhere) get their fate.
void LookAtClosedLogs(LogSet* logs);

}  // namespace buslog_writer
