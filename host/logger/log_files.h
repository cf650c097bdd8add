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
//   (no --output)                            buslog-2026-12-09_131743.buslog
//   run-001.buslog exists already            run-2-001.buslog, run-2-002.buslog, ...
//                                            (a run never continues another's series)
//
// After a failure the logger goes on in a new file under the planned names
// (run.buslog, then run-002.buslog, ...); with a ring (--max-files,
// --max-total) the oldest files of this run are removed to make room, never
// another file.
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
  uint32_t maxFiles;     // --max-files: this run keeps at most so many; 0 no limit
  uint64_t maxTotal;     // --max-total: bytes this run keeps at most; 0 no limit
  uint64_t fileBytes;    // --rotate-size (what a new file may grow to); 0 not known
};

inline bool Ring(const LogRequest& request) { return request.maxFiles != 0 || request.maxTotal != 0; }

enum class FileFate {
  kKept,           // in place (or renamed, with its new path)
  kDeleted,        // deleted under the logger: its lines are lost
  kUnreachable,    // its name leads elsewhere or nowhere: counted as lost
  kRemovedByRing,  // removed by this run to keep --max-files / --max-total
};

struct LogFileEntry {
  std::string path;      // full path
  uint64_t lines;        // lines the module wrote into it
  bool haveFirst;        // a frame went into it
  uint64_t firstSeconds; // its first frame's time stamp
  uint32_t firstMicros;
  uint32_t firstFrame;   // frame numbers of its first and last line
  uint32_t lastFrame;
  uint64_t bytes;        // its size when it was closed
  FileWatch watch;       // while open: the file itself
  FileIdentity identity; // which file it is
  bool created;          // this run created it (only such files are removed)
  bool cutEnd;           // it ends in a part of a line that could not be taken back
  FileFate fate;
};

// Why a log could not be opened, for the logger to say once.
struct OpenFailure {
  std::string path;
  int error;             // the system's error, 0 when none
  std::string reason;    // in words
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
  uint32_t removed;       // files removed by the ring
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

// Looks at the open log through its watch: does its name still lead to
// it? When not, records what became of it (deleted; renamed, with its new
// path; no longer reachable) and returns the line that says so; empty when
// it is there or nothing can be told. Its lines must be recorded first.
std::string LookAtOpenLog(LogFileEntry* file);

// Begins a new file: the first log, or the next one after a rotation, a
// failure or a lost file (no log is open then; one that is, is closed).
// With a ring, first removes this run's oldest files while a new one could
// pass --max-files or --max-total. Says nothing: false with the reason in
// `failure`, and then the next call tries the same name again.
bool BeginNewFile(LogSet* logs, OpenFailure* failure);

// Removes the oldest file this run created and still keeps (not the open
// one), if its name still leads to it. Returns it, or null when there is
// none.
LogFileEntry* RemoveOldestOwnFile(LogSet* logs);

}  // namespace buslog_host
