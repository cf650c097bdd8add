// buslog-host demo: the bundled samples replayed and run into the current
// folder, then shown.
#include "demo.h"

#include <cstdio>
#include <cstring>

#include "platform/system.h"
#include "logger/logger.h"
#include "platform/message.h"
#include "script/runner.h"

namespace buslog_host {
namespace {

// The demo's replay into `output` in the current directory.
int Replay(const Options& options, const char* trace, const char* output) {
  LoggerRequest request = MakeLoggerRequest(options, trace);
  request.output = output;
  request.name = nullptr;
  request.overwrite = options.overwrite;
  request.rotateBytes = 0;
  request.rotateSeconds = 0;
  return RunLogger(options.module, request);
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

}  // namespace

int RunDemo(const Options& options, const BuslogApi& api, const char* moduleDirectory) {
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
  if (!options.quiet) {
    Message(
      "buslog-host demo: replaying demo.candump, whose line 9 is not a frame (a warning, on purpose), and\n"
      "  running demo.script, whose last Write comes after Close (refused, as the script expects)\n");
  }
  // The logs go into the current directory, as the logger's do, under names
  // of their own: demo-can-2.buslog and so on when the user has a file of that
  // name, which only --overwrite replaces.
  char canLog[kPathSize];
  if (options.overwrite) {
    snprintf(canLog, sizeof canLog, "demo-can.buslog");
  } else if (!FreeName("demo-can.buslog", canLog, sizeof canLog)) {
    Message("buslog-host: no free name for demo-can.buslog in this folder; give --overwrite to replace it\n");
    return 1;
  }
  char fullCanLog[kPathSize];
  char logFolder[kPathSize];
  char reason[512];
  if (!FullOutputPath(canLog, fullCanLog, sizeof fullCanLog, reason, sizeof reason) ||
      !RelativePath(moduleDirectory, fullCanLog, logFolder, sizeof logFolder, reason, sizeof reason)) {
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
  int status = Replay(options, trace, canLog);
  char scriptLog[kPathSize] = "demo-script.buslog";
  status |= RunScript(options, api, moduleDirectory, script, logFolder, scriptLog, sizeof scriptLog);
  ShowLog(fullCanLog);
  ShowLog(scriptLog);
  return status;
}

}  // namespace buslog_host
