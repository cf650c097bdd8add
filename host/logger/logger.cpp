// The logger's run from input check to summary.
#include "logger/logger.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "line_source.h"
#include "logger/live_input.h"
#include "logger/replay.h"
#include "logger/run.h"
#include "logger/storage.h"
#include "platform/message.h"
#include "platform/system.h"

namespace buslog_host {
namespace {

void ShareMode(const BuslogApi& api) {
  uint32_t choice = 1;
  int32_t count;
  void* cell;
  api.ShareMode(1, &choice, &count, &cell);
}

// "2015-07-10 08:17:32.249713" in local time, or the raw time stamp when
// it is no date.
void FormatFirstFrame(const LogFileEntry& file, char* out, size_t size) {
  struct tm local;
  if (file.firstSeconds < (1ull << 40) && LocalTime(static_cast<int64_t>(file.firstSeconds), &local)) {
    char date[32];
    strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
    snprintf(out, size, "%s.%06u", date, file.firstMicros);
  } else {
    snprintf(out, size, "(%llu.%06u)", static_cast<unsigned long long>(file.firstSeconds), file.firstMicros);
  }
}

const char* FateText(FileFate fate) {
  switch (fate) {
    case FileFate::kKept: return "";
    case FileFate::kDeleted: return "; deleted under the logger";
    case FileFate::kUnreachable: return "; no longer reached under this name";
    case FileFate::kRemovedByRing: return "; removed by the ring";
  }
  return "";
}

// The frames of logs that are gone join the missing ones; returns their
// lines.
uint64_t CollectLostFiles(LoggerRun* run) {
  uint64_t gone = 0;
  for (LogFileEntry& file : run->logs.files) {
    // A file closed earlier may have gone since.
    FileIdentity atPath;
    if (file.fate == FileFate::kKept && file.identity.known &&
        (!IdentityOfPath(file.path.c_str(), &atPath) || !SameFile(atPath, file.identity))) {
      file.fate = StateOfPath(file.path.c_str()) == PathState::kMissing ? FileFate::kDeleted : FileFate::kUnreachable;
    }
    if (file.fate == FileFate::kKept || file.lines == 0) continue;
    gone += file.lines;
    std::string reason = file.fate == FileFate::kRemovedByRing ? std::string("removed by the ring")
                         : file.fate == FileFate::kDeleted
                             ? "the log " + file.path + " was deleted"
                             : "the log " + file.path + " can no longer be reached";
    // A file of marker lines only held no frame: none is missing.
    if (file.firstFrame != 0) NoteMissing(&run->keep.trouble, file.firstFrame, file.lastFrame, reason.c_str(), true);
  }
  return gone;
}

void PrintSummary(const LoggerRun& run, bool isLive, double seconds, uint64_t linesGone) {
  const ReplayTotals& t = run.totals;
  const LogSet& logs = run.logs;
  const char* traceName = run.traceName;
  const LiveStats* live = isLive ? &run.live : nullptr;
  // Every frame read is either logged or not logged, and each not logged
  // for one of three reasons.
  uint64_t logged = t.dataFrames + t.remoteFrames + t.fdFrames + t.errorFrames;
  uint64_t notLogged = t.framesFailed + t.tooManyChannels + t.notLogged;
  Message(
          "buslog-host: %s %s\n"
          "  frames read     %llu (data %llu, remote %llu, CAN FD %llu, error %llu)\n"
          "  frames logged   %llu (data %llu, remote %llu, CAN FD %llu, error %llu)\n"
          "  not logged      %llu (write failed %llu, too many interfaces %llu, left at the stop %llu)\n",
          run.request->recording ? "record from" : "replay of", traceName,
          static_cast<unsigned long long>(t.framesRead), static_cast<unsigned long long>(t.readData),
          static_cast<unsigned long long>(t.readRemote), static_cast<unsigned long long>(t.readFd),
          static_cast<unsigned long long>(t.readErrorFrames), static_cast<unsigned long long>(logged),
          static_cast<unsigned long long>(t.dataFrames), static_cast<unsigned long long>(t.remoteFrames),
          static_cast<unsigned long long>(t.fdFrames), static_cast<unsigned long long>(t.errorFrames),
          static_cast<unsigned long long>(notLogged), static_cast<unsigned long long>(t.framesFailed),
          static_cast<unsigned long long>(t.tooManyChannels), static_cast<unsigned long long>(t.notLogged));
  if (linesGone > 0) {
    Message("  in the logs     %llu lines (%llu went into logs that are gone)\n",
            static_cast<unsigned long long>(t.written - linesGone), static_cast<unsigned long long>(linesGone));
  }
  Message(
          "  lines skipped   %llu (malformed %llu, of them too long %llu)\n"
          "  write failures  %llu\n"
          "  seconds         %.3f\n"
          "  frames/s        %.0f\n",
          static_cast<unsigned long long>(t.malformed), static_cast<unsigned long long>(t.malformed),
          static_cast<unsigned long long>(t.tooLong), static_cast<unsigned long long>(t.writeFailures), seconds,
          seconds > 0 ? static_cast<double>(logged) / seconds : 0.0);
  if (t.otherLines > 0) {
    Message("  marker lines    %llu (the files' start, writer and interfaces; not frames)\n",
            static_cast<unsigned long long>(t.otherLines));
  }
  if (live != nullptr) {
    Message("  queue           deepest %llu lines; the reader waited %.3f s for room\n",
            static_cast<unsigned long long>(live->deepest), live->readerWaited);
  }
  if (t.stops > 0) {
    Message("  stopped         on request (%d)\n", t.stops);
  }
  if (logs.removed > 0) {
    Message("  files removed   %u (the ring keeps this run's newest files)\n", logs.removed);
  }
  PrintMissing(run.keep.trouble, 20);
  size_t listed = 0;
  for (const LogFileEntry& file : logs.files) {
    if (file.fate == FileFate::kRemovedByRing) continue;
    ++listed;
    char first[64] = "";
    if (file.haveFirst) FormatFirstFrame(file, first, sizeof first);
    Message("  log             %s (%llu lines, first frame %s%s%s)\n", file.path.c_str(),
            static_cast<unsigned long long>(file.lines), first, FateText(file.fate),
            file.cutEnd ? "; ends in a cut line" : "");
  }
  if (listed == 0) {
    Message("  log             none: no line was written\n");
  }
  PrintChannels(run.channels);
  if (t.timeJumps > 0) {
    Message("  time jumps      %llu (each began a new file with its own time base)\n",
            static_cast<unsigned long long>(t.timeJumps));
  }
  if (t.timeWentBack > 0) {
    if (t.timeWentBack == 1) {
      Message("  note: 1 frame was earlier than its file's first and stamped +0.000000\n");
    } else {
      Message("  note: %llu frames were earlier than their file's first and stamped +0.000000\n",
              static_cast<unsigned long long>(t.timeWentBack));
    }
  }
}

// Replays a file read in blocks.
bool ReplayFile(LoggerRun* run, const InputFile& input) {
  buslog_reader::LineSource reader;
  if (!buslog_reader::OpenLineSource(&reader, input.stream)) {
    Message("buslog-host: out of memory\n");
    return false;
  }
  bool complete = ReplayTrace(run, &reader);
  buslog_reader::CloseLineSource(&reader);
  return complete;
}

// Replays a stream through the live queue. `inputFreed` false: the reader
// thread still holds the input, which must not be closed.
bool ReplayLive(LoggerRun* run, const InputFile& input, bool* inputFreed) {
  LiveQueue* queue = StartLiveQueue(input, run->request->queueFrames);
  if (queue == nullptr) {
    Message("buslog-host: cannot start reading %s (no memory or thread)\n", run->traceName);
    return false;
  }
  bool complete = ReplayTrace(run, queue);
  *inputFreed = FinishLiveQueue(queue, &run->live);
  run->totals.readError = run->live.readError;
  return complete && !run->live.readError;
}

// The exit status, with the last word on what went wrong.
int ExitStatus(const LoggerRun& run, bool complete) {
  const ReplayTotals& totals = run.totals;
  // Frames the ring removed were logged; any other missing frame fails the
  // run, a failure that passed without a loss does not.
  uint64_t ringRemoved = 0;
  for (const LogFileEntry& file : run.logs.files) {
    if (file.fate == FileFate::kRemovedByRing) ringRemoved += file.lines;
  }
  int status = complete && run.keep.trouble.lost == ringRemoved ? 0 : 1;
  if (totals.readError) Message("buslog-host: %s: read error; the replay stopped early\n", run.traceName);
  if (totals.stops >= 2) {
    uint64_t logged = totals.dataFrames + totals.remoteFrames + totals.fdFrames + totals.errorFrames;
    Message("buslog-host: stopped at a second request: of %llu frames read, %llu were logged and %llu not\n",
            static_cast<unsigned long long>(totals.framesRead), static_cast<unsigned long long>(logged),
            static_cast<unsigned long long>(totals.framesRead - logged));
    status = 1;
  } else if (totals.linesRead == 0 && !totals.readError && totals.stops == 0) {
    // Not an error (an empty pipe's end), but said.
    Message("buslog-host: %s held no lines; nothing was logged\n", run.traceName);
  } else if (totals.linesRead > 0 && totals.framesRead == 0 && !run.screenFormatSaid) {
    Message("buslog-host: %s: no candump frames in %llu line%s\n", run.traceName,
            static_cast<unsigned long long>(totals.linesRead), totals.linesRead == 1 ? "" : "s");
    status = 1;
  }
  return status;
}

}  // namespace

LoggerRequest MakeLoggerRequest(const Options& options, const char* input) {
  LoggerRequest request = {};
  request.input = input;
  request.recording = options.command != nullptr && strcmp(options.command, "record") == 0;
  request.log.output = options.output;
  request.log.name = options.name;
  request.log.overwrite = options.overwrite;
  request.log.share = options.share;
  request.strict = options.strict;
  request.quiet = options.quiet;
  request.progress = options.progress;
  request.reportEvery = options.reportEvery;
  request.syncEveryFrame = options.syncEveryFrame;
  request.rotation = RotationPolicy{options.rotateBytes, options.rotateSeconds};
  request.log.rotating = Rotating(request.rotation);
  request.log.maxFiles = options.maxFiles;
  request.log.maxTotal = options.maxTotal;
  request.log.fileBytes = options.rotateBytes;
  request.queueFrames = options.queueFrames;
  request.markers = !options.noMarkers;
  return request;
}

int RunLogger(const BuslogApi& api, const char* moduleDirectory, const LoggerRequest& request) {
  InputFile input;
  char reason[512];
  const char* traceName = strcmp(request.input, "-") == 0 ? "standard input" : request.input;
  // The input first: nothing is created or changed when it cannot be read.
  if (!OpenInputFile(request.input, &input, reason, sizeof reason)) {
    Message("buslog-host: %s: %s\n", traceName, reason);
    return 1;
  }
  std::unique_ptr<LoggerRun> owned(new LoggerRun());
  LoggerRun& run = *owned;
  if (!PlanLogs(api, moduleDirectory, request.log, input.identity, input.kind == InputKind::kRegular, &run.logs)) {
    CloseInputFile(&input);
    return 1;
  }
  // From here a stop request ends the run cleanly; before, while a FIFO's
  // open waits for its writer, it ends the program as usual.
  InstallStopHandlers();
  if (request.log.share) ShareMode(api);
  if (!OpenNextLog(&run.logs)) {
    StopHandlingDone();
    CloseInputFile(&input);
    return 1;
  }

  bool terminal = StderrIsTerminal();
  run.api = &api;
  run.request = &request;
  run.traceName = traceName;
  run.inputSize = input.kind == InputKind::kRegular ? input.size : 0;
  run.progress = !request.quiet && (terminal || request.progress);
  run.progressInPlace = terminal;

  bool isLive = input.kind == InputKind::kStream;
  bool inputFreed = true;
  auto started = std::chrono::steady_clock::now();
  bool complete = isLive ? ReplayLive(&run, input, &inputFreed) : ReplayFile(&run, input);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  CloseLog(&run.logs);
  if (inputFreed) CloseInputFile(&input);

  uint64_t linesGone = CollectLostFiles(&run);
  if (!request.quiet) PrintSummary(run, isLive, seconds, linesGone);
  int status = ExitStatus(run, complete);
  StopHandlingDone();
  return status;
}

}  // namespace buslog_host
