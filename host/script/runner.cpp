// Running a call script file: each line through the parser, the judgement
// of failed Writes, the summary.
#include "script/runner.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "file_names.h"
#include "line_source.h"
#include "platform/message.h"
#include "platform/system.h"
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

// Runs a call script. Its Open names are relative to the module's folder,
// or, given `logFolder` (the current directory's path from there), put into
// the current directory; `shownLog` gets the full path of the latest log.
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
  // The script's expectations see the host's own ShareMode call.
  state.haveShareMode = ShareIfAsked(options, api, &state.shareModeResult);
  uint64_t malformed = 0;
  uint64_t failedExpectations = 0;
  uint64_t failedWrites = 0;          // failed Writes the script did not expect
  unsigned long long failedWriteLine = 0;  // a failed Write not judged yet
  bool stopped = false;
  const char* line;
  size_t length;
  bool tooLong;
  char message[512];
  auto reportFailedWrite = [&] {
    ++failedWrites;
    Message("%s:%llu: error: Write result 1, the line was not written (no log open, or the write failed)\n",
            script, failedWriteLine);
    if (options.strict) stopped = true;
  };
  while (!stopped && buslog_reader::NextWholeLine(&reader, &line, &length, &tooLong)) {
    uint64_t writesBefore = state.linesWritten + state.writeFailures;
    uint64_t failuresBefore = state.writeFailures;
    uint64_t expectedBefore = state.expectedWriteFailures;
    ScriptStatus status = ScriptStatus::kMalformed;
    if (tooLong) {
      snprintf(message, sizeof message, "line too long (more than %llu bytes)",
               static_cast<unsigned long long>(buslog_reader::kMaxLineLength));
    } else {
      status = RunScriptLine(api, line, length, &state, message, sizeof message);
    }
    if (status == ScriptStatus::kBlank) continue;
    unsigned long long lineNumber = static_cast<unsigned long long>(reader.lineNumber);
    // A failed Write is judged at the next line that is not blank: only an
    // expect Write 1 there makes it a failure on purpose.
    if (failedWriteLine != 0) {
      if (state.expectedWriteFailures == expectedBefore) {
        reportFailedWrite();
        // No later expectation may claim it (unless this line was a Write
        // of its own, which expectations now refer to).
        if (state.linesWritten + state.writeFailures == writesBefore) state.writeFailureSettled = true;
      }
      failedWriteLine = 0;
    }
    if (state.writeFailures != failuresBefore) failedWriteLine = lineNumber;
    if (status == ScriptStatus::kOk) continue;
    if (status == ScriptStatus::kMalformed) {
      ++malformed;
      Message("%s:%llu: warning: %s; line skipped\n", script, lineNumber, message);
    } else {
      ++failedExpectations;
      Message("%s:%llu: error: %s\n", script, lineNumber, message);
    }
    if (options.strict) stopped = true;
  }
  if (failedWriteLine != 0) reportFailedWrite();
  bool readError = reader.readError;
  buslog_reader::CloseLineSource(&reader);
  fclose(file);

  char onPurpose[128] = "";
  if (state.expectedWriteFailures > 0) {
    snprintf(onPurpose, sizeof onPurpose, "  refused Writes  %llu, as the script expected (expect Write 1)\n",
             static_cast<unsigned long long>(state.expectedWriteFailures));
  }
  char logLine[kPathSize + 300] = "";
  if (state.lastLogName[0] != '\0') {
    char full[kPathSize];
    char reason[256];
    if (logFolder == nullptr || !FullOutputPath(state.lastLogName, full, sizeof full, reason, sizeof reason)) {
      JoinPath(full, sizeof full, logFolder == nullptr ? moduleDirectory : "", state.lastLogName);
    }
    snprintf(logLine, sizeof logLine, "  log             %s\n", full);
    if (shownLog != nullptr) snprintf(shownLog, shownSize, "%s", full);
  }
  Message(
      "buslog-host: script %s\n"
      "  calls           %llu\n"
      "  lines written   %llu\n"
      "  write failures  %llu\n"
      "%s"
      "  skipped         %llu (malformed)\n"
      "  expectations    %llu failed\n"
      "%s",
      script, static_cast<unsigned long long>(state.calls), static_cast<unsigned long long>(state.linesWritten),
      static_cast<unsigned long long>(failedWrites), onPurpose, static_cast<unsigned long long>(malformed),
      static_cast<unsigned long long>(failedExpectations), logLine);
  if (readError) Message("buslog-host: %s: read error\n", script);
  return (stopped || failedExpectations > 0 || failedWrites > 0 || readError) ? 1 : 0;
}

}  // namespace buslog_host
