// The replay loop and its steps.
#include "logger/replay.h"

#include <chrono>
#include <cstring>

#include "candump.h"
#include "logger/batch.h"
#include "candump_screen.h"
#include "logger/frame_out.h"
#include "logger/log_frame.h"
#include "logger/markers.h"
#include "platform/message.h"
#include "platform/system.h"

namespace buslog_host {
namespace {

// Warnings printed before the rest are only counted.
constexpr uint64_t kMaxWarnings = 20;
// How long the live input is waited for before progress and stops are
// looked at again.
constexpr int kIdleMilliseconds = 50;

// Where the lines come from: a file read in large blocks, or the live
// queue. One loop serves both, so that the file's hot path is compiled as
// one piece.
struct Source {
  buslog_reader::LineSource* reader;  // null for live input
  LiveQueue* queue;
  bool stopped;
  // `wait`: the live input may be waited for (else kIdle when no whole
  // line is at hand); a file's next line is always at hand.
  LiveStatus Next(const char** line, size_t* length, bool* tooLong, bool wait = true) {
    if (reader == nullptr) return NextLiveLine(queue, line, length, tooLong, wait ? kIdleMilliseconds : 0);
    if (stopped) return LiveStatus::kEnd;
    return buslog_reader::NextWholeLine(reader, line, length, tooLong) ? LiveStatus::kLine : LiveStatus::kEnd;
  }
  bool Live() const { return reader == nullptr; }
  uint64_t LineNumber() const { return Live() ? LiveLineNumber(queue) : reader->lineNumber; }
  uint64_t Consumed() const { return Live() ? 0 : buslog_reader::LineSourceConsumed(*reader); }
  uint64_t Depth() { return Live() ? LiveDepth(queue) : 0; }
  // A file's lines are at hand: a stop ends the replay at once. The live
  // queue's lines already read are still logged.
  void Stop() {
    if (Live()) {
      StopLiveReading(queue);
    } else {
      stopped = true;
    }
  }
};

struct Progress {
  std::chrono::steady_clock::time_point started;
  std::chrono::steady_clock::time_point lastShown;
  uint64_t lastFrames;
  bool shown;
};

void ShowProgress(Progress* progress, Source& source, const LoggerRun& run, bool force) {
  const ReplayTotals& t = run.totals;
  uint64_t frames = t.dataFrames + t.remoteFrames + t.fdFrames + t.errorFrames;  // logged
  auto now = std::chrono::steady_clock::now();
  double sinceLast = std::chrono::duration<double>(now - progress->lastShown).count();
  if (!force && sinceLast < 1.0) return;
  double rate = sinceLast > 0 ? static_cast<double>(frames - progress->lastFrames) / sinceLast : 0.0;
  progress->lastShown = now;
  progress->lastFrames = frames;
  char text[160];
  if (source.Live()) {
    snprintf(text, sizeof text, "%llu frames, %.0f frames/s, queue %llu", static_cast<unsigned long long>(frames),
             rate, static_cast<unsigned long long>(source.Depth()));
  } else if (run.inputSize > 0) {
    uint64_t consumed = source.Consumed();
    double share = static_cast<double>(consumed) / static_cast<double>(run.inputSize);
    double elapsed = std::chrono::duration<double>(now - progress->started).count();
    double left = share > 0 ? elapsed * (1.0 - share) / share : 0.0;
    unsigned long seconds = static_cast<unsigned long>(left + 0.5);
    snprintf(text, sizeof text, "%llu frames, %.0f frames/s, %.1f %%, %lu:%02lu:%02lu left",
             static_cast<unsigned long long>(frames), rate, 100.0 * share, seconds / 3600, seconds / 60 % 60,
             seconds % 60);
  } else {
    snprintf(text, sizeof text, "%llu frames, %.0f frames/s", static_cast<unsigned long long>(frames), rate);
  }
  if (run.logs.removed > 0) {
    size_t used = strlen(text);
    snprintf(text + used, sizeof text - used, ", %u files removed", run.logs.removed);
  }
  if (run.progressInPlace) {
    Message("\r%-72s", text);
  } else {
    Message("progress: %s\n", text);
  }
  progress->shown = true;
}

// A line skipped: said (the first ones, or all with --strict), then only
// counted.
void Warn(LoggerRun* run, uint64_t lineNumber, const char* why) {
  bool strict = run->request->strict;
  if (run->warnings < kMaxWarnings || strict) {
    Message("%s:%llu: warning: %s; line skipped\n", run->traceName, static_cast<unsigned long long>(lineNumber),
            why);
  } else if (run->warnings == kMaxWarnings) {
    Message("%s: further warnings are only counted\n", run->traceName);
  }
  ++run->warnings;
}

// Stops are taken between lines: the first ends the reading, a second
// ends the replay after the batch in hand. True at the second. At the
// first, live input says how much is still to be logged.
bool TakeStops(LoggerRun* run, Source& source, bool* stopping) {
  int stops = StopRequests();
  if (stops == 0) return false;
  run->totals.stops = stops;
  if (stops >= 2) return true;
  if (!*stopping) {
    *stopping = true;
    source.Stop();
    if (source.Live() && !run->request->quiet) {
      unsigned long long queued = source.Depth() + run->batch.count;
      Message("buslog-host: stopping: logging %llu queued frame%s; Ctrl+C again to give them up\n", queued,
              queued == 1 ? "" : "s");
    }
  }
  return false;
}

enum class ReadStep {
  kFrame,    // `frame` holds the next frame
  kSkipped,  // a blank or malformed line (said)
  kIdle,     // no whole line at hand (live input)
  kEnd,      // the input ended, or --strict stops at a malformed line
};

// The next line, parsed as a candump frame. With `wait` false, live input
// is not waited for.
ReadStep ReadFrame(LoggerRun* run, Source& source, Progress* progress, CandumpFrame* frame, bool wait) {
  const char* line;
  size_t length;
  bool tooLong;
  LiveStatus next = source.Next(&line, &length, &tooLong, wait);
  if (next == LiveStatus::kEnd) return ReadStep::kEnd;
  if (next == LiveStatus::kIdle) return ReadStep::kIdle;
  if ((++run->totals.linesRead & 0x3FF) == 0 && run->progress) ShowProgress(progress, source, *run, false);
  const char* why = nullptr;
  if (tooLong) {
    why = "line too long to be a frame";
    ++run->totals.tooLong;
  } else {
    // Blank lines are not frames; a frame's line starts with its time stamp.
    if (length == 0 || line[0] == ' ' || line[0] == '\t') {
      size_t start = 0;
      while (start < length && (line[start] == ' ' || line[start] == '\t')) ++start;
      if (start == length) return ReadStep::kSkipped;
    }
    why = ParseCandumpLine(line, length, frame);
  }
  if (why == nullptr) {
    ++run->totals.framesRead;
    switch (frame->kind) {
      case CanFrameKind::kData: ++run->totals.readData; break;
      case CanFrameKind::kRemote: ++run->totals.readRemote; break;
      case CanFrameKind::kFd: ++run->totals.readFd; break;
      case CanFrameKind::kError: ++run->totals.readErrorFrames; break;
    }
    return ReadStep::kFrame;
  }
  ++run->totals.malformed;
  if (!tooLong && !run->screenFormatSaid && IsCandumpScreenLine(line, length)) {
    // Said once. With no frame logged yet the input is all in that
    // format: the run ends rather than go on logging nothing.
    run->screenFormatSaid = true;
    Message("buslog-host: %s:%llu: %s\n", run->traceName, static_cast<unsigned long long>(source.LineNumber()),
            kCandumpScreenAdvice);
    if (run->totals.framesRead == 0) {
      run->totals.stoppedEarly = true;
      source.Stop();
      return ReadStep::kEnd;
    }
  }
  Warn(run, source.LineNumber(), why);
  if (!run->request->strict) return ReadStep::kSkipped;
  run->totals.stoppedEarly = true;
  return ReadStep::kEnd;
}

// The frame's channel, or -1 when it has none (said; with --strict
// `stoppedEarly` is set).
int32_t ChannelStep(LoggerRun* run, const Source& source, const CandumpFrame& frame) {
  int32_t channel = ChannelOf(&run->channels, frame.interfaceName, frame.interfaceLength);
  if (channel >= 0) return channel;
  ++run->totals.tooManyChannels;
  Warn(run, source.LineNumber(), "more interfaces than channels, or a name too long");
  if (run->request->strict) run->totals.stoppedEarly = true;
  return -1;
}

// The time stamp the frame gets: since the open file's first frame, which
// it becomes if the file has none yet. TimeJumpStep has made sure that the
// file can take it (frame_time.h).
Elapsed FileTimeStep(LoggerRun* run, const CandumpFrame& frame) {
  FrameTime time = {frame.seconds, frame.micros};
  if (!run->fileHasFrame) {
    run->fileHasFrame = true;
    run->fileFirst = run->fileLatest = time;
    LogFileEntry& file = run->logs.files.back();
    file.haveFirst = true;
    file.firstSeconds = time.seconds;
    file.firstMicros = time.micros;
  }
  if (Earlier(run->fileLatest, time)) run->fileLatest = time;
  Elapsed since;
  if (!TimeSinceFirst(run->fileFirst, time, &since)) ++run->totals.timeWentBack;
  return since;
}

// A time the open file cannot show rightly (frame_time.h): a new file with
// a time base of its own begins at the frame, said in one line with the new
// file's name once it is open (the first ones; then they are only counted).
// kNone when the file can take the frame.
TimeJump TimeJumpStep(LoggerRun* run, const Source& source, const FrameTime& time) {
  if (!run->fileHasFrame) return TimeJump::kNone;
  TimeJump jump = CheckTimeJump(run->fileFirst, run->fileLatest, time);
  if (jump == TimeJump::kNone) return jump;
  uint64_t count = ++run->totals.timeJumps;
  if (count > kMaxWarnings) {
    if (count == kMaxWarnings + 1) Message("%s: further time jumps are only counted\n", run->traceName);
    return jump;
  }
  Elapsed gap;
  const char* what;
  if (jump == TimeJump::kClockBack) {
    TimeSinceFirst(time, run->fileLatest, &gap);
    what = "before the file's latest frame: the clock went back";
  } else {
    TimeSinceFirst(run->fileFirst, time, &gap);
    what = "after the file's first frame, more than its time stamps can show";
  }
  char note[512];
  snprintf(note, sizeof note, "%s:%llu: time jump: %llu.%06u s %s; a new file with its own time base begins here: ",
           run->traceName, static_cast<unsigned long long>(source.LineNumber()),
           static_cast<unsigned long long>(gap.seconds), gap.micros, what);
  run->keep.jumpNote = note;
  return jump;
}

void CountLogged(ReplayTotals* totals, LineKind kind) {
  switch (kind) {
    case LineKind::kData: ++totals->dataFrames; break;
    case LineKind::kRemote: ++totals->remoteFrames; break;
    case LineKind::kFd: ++totals->fdFrames; break;
    case LineKind::kError: ++totals->errorFrames; break;
    case LineKind::kOther: ++totals->otherLines; break;
  }
}

// A line of a batch whose one Write succeeded: the totals, --report-every
// and rotation by size. (A batch that fails goes line by line through the
// write step, log_frame.h, which counts for itself.)
void CountWrite(LoggerRun* run, const LogLine& line) {
  CountLogged(&run->totals, line.kind);
  uint64_t count = ++run->totals.written;
  uint64_t every = run->request->reportEvery;
  if (every != 0 && count % every == 0) Message("written %llu\n", static_cast<unsigned long long>(count));
  CheckSize(run);
}

// Lines a batch may hold now: all it can, one with --sync-every-frame, and
// while rotating by size no more than can be written before the file's size
// is looked at, so that each file ends with the very line it would end
// with one Write a line.
uint32_t BatchRoom(const LoggerRun& run) {
  if (run.request->syncEveryFrame) return 1;
  if (run.request->rotation.bytes != 0 && run.rotation.linesBeforeSizeCheck < kBatchLines) {
    return static_cast<uint32_t>(run.rotation.linesBeforeSizeCheck == 0 ? 1 : run.rotation.linesBeforeSizeCheck);
  }
  return kBatchLines;
}

// The batch written, then progress looked at: once a second at any rate.
void Flush(LoggerRun* run, Source& source, Progress* progress) {
  if (!FlushBatch(run)) return;
  if (run->progress) ShowProgress(progress, source, *run, false);
}

// A marker line (markers.h) into the batch, as a line that is no frame.
void AddMarkerLine(LoggerRun* run, const Source& source, const Elapsed& since, const char* text, uint8_t marksFile,
                   uint32_t marksChannel) {
  uint8_t record[BUSLOG_MARKER_RECORD_SIZE(kMaxMarkerText)];
  LogLine line = MarkerLine(since, text, record, sizeof record);
  line.sourceLine = source.LineNumber();
  line.marksFile = marksFile;
  line.marksChannel = marksChannel;
  AddLine(run, line);
  if (run->batch.count >= BatchRoom(*run)) FlushBatch(run);
}

// The marker lines before the frame: start and writer before the file's
// first frame, a channel marker before the channel's first frame in the
// file. They go into the batch with the frames and count as lines, not as
// frames; when the batch fails, they are written again before their frames
// (FlushBatch, log_frame.h).
void MarkerStep(LoggerRun* run, const Source& source, int32_t channel, const Elapsed& since) {
  if (!run->request->markers) return;
  char text[kMaxMarkerText];
  // A marker whose Write failed (its batch written at once, FlushBatch)
  // ends the step: the write step writes it and those after it before the
  // frame.
  if (!run->fileMarked) {
    run->fileMarked = true;
    if (StartMarkerText(run->fileFirst, text, sizeof text)) {
      AddMarkerLine(run, source, Elapsed{0, 0}, text, 1, 0);
      if (!run->fileMarked) return;
    } else {
      Message("%s:%llu: note: the time %llu s is past the year 9999; %s has no start marker\n", run->traceName,
              static_cast<unsigned long long>(source.LineNumber()),
              static_cast<unsigned long long>(run->fileFirst.seconds), run->logs.files.back().path.c_str());
    }
  }
  if (!run->writerMarked) {
    run->writerMarked = true;
    WriterMarkerText(text, sizeof text);
    AddMarkerLine(run, source, Elapsed{0, 0}, text, 2, 0);
    if (!run->writerMarked) return;
  }
  if (!run->channelMarked[channel]) {
    run->channelMarked[channel] = true;
    ChannelMarkerText(channel, run->channels.names[channel], run->channels.lengths[channel], text, sizeof text);
    AddMarkerLine(run, source, since, text, 0, static_cast<uint32_t>(channel) + 1);
  }
}

// After a second stop: what was read and is not in the log, the frames
// still queued.
void CountNotLogged(LoggerRun* run, Source& source) {
  source.Stop();
  const char* line;
  size_t length;
  bool tooLong;
  CandumpFrame frame;
  uint64_t left = 0;
  while (source.Next(&line, &length, &tooLong) == LiveStatus::kLine) {
    if (!tooLong && ParseCandumpLine(line, length, &frame) == nullptr) {
      ++run->totals.framesRead;
      ++run->totals.notLogged;
      ++left;
    }
  }
  GiveUpFrames(run, run->frameNumber + 1, static_cast<uint32_t>(run->frameNumber + left), "left at a second stop");
}

bool ReplayLines(LoggerRun* run, Source& source) {
  run->totals = ReplayTotals{};
  run->channels.count = 0;
  run->warnings = 0;
  run->keep = Keeping{};
  run->screenFormatSaid = false;
  run->frameNumber = 0;
  run->fileHasFrame = false;
  run->fileMarked = run->writerMarked = false;
  for (bool& marked : run->channelMarked) marked = false;
  run->writtenBefore = 0;
  run->rotation = FreshFile(run->request->rotation);
  const RotationPolicy& policy = run->request->rotation;
  auto now = std::chrono::steady_clock::now();
  Progress progress = {now, now, 0, false};
  bool stopping = false;
  bool hardStop = false;
  CandumpFrame frame;
  uint8_t record[kMaxCanRecord];
  char text[kFrameTextRoom];
  ClearBatch(&run->batch);
  // Frames go into the batch while more are at hand; the batch is written
  // as soon as the input has nothing more whole, the batch is full, the
  // file is to change, or the input ends. Nothing waits for a batch.
  for (;;) {
    if (TakeStops(run, source, &stopping)) {
      hardStop = true;
      break;
    }
    // A frame given up where the replay stops (a file replay whose storage
    // failure did not pass): no more lines are read.
    if (run->keep.stopReplay) break;
    ReadStep read = ReadFrame(run, source, &progress, &frame, run->batch.count == 0);
    if (read == ReadStep::kIdle) {
      Flush(run, source, &progress);
      if (run->progress) ShowProgress(&progress, source, *run, false);
      continue;
    }
    if (read == ReadStep::kEnd) break;
    if (read == ReadStep::kSkipped) continue;
    int32_t channel = ChannelStep(run, source, frame);
    if (channel < 0) {
      if (run->totals.stoppedEarly) break;
      continue;
    }
    FrameTime time = {frame.seconds, frame.micros};
    // A new file before the frame that the open one cannot take: one that
    // rotation finds full or old enough, or a time the file cannot show
    // rightly. Without --rotate-* the new file is named as a rotation would
    // name the second one (run.buslog, then run-002.buslog).
    bool rotate = TimeJumpStep(run, source, time) != TimeJump::kNone;
    if (rotate) {
      Flush(run, source, &progress);
    } else if (RotationDue(policy, run->rotation, run->fileHasFrame, run->fileFirst, time)) {
      // A batch never spans two files.
      Flush(run, source, &progress);
      rotate = RotationDue(policy, run->rotation, run->fileHasFrame, run->fileFirst, time);
    }
    const Keeping& keep = run->keep;
    if (rotate || keep.newFileDue || keep.trouble.failing || keep.givenUp) {
      // A new file, or storage that fails: one frame at a time, each kept
      // until it is written or given up.
      Flush(run, source, &progress);
      if (LogFrame(run, source.queue, rotate, frame, channel, ++run->frameNumber) == Logged::kStop) {
        run->keep.stopReplay = true;
        break;
      }
      continue;
    }
    Elapsed since = FileTimeStep(run, frame);
    MarkerStep(run, source, channel, since);
    if (run->request->markers && (!run->fileMarked || !run->writerMarked || !run->channelMarked[channel])) {
      // The Write of its marker lines failed: the write step writes them
      // before it.
      if (LogFrame(run, source.queue, false, frame, channel, ++run->frameNumber) == Logged::kStop) {
        run->keep.stopReplay = true;
        break;
      }
      continue;
    }
    LogLine line = FrameLine(++run->frameNumber, since, channel, frame, record, text);
    line.sourceLine = source.LineNumber();
    if (!BatchTakes(run->batch, line)) Flush(run, source, &progress);
    run->batchFrames[run->batch.count] = frame;
    AddToBatch(&run->batch, line);
    if (run->batch.count >= BatchRoom(*run)) Flush(run, source, &progress);
  }
  // The batch in hand: every frame read at a first stop or the input's end,
  // the last batch at a second stop.
  Flush(run, source, &progress);
  if (run->keep.stopReplay) {
    hardStop = StopRequests() >= 2;
    if (!hardStop) run->totals.logFailed = true;
  }
  if (source.Live() && LiveEndedMidLine(source.queue)) {
    // The feeder stopped in the middle of a line: not a frame to trust.
    ++run->totals.malformed;
    Warn(run, source.LineNumber() + 1, "the input ended in the middle of a line");
  }
  if (run->logs.open) run->logs.files.back().lines = run->totals.written - run->writtenBefore;
  // A stop that came while the input ended still counts.
  if (StopRequests() > run->totals.stops) run->totals.stops = StopRequests();
  if (hardStop) CountNotLogged(run, source);
  if (progress.shown && run->progressInPlace) Message("\r%72s\r", "");
  return !run->totals.stoppedEarly && !hardStop && !run->totals.logFailed;
}

}  // namespace

bool FlushBatch(LoggerRun* run) {
  LineBatch& batch = run->batch;
  if (batch.count == 0) return false;
  ClearSystemError();
  if (!run->keep.givenUp && WriteWholeBatch(*run->api, &batch)) {
    LogFileEntry& file = run->logs.files.back();
    for (uint32_t i = 0; i < batch.count; ++i) {
      const LogLine& line = batch.lines[i];
      if (line.kind != LineKind::kOther) {
        if (file.firstFrame == 0) file.firstFrame = line.frameNumber;
        file.lastFrame = line.frameNumber;
      }
      CountWrite(run, line);
    }
    LookAtLogNow(run);
  } else {
    // Nothing of the batch is in the log (or a part that could not be
    // taken back, which begins a new file): each line again alone, kept
    // while the storage fails, so that exactly the frames given up are
    // known, in order.
    // Its marker lines are not written on their own: the write step writes
    // the markers a frame still needs before it (log_frame.h), in the file
    // it goes into, and the frame after the batch when no frame of it
    // followed them.
    int error = LastSystemError();
    uint32_t firstFrame = run->frameNumber + 1;
    for (uint32_t i = batch.count; i > 0; --i) {
      const LogLine& line = batch.lines[i - 1];
      if (line.kind != LineKind::kOther) {
        firstFrame = line.frameNumber;
      } else if (line.marksFile == 1) {
        run->fileMarked = false;
      } else if (line.marksFile == 2) {
        run->writerMarked = false;
      } else if (line.marksChannel != 0) {
        run->channelMarked[line.marksChannel - 1] = false;
      }
    }
    if (!run->keep.givenUp) {
      ++run->totals.writeFailures;
      BatchFailed(run, firstFrame, error);
    }
    for (uint32_t i = 0; i < batch.count; ++i) {
      const LogLine& line = batch.lines[i];
      if (line.kind == LineKind::kOther) continue;
      if (LogFrame(run, run->queue, false, run->batchFrames[i], line.channel, line.frameNumber) == Logged::kStop) {
        run->keep.stopReplay = true;
      }
    }
    BatchRetried(run);
  }
  ClearBatch(&batch);
  return true;
}

void AddLine(LoggerRun* run, const LogLine& line) {
  if (!BatchTakes(run->batch, line)) FlushBatch(run);
  AddToBatch(&run->batch, line);
  if (run->request->syncEveryFrame) FlushBatch(run);
}

bool ReplayTrace(LoggerRun* run, buslog_reader::LineSource* reader) {
  Source source = {reader, nullptr, false};
  bool complete = ReplayLines(run, source);
  run->totals.readError = reader->readError;
  return complete && !run->totals.readError;
}

bool ReplayTrace(LoggerRun* run, LiveQueue* queue) {
  Source source = {nullptr, queue, false};
  run->queue = queue;
  return ReplayLines(run, source);
}

}  // namespace buslog_host
