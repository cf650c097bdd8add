// Call scripts: one export call per line, the way an integrator writes down
// what a host did. The format:
//
//   # a comment; blank lines are ignored
//   ShareMode 1                 32-bit values: decimal, -decimal or 0x hex
//   ShareMode                   no value (count 0)
//   Open "demo.log"             text in double quotes; escapes \\ \" \n \r
//   Open                        \t \0 and \xHH; no text gives count 0
//   PutFrameId 123
//   PutTimeStamp 1 234567
//   PutError 0x1F
//   PutString ",free text"
//   PutFrame 0x3031 4 0 0 01 23 02 AA BB
//                               kind, bus, channel, status, then data:
//                               hex bytes, AA*100 for a run of one byte,
//                               "text" for its bytes; len=N sets the data
//                               length below the bytes given (a marker
//                               may also take a negative length)
//   Write
//   Close
//   expect Open 0               the latest result of Open, ShareMode or
//   expect ShareMode 1          Write must be this value
//   expect Write 0
//
// A Write that fails (result 1) is an error of the script, unless the line
// right after it (comments and blank lines aside) is `expect Write 1`: then
// the script says that the failure is on purpose. That rule is JudgeWrites
// below, and nowhere else.
#pragma once

#include <cstddef>
#include <cstdint>

#include "buslog.h"

namespace buslog_host {

// What a line did, as far as the write-failure rule cares.
enum class ScriptEvent {
  kOther,               // no Write, no expect Write 1 that held
  kWriteOk,             // a Write with result 0
  kWriteFailed,         // a Write with result 1
  kWriteFailureExpected,  // an expect Write 1 that held
};

enum class ScriptStatus {
  kOk,                 // done
  kBlank,              // a blank or comment line: nothing to do
  kMalformed,          // the line is not a call; nothing was called
  kExpectationFailed,  // an expect line did not hold
};

struct ScriptState {
  bool haveOpen, haveShareMode, haveWrite;
  uint8_t openResult;
  uint32_t shareModeResult;
  uint8_t writeResult;
  uint64_t calls;
  uint64_t linesWritten;   // Write calls with result 0
  uint64_t writeFailures;  // Write calls with result 1
  uint64_t expectedWriteFailures;  // of them, followed by an expect Write 1 that held
  ScriptEvent event;         // what the latest line did (set by RunScriptLine)
  uint64_t pendingWriteLine; // the line of a failed Write not judged yet; 0 none
  char lastLogName[256];   // name of the latest Open that gave 0, as the
                           // script gave it, or as placed in logFolder
  // Left null, Open names are the module's: relative to its folder. The demo
  // puts its logs into the current directory instead: this is that folder's
  // path from the module's folder (ending with a separator, or empty when
  // they are the same), put before each Open's name; a name taken there is
  // passed over for the next free one (demo-script-2.log), unless
  // `replaceLogs`.
  const char* logFolder;
  bool replaceLogs;
  // The host's file work for logFolder (this file makes no files itself):
  // placeLog gives the log `wanted` its name in the current directory
  // (`placed`, made there as a fresh file unless replaceLogs, then
  // `created`) and the path the module reaches it by (`reach`), or says why
  // not and returns false (the module is then handed no name); removeLog
  // takes back a file placeLog made when the module did not open it.
  bool (*placeLog)(const char* wanted, const ScriptState& state, char* placed, char* reach, size_t size,
                   bool* created, char* reason, size_t reasonSize);
  bool (*removeLog)(const char* placed);
  // Without logFolder (run SCRIPT), the names stay the module's, under the
  // same rules as the logger's: checkLog says whether the module may open
  // `name` in its folder (nothing there: made now as a fresh file,
  // `created`; or a file that replaceLogs lets it replace) and gives `path`,
  // where the host finds it; false when not, said on standard error, and
  // the module is handed no name (counted in refusedOpens).
  bool (*checkLog)(const char* name, const ScriptState& state, char* path, size_t size, bool* created);
  uint64_t refusedOpens;
  // The log the module has open (after an Open that gave 0), for the
  // host's file work: where the host finds it, whether this run made or
  // replaced it, and the lines written before its Open. A log this run made
  // or replaced that holds no line when it is closed is removed
  // (removeLog), and `logRemoved` set when that was the latest log.
  bool logOpen;
  bool logRemovable;
  uint64_t linesAtOpen;
  char openLogPath[4096];
  bool logRemoved;
};

// The write-failure rule, applied after each line that is not blank (with
// `state->event` saying what the line did; a line RunScriptLine did not see
// is kOther): a failed Write is judged at the next such line, a failure on
// purpose when that line is an expect Write 1 that held (counted in
// expectedWriteFailures), else a failure of the script. Returns the line
// number of a failed Write just judged a failure of the script, else 0.
uint64_t JudgeWrites(ScriptState* state, uint64_t lineNumber);
// At the end of the script: the line of a failed Write left unjudged (a
// failure of the script), else 0.
uint64_t FinishWrites(ScriptState* state);

// Closes the log a script left open, as unloading the module would, with
// the same file work as a Close line: an empty log this run made or
// replaced is removed.
void CloseScriptLog(const BuslogApi& api, ScriptState* state);

// Runs one script line against the module; sets `state->event`. On kMalformed or
// kExpectationFailed, `message` says why, quoting the offending text.
ScriptStatus RunScriptLine(const BuslogApi& api, const char* line, size_t length, ScriptState* state,
                           char* message, size_t messageSize);

}  // namespace buslog_host
