// buslog-host: loads the buslog module the way a bus tool does and drives
// its exports, replaying a candump trace, running a call script, or
// showing a demo of both with the samples that ship beside it.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "command_line.h"
#include "line_reader.h"
#include "log_files.h"
#include "log_tools.h"
#include "loader/module_loader.h"
#include "logger.h"
#include "message.h"
#include "script.h"

namespace buslog_host {
namespace {

struct Host {
  LoadedModule module;
  char moduleDirectory[kPathSize];  // absolute, with separator
};

// Writes a followed by b into out; false if that does not fit.
bool JoinPath(char* out, size_t size, const char* a, const char* b) {
  int length = snprintf(out, size, "%s%s", a, b);
  return length >= 0 && static_cast<size_t>(length) < size;
}

// The module beside this program in a build or on Windows; in lib/ of an
// install.
bool FindModule(Options* options) {
  if (options->module[0] != '\0') return true;
  char dir[kPathSize];
  if (!ExecutableDirectory(dir, sizeof dir)) {
    Message("buslog-host: cannot find this program's directory; use --module\n");
    return false;
  }
  if (!JoinPath(options->module, sizeof options->module, dir, ModuleFileName())) return false;
  char installed[kPathSize];
  FILE* probe = fopen(options->module, "rb");
  if (probe != nullptr) {
    fclose(probe);
  } else if (JoinPath(installed, sizeof installed, dir, "../lib/") &&
             JoinPath(options->module, sizeof options->module, installed, ModuleFileName())) {
    probe = fopen(options->module, "rb");
    if (probe != nullptr) fclose(probe);
    if (probe == nullptr) JoinPath(options->module, sizeof options->module, dir, ModuleFileName());
  }
  return true;
}

bool LoadHost(const Options& options, Host* host) {
  char error[512];
  if (!LoadModule(options.module, &host->module, error, sizeof error)) {
    Message("buslog-host: %s: %s\n", options.module, error);
    return false;
  }
  host->moduleDirectory[0] = '\0';
  if (AbsolutePath(options.module, host->moduleDirectory, sizeof host->moduleDirectory)) {
    char* last = strrchr(host->moduleDirectory, PathSeparator());
    if (PathSeparator() == '\\' && last == nullptr) last = strrchr(host->moduleDirectory, '/');
    if (last != nullptr) last[1] = '\0';
  }
  return true;
}

// With --share, calls ShareMode with 1 and returns true with its result.
bool ShareIfAsked(const Options& options, const Host& host, uint32_t* result) {
  if (!options.share) return false;
  uint32_t choice = 1;
  int32_t count;
  void* cell;
  host.module.api.ShareMode(1, &choice, &count, &cell);
  *result = *static_cast<uint32_t*>(cell);
  return true;
}

FILE* OpenInput(const char* path) {
  FILE* file = fopen(path, "rb");
  if (file == nullptr) Message("buslog-host: %s: %s\n", path, strerror(errno));
  return file;
}

LoggerRequest MakeLoggerRequest(const Options& options, const char* input) {
  LoggerRequest request = {};
  request.input = input;
  request.log.output = options.output;
  request.log.name = options.name;
  request.log.overwrite = options.overwrite;
  request.log.rotating = options.rotateBytes != 0 || options.rotateSeconds > 0;
  request.log.share = options.share;
  request.strict = options.strict;
  request.quiet = options.quiet;
  request.progress = options.progress;
  request.reportEvery = options.reportEvery;
  request.rotateBytes = options.rotateBytes;
  request.rotateSeconds = options.rotateSeconds;
  request.queueFrames = options.queueFrames;
  return request;
}

// The demo's replay into `output` in the current directory.
int Replay(const Options& options, const Host& host, const char* trace, const char* output) {
  LoggerRequest request = MakeLoggerRequest(options, trace);
  request.log.output = output;
  request.log.name = nullptr;
  request.log.overwrite = options.overwrite;
  request.log.rotating = false;
  request.rotateBytes = 0;
  request.rotateSeconds = 0;
  return RunLogger(host.module.api, host.moduleDirectory, request);
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
int RunScript(const Options& options, const Host& host, const char* script, const char* logFolder,
              char* shownLog, size_t shownSize) {
  FILE* file = OpenInput(script);
  if (file == nullptr) return 1;
  LineReader reader;
  if (!OpenLineReader(&reader, file)) {
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
  state.haveShareMode = ShareIfAsked(options, host, &state.shareModeResult);
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
  while (!stopped && NextLine(&reader, &line, &length, &tooLong)) {
    uint64_t writesBefore = state.linesWritten + state.writeFailures;
    uint64_t failuresBefore = state.writeFailures;
    uint64_t expectedBefore = state.expectedWriteFailures;
    ScriptStatus status = ScriptStatus::kMalformed;
    if (tooLong) {
      snprintf(message, sizeof message, "line too long (more than %llu bytes)",
               static_cast<unsigned long long>(kMaxLineLength));
    } else {
      status = RunScriptLine(host.module.api, line, length, &state, message, sizeof message);
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
  CloseLineReader(&reader);
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
      JoinPath(full, sizeof full, logFolder == nullptr ? host.moduleDirectory : "", state.lastLogName);
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

bool FindSamples(char* dir, size_t size) {
  char exeDir[kPathSize];
  if (!ExecutableDirectory(exeDir, sizeof exeDir)) return false;
  const char* candidates[] = {"samples/", "../share/buslog/samples/"};
  for (const char* candidate : candidates) {
    char probe[kPathSize];
    if (!JoinPath(dir, size, exeDir, candidate) || !JoinPath(probe, sizeof probe, dir, "demo.candump")) {
      continue;
    }
    FILE* file = fopen(probe, "rb");
    if (file != nullptr) {
      fclose(file);
      return true;
    }
  }
  return false;
}

void ShowLog(const char* path) {
  printf("== %s\n", path);
  FILE* file = fopen(path, "rb");
  if (file == nullptr) {
    printf("(missing)\n");
    return;
  }
  char block[4096];
  size_t got;
  while ((got = fread(block, 1, sizeof block, file)) > 0) fwrite(block, 1, got, stdout);
  fclose(file);
  fflush(stdout);
}

int Demo(const Options& options, const Host& host) {
  char samples[kPathSize];
  if (!FindSamples(samples, sizeof samples)) {
    Message("buslog-host: the samples (demo.candump, demo.script) are not beside this program\n");
    return 1;
  }
  char trace[kPathSize];
  char script[kPathSize];
  if (!JoinPath(trace, sizeof trace, samples, "demo.candump") ||
      !JoinPath(script, sizeof script, samples, "demo.script")) {
    return 1;
  }
  // Both samples hold one fault on purpose, to show how it is reported.
  Message(
      "buslog-host demo: replaying demo.candump, whose line 9 is not a frame (a warning, on purpose), and\n"
      "  running demo.script, whose last Write comes after Close (refused, as the script expects)\n");
  // The logs go into the current directory, as the logger's do, under names
  // of their own: demo-can-2.log and so on when the user has a file of that
  // name, which only --overwrite replaces.
  char canLog[kPathSize];
  if (options.overwrite) {
    snprintf(canLog, sizeof canLog, "demo-can.log");
  } else if (!FreeName("demo-can.log", canLog, sizeof canLog)) {
    Message("buslog-host: no free name for demo-can.log in this folder; give --overwrite to replace it\n");
    return 1;
  }
  char fullCanLog[kPathSize];
  char logFolder[kPathSize];
  char reason[512];
  if (!FullOutputPath(canLog, fullCanLog, sizeof fullCanLog, reason, sizeof reason) ||
      !RelativePath(host.moduleDirectory, fullCanLog, logFolder, sizeof logFolder, reason, sizeof reason)) {
    Message("buslog-host: cannot write the demo's logs in this folder: %s\n", reason);
    return 1;
  }
  // The path from the module's folder to this one: that to the log, less its name.
  size_t folderLength = strlen(logFolder);
  size_t nameLength = strlen(canLog);
  if (folderLength < nameLength || strcmp(logFolder + folderLength - nameLength, canLog) != 0) {
    Message("buslog-host: cannot write the demo's logs in this folder: no path to it from the module's\n");
    return 1;
  }
  logFolder[folderLength - nameLength] = '\0';
  int status = Replay(options, host, trace, canLog);
  char scriptLog[kPathSize] = "demo-script.log";
  status |= RunScript(options, host, script, logFolder, scriptLog, sizeof scriptLog);
  ShowLog(fullCanLog);
  ShowLog(scriptLog);
  return status;
}

int ReplayCommand(const Options& options, Host* host) {
  return RunLogger(host->module.api, host->moduleDirectory, MakeLoggerRequest(options, options.input));
}

int RecordCommand(const Options& options, Host* host) {
  return RunLogger(host->module.api, host->moduleDirectory, MakeLoggerRequest(options, "-"));
}

int RunCommand(const Options& options, Host* host) {
  return RunScript(options, *host, options.input, nullptr, nullptr, 0);
}

int DemoCommand(const Options& options, Host* host) { return Demo(options, *host); }

struct Command {
  const char* name;
  const char* input;  // what its one argument is, or null when it takes none
  bool usesModule;    // the module is loaded before it runs
  int (*run)(const Options& options, Host* host);
};

const Command kCommands[] = {
    {"replay", "a candump trace (- for standard input)", true, ReplayCommand},
    {"record", nullptr, true, RecordCommand},
    {"run", "a call script", true, RunCommand},
    {"demo", nullptr, true, DemoCommand},
};

}  // namespace
}  // namespace buslog_host

int main(int argc, char** argv) {
  using namespace buslog_host;
  if (argc > 1 && IsLogToolCommand(argv[1])) return RunLogTool(argc, argv);
  static Options options;
  ParseResult parsed = ParseOptions(argc, argv, &options);
  if (parsed == ParseResult::kHelp) return 0;
  if (parsed == ParseResult::kWrong) return 2;
  const Command* command = nullptr;
  for (const Command& candidate : kCommands) {
    if (strcmp(candidate.name, options.command) == 0) command = &candidate;
  }
  if (command == nullptr) {
    UsageError("unknown command %s", options.command);
    return 2;
  }
  if (command->input != nullptr && options.input == nullptr) {
    char what[256];
    snprintf(what, sizeof what, "%s needs %s", command->name, command->input);
    UsageError("%s", what);
    return 2;
  }
  if (command->input == nullptr && options.input != nullptr) {
    UsageError("unexpected argument %s", options.input);
    return 2;
  }
  static Host host;
  if (command->usesModule && (!FindModule(&options) || !LoadHost(options, &host))) return 1;
  int status = command->run(options, &host);
  if (command->usesModule) UnloadModule(&host.module);
  return status;
}
