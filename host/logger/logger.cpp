// The logger's run from input check to summary.
#include "logger/logger.h"

#include <chrono>
#include <cstring>
#include <memory>

#include "logger/live.h"
#include "logger/monitor.h"
#include "logger/read_loop.h"
#include "logger/summary.h"
#include "platform/message.h"
#include "platform/system.h"

#ifndef BUSLOG_HOST_VERSION
#error "BUSLOG_HOST_VERSION is set by the build from the project's version"
#endif

namespace buslog_host {
namespace {

// A file replay gives up waiting for failing storage at the first stop
// request, live input (whose queue is logged after a first stop) at the
// second.
int ReplayInterrupted(void*) { return StopRequests() > 0 ? 1 : 0; }

BuslogWriterOptions WriterOptions(const char* module, const LoggerRequest& request, bool live) {
  BuslogWriterOptions options;
  BuslogWriterDefaults(&options);
  options.module = module;
  options.output = request.output;
  options.moduleName = request.name;
  options.writer = "buslog-host " BUSLOG_HOST_VERSION;
  options.input = request.input;
  options.mode = live ? BUSLOG_WRITER_QUEUED : BUSLOG_WRITER_REPLAY;
  options.syncEveryFrame = request.syncEveryFrame ? 1 : 0;
  options.markers = request.markers ? 1 : 0;
  options.timeBase = request.timeBasePerFile ? BUSLOG_TIME_PER_FILE : BUSLOG_TIME_PRECISE;
  options.overwrite = request.overwrite ? 1 : 0;
  options.share = request.share ? 1 : 0;
  options.rotateBytes = request.rotateBytes;
  options.rotateSeconds = request.rotateSeconds;
  options.maxFiles = request.maxFiles;
  options.maxTotal = request.maxTotal;
  options.queueFrames = request.queueFrames;
  if (!live) options.interrupted = ReplayInterrupted;
  ApplySelection(request.selection, &options);
  return options;
}

void Tick(void* context) { Look(static_cast<Monitor*>(context), false); }

// Replays a file read in blocks, the writer logging in this thread.
void ReadFile(ReadLoop* loop, const InputFile& input, Monitor* monitor) {
  buslog_reader::LineSource source;
  if (!buslog_reader::OpenLineSource(&source, input.stream)) {
    Message("buslog-host: out of memory\n");
    return;
  }
  monitor->source = &source;
  loop->tick = Tick;
  loop->tickContext = monitor;
  ReadLines(loop, &source);
  monitor->source = nullptr;
  buslog_reader::CloseLineSource(&source);
}

}  // namespace

LoggerRequest MakeLoggerRequest(const Options& options, const char* input) {
  LoggerRequest request = {};
  request.input = input;
  request.recording = options.command != nullptr && strcmp(options.command, "record") == 0;
  request.output = options.output;
  request.name = options.name;
  request.overwrite = options.overwrite;
  request.share = options.share;
  request.strict = options.strict;
  request.quiet = options.quiet;
  request.progress = options.progress;
  request.reportEvery = options.reportEvery;
  request.syncEveryFrame = options.syncEveryFrame;
  request.rotateBytes = options.rotateBytes;
  request.rotateSeconds = options.rotateSeconds;
  request.maxFiles = options.maxFiles;
  request.maxTotal = options.maxTotal;
  request.queueFrames = options.queueFrames;
  request.markers = !options.noMarkers;
  request.timeBasePerFile = options.timeBasePerFile;
  request.selection = options.selection;
  return request;
}

int RunLogger(const char* module, const LoggerRequest& request) {
  InputFile input;
  char reason[512];
  const char* traceName = strcmp(request.input, "-") == 0 ? "standard input" : request.input;
  // The input first: nothing is created or changed when it cannot be read.
  if (!OpenInputFile(request.input, &input, reason, sizeof reason)) {
    Message("buslog-host: %s: %s\n", traceName, reason);
    return 1;
  }
  bool live = input.kind == InputKind::kStream;
  BuslogWriterOptions options = WriterOptions(module, request, live);
  BuslogWriter* writer = nullptr;
  char error[1024];
  if (BuslogWriterOpen(&options, &writer, error, sizeof error) != BUSLOG_WRITER_OK) {
    Message("buslog-host: %s\n", error);
    CloseInputFile(&input);
    return 1;
  }
  RelayMessages(writer);
  // From here a stop request ends the run cleanly; before, while a FIFO's
  // open waits for its writer, it ends the program as usual.
  InstallStopHandlers();
  bool terminal = StderrIsTerminal();
  Monitor monitor = {};
  monitor.writer = writer;
  monitor.inputSize = live ? 0 : input.size;
  monitor.reportEvery = request.reportEvery;
  monitor.progress = !request.quiet && (terminal || request.progress);
  monitor.inPlace = terminal;
  StartMonitor(&monitor);
  // The loop outlives this function when a live reader cannot be stopped.
  ReadLoop* loop = new ReadLoop();
  loop->writer = writer;
  loop->traceName = traceName;
  loop->strict = request.strict;
  auto started = std::chrono::steady_clock::now();
  bool inputFreed = true;
  if (live) {
    inputFreed = ReadLive(loop, input, &monitor, request.quiet);
    WaitForWriter(writer, &monitor, request.quiet);
  } else {
    ReadFile(loop, input, &monitor);
  }
  BuslogWriterClose(writer, nullptr);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  Look(&monitor, false);
  EndMonitor(&monitor);
  if (inputFreed) CloseInputFile(&input);
  RunOutcome outcome = {&request, traceName, live, seconds, loop, loop->readError, StopRequests()};
  if (!request.quiet) PrintSummary(writer, outcome);
  int status = ExitStatus(writer, outcome);
  StopHandlingDone();
  BuslogWriterFree(writer);
  if (inputFreed) delete loop;
  return status;
}

}  // namespace buslog_host
