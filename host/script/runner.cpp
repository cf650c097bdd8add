// Running a call script file: each line through the parser, the judgement
// of failed Writes, the summary.
#include "script/runner.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/system.h"
#include "line_source.h"
#include "platform/message.h"
#include "script/script.h"

namespace buslog_host {
namespace {

// With --share, calls ShareMode with 1 and returns true with its result.
bool ShareIfAsked(const Options& options, const BuslogApi& api, uint32_t* result) {
  if (!options.share) return false;
  uint32_t choice = 1;
  int32_t count;
  void* cell;
  api.ShareMode(1, &choice, &count, &cell);
  *result = *static_cast<uint32_t*>(cell);
  return true;
}

FILE* OpenInput(const char* path) {
  FILE* file = fopen(path, "rb");
  if (file == nullptr) Message("buslog-host: %s: %s\n", path, strerror(errno));
  return file;
}

// A call script's log in the current directory (ScriptState::placeLog):
// the name `wanted`, or the next free one, made there as a fresh file so
// that nothing of the user's is replaced; with --overwrite the name itself.
bool PlaceLog(const char* wanted, const ScriptState& state, char* placed, char* reach, size_t size,
              bool* created, char* reason, size_t reasonSize) {
  *created = false;
  if (state.replaceLogs) {
    snprintf(placed, size, "%s", wanted);
  } else {
    // Another program may take the free name first: then the next one.
    bool made = false;
    for (int tries = 0; tries < 10 && !made; ++tries) {
      if (!FreeName(wanted, placed, size)) {
        snprintf(reason, reasonSize, "no free name for it here");
        return false;
      }
      bool exists = false;
      made = CreateNewFile(placed, &exists, reason, reasonSize);
      if (!made && !exists) return false;
    }
    if (!made) return false;
    *created = true;
  }
  int length = snprintf(reach, size, "%s%s", state.logFolder, placed);
  if (length < 0 || static_cast<size_t>(length) >= size) {
    snprintf(reason, reasonSize, "the path is too long");
    if (*created) RemoveFile(placed);
    *created = false;
    return false;
  }
  return true;
}

// run SCRIPT's logs stay in the module's folder, under the logger's
// no-clobber rules (ScriptState::checkLog): checked before the module's
// Open, nothing replaced without --overwrite, never the script itself.
const char* g_moduleDirectory = "";
FileIdentity g_scriptIdentity;

bool CheckModuleLog(const char* name, const ScriptState& state, char* path, size_t size, bool* created) {
  *created = false;
  if (!JoinPath(path, size, g_moduleDirectory, name)) {
    Message("buslog-host: cannot open the log %s%s: the path is too long\n", g_moduleDirectory, name);
    return false;
  }
  PathState existing = StateOfPath(path);
  if (existing == PathState::kFolder) {
    Message("buslog-host: cannot open the log %s: it is a folder\n", path);
    return false;
  }
  if (existing == PathState::kFile) {
    FileIdentity identity;
    if (g_scriptIdentity.known && IdentityOfPath(path, &identity) && SameFile(identity, g_scriptIdentity)) {
      Message("buslog-host: %s is the script; the log must go to another file\n", path);
      return false;
    }
    if (!state.replaceLogs) {
      Message("buslog-host: %s exists; give --overwrite to replace it, or choose another name\n", path);
      return false;
    }
    return true;
  }
  bool exists = false;
  char reason[256];
  if (CreateNewFile(path, &exists, reason, sizeof reason)) {
    *created = true;
  } else if (exists) {
    Message("buslog-host: %s exists; give --overwrite to replace it, or choose another name\n", path);
    return false;
  }
  // Not made (a folder missing, permission denied): the module's Open
  // fails the same way and says so in its result.
  return true;
}

// What a script's run counts beside the parser's ScriptState.
struct ScriptRun {
  const char* script;
  bool strict;
  uint64_t malformed;
  uint64_t failedExpectations;
  uint64_t failedWrites;  // failed Writes the script did not expect
  bool stopped;           // --strict met a fault
};

void ReportFailedWrite(ScriptRun* run, uint64_t lineNumber) {
  ++run->failedWrites;
  Message("%s:%llu: error: Write result 1, the line was not written (no log open, or the write failed)\n",
          run->script, static_cast<unsigned long long>(lineNumber));
  if (run->strict) run->stopped = true;
}

// One line that is not blank: the write-failure rule first (a failed
// Write before this line is said before this line's own fault), then
// what was wrong with the line.
void JudgeLine(ScriptRun* run, ScriptState* state, ScriptStatus status, uint64_t lineNumber,
               const char* message) {
  uint64_t failedWrite = JudgeWrites(state, lineNumber);
  if (failedWrite != 0) ReportFailedWrite(run, failedWrite);
  if (status == ScriptStatus::kOk) return;
  if (status == ScriptStatus::kMalformed) {
    ++run->malformed;
    Message("%s:%llu: warning: %s; line skipped\n", run->script, static_cast<unsigned long long>(lineNumber),
            message);
  } else {
    ++run->failedExpectations;
    Message("%s:%llu: error: %s\n", run->script, static_cast<unsigned long long>(lineNumber), message);
  }
  if (run->strict) run->stopped = true;
}

// Every line of the script through the module.
void RunLines(const BuslogApi& api, buslog_reader::LineSource& reader, ScriptRun* run, ScriptState* state) {
  const char* line;
  size_t length;
  bool tooLong;
  char message[512];
  while (!run->stopped && buslog_reader::NextWholeLine(&reader, &line, &length, &tooLong)) {
    ScriptStatus status = ScriptStatus::kMalformed;
    if (tooLong) {
      state->event = ScriptEvent::kOther;
      snprintf(message, sizeof message, "line too long (more than %llu bytes)",
               static_cast<unsigned long long>(buslog_reader::kMaxLineLength));
    } else {
      status = RunScriptLine(api, line, length, state, message, sizeof message);
    }
    if (status != ScriptStatus::kBlank) JudgeLine(run, state, status, reader.lineNumber, message);
  }
  uint64_t failedWrite = FinishWrites(state);
  if (failedWrite != 0) ReportFailedWrite(run, failedWrite);
}

// The full path of the script's latest log, where `logFolder` put it or
// in the module's folder.
void FullLogPath(const ScriptState& state, const char* moduleDirectory, const char* logFolder, char* full,
                 size_t size) {
  char reason[256];
  if (logFolder == nullptr || !FullOutputPath(state.lastLogName, full, size, reason, sizeof reason)) {
    JoinPath(full, size, logFolder == nullptr ? moduleDirectory : "", state.lastLogName);
  }
}

void PrintScriptSummary(const ScriptRun& run, const ScriptState& state, const char* logPath) {
  char refused[128] = "";
  if (state.refusedOpens > 0) {
    snprintf(refused, sizeof refused, "  refused Opens   %llu (not handed to the module; see above)\n",
             static_cast<unsigned long long>(state.refusedOpens));
  }
  char onPurpose[128] = "";
  if (state.expectedWriteFailures > 0) {
    snprintf(onPurpose, sizeof onPurpose, "  refused Writes  %llu, as the script expected (expect Write 1)\n",
             static_cast<unsigned long long>(state.expectedWriteFailures));
  }
  char logLine[kPathSize + 300] = "";
  if (logPath != nullptr && state.logRemoved) {
    snprintf(logLine, sizeof logLine, "  log             none: no line was written (%s removed)\n", logPath);
  } else if (logPath != nullptr) {
    snprintf(logLine, sizeof logLine, "  log             %s\n", logPath);
  }
  Message(
      "buslog-host: script %s\n"
      "  calls           %llu\n"
      "  lines written   %llu\n"
      "  write failures  %llu\n"
      "%s%s"
      "  skipped         %llu (malformed)\n"
      "  expectations    %llu failed\n"
      "%s",
      run.script, static_cast<unsigned long long>(state.calls), static_cast<unsigned long long>(state.linesWritten),
      static_cast<unsigned long long>(run.failedWrites), onPurpose, refused, static_cast<unsigned long long>(run.malformed),
      static_cast<unsigned long long>(run.failedExpectations), logLine);
}

}  // namespace

int RunScript(const Options& options, const BuslogApi& api, const char* moduleDirectory, const char* script,
              const char* logFolder, char* shownLog, size_t shownSize) {
  FILE* file = OpenInput(script);
  if (file == nullptr) return 1;
  buslog_reader::LineSource reader;
  if (!buslog_reader::OpenLineSource(&reader, file)) {
    fclose(file);
    Message("buslog-host: out of memory\n");
    return 1;
  }
  static ScriptState state;
  state = ScriptState{};
  state.logFolder = logFolder;
  state.replaceLogs = options.overwrite;
  state.placeLog = PlaceLog;
  state.removeLog = RemoveFile;
  state.checkLog = CheckModuleLog;
  g_moduleDirectory = moduleDirectory;
  if (!IdentityOfPath(script, &g_scriptIdentity)) g_scriptIdentity = FileIdentity{};
  // The script's expectations see the host's own ShareMode call.
  state.haveShareMode = ShareIfAsked(options, api, &state.shareModeResult);
  ScriptRun run = {script, options.strict, 0, 0, 0, false};
  RunLines(api, reader, &run, &state);
  CloseScriptLog(api, &state);
  bool readOk = !reader.readError;
  buslog_reader::CloseLineSource(&reader);
  fclose(file);

  char full[kPathSize] = "";
  if (state.lastLogName[0] != '\0') {
    FullLogPath(state, moduleDirectory, logFolder, full, sizeof full);
    if (shownLog != nullptr) snprintf(shownLog, shownSize, "%s", full);
  }
  if (!options.quiet) PrintScriptSummary(run, state, full[0] != '\0' ? full : nullptr);
  if (!readOk) Message("buslog-host: %s: read error\n", script);
  bool failed = run.stopped || run.failedExpectations > 0 || run.failedWrites > 0 || state.refusedOpens > 0;
  return (failed || !readOk) ? 1 : 0;
}

}  // namespace buslog_host
