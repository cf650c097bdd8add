// The write step, tried again while the storage fails.
#include "logger/log_frame.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "logger/frame_out.h"
#include "logger/live_input.h"
#include "logger/log_files.h"
#include "logger/markers.h"
#include "logger/rotation.h"
#include "logger/run.h"
#include "platform/message.h"
#include "platform/system.h"

namespace buslog_host {
namespace {

// How often the open log is looked at for a deletion, a rename or a
// replacement.
constexpr double kLookSeconds = 1.0;
// The longest nap between looks at the queue, the stops and the clock
// while a frame waits.
constexpr int kNapMilliseconds = 20;

std::string ErrorText(int error) {
  char text[256];
  SystemErrorText(error, text, sizeof text);
  return text;
}

// The open file's lines so far go into its entry.
void RecordLines(LoggerRun* run) {
  if (run->logs.open) run->logs.files.back().lines = run->totals.written - run->writtenBefore;
}

// Closes the open log and asks for a new one before the next line; `note`
// says why, with the new file's name once it is open.
void NewFileDue(LoggerRun* run, const std::string& note) {
  RecordLines(run);
  CloseLog(&run->logs);
  run->fileHasFrame = false;
  run->writtenBefore = run->totals.written;
  run->keep.newFileDue = true;
  run->keep.newFileNote = note;
}

// Looks at the open log through its watch: still there under its name?
// False when it is not (said, and a new file is due).
bool LogStillThere(LoggerRun* run) {
  if (!run->logs.open) return true;
  RecordLines(run);
  std::string note = LookAtOpenLog(&run->logs.files.back());
  if (note.empty()) return true;
  NewFileDue(run, note);
  return false;
}

// Opens the new file that is due. False with the system's error when it
// cannot be created.
bool OpenDueFile(LoggerRun* run, uint32_t number, double now) {
  OpenFailure failure;
  Keeping& keep = run->keep;
  if (!RotateLog(run, &failure)) {
    if (!keep.newFileNote.empty()) Message("%s\n", keep.newFileNote.c_str());
    keep.newFileNote.clear();
    NoteFailure(&run->keep.trouble, "create", failure.path.c_str(), number, failure.error, failure.reason.c_str(),
                "trying again", now);
    return false;
  }
  keep.newFileDue = false;
  if (!keep.newFileNote.empty()) {
    Message("%s; going on in %s\n", keep.newFileNote.c_str(), run->logs.files.back().path.c_str());
    keep.newFileNote.clear();
  }
  if (!keep.jumpNote.empty()) {
    Message("%s%s\n", keep.jumpNote.c_str(), run->logs.files.back().path.c_str());
    keep.jumpNote.clear();
  }
  return true;
}

// A ring that meets a full disk removes its oldest file and tries again.
bool MakeRoom(LoggerRun* run) {
  return Ring(run->logs.request) && RemoveOldestOwnFile(&run->logs) != nullptr;
}

// The open file's time base, once its first line is written: `time`.
void TimeBase(LoggerRun* run, const FrameTime& time) {
  if (run->fileHasFrame) return;
  LogFileEntry& file = run->logs.files.back();
  run->fileHasFrame = true;
  run->fileFirst = run->fileLatest = time;
  file.haveFirst = true;
  file.firstSeconds = time.seconds;
  file.firstMicros = time.micros;
}

// A line written: --report-every, and the size for rotation.
void LineWritten(LoggerRun* run) {
  ++run->totals.written;
  uint64_t every = run->request->reportEvery;
  if (every != 0 && run->totals.written % every == 0) {
    Message("written %llu\n", static_cast<unsigned long long>(run->totals.written));
  }
  CheckSize(run);
}

// One marker line, written alone. True when its Write succeeded; then it
// counts as a line (not as a frame).
bool WriteMarker(LoggerRun* run, const Elapsed& since, const char* text) {
  uint8_t record[BUSLOG_MARKER_RECORD_SIZE(kMaxMarkerText)];
  LogLine line = MarkerLine(since, text, record, sizeof record);
  if (!WriteOneLine(*run->api, line)) return false;
  ++run->totals.otherLines;
  LineWritten(run);
  return true;
}

// The marker lines the frame needs before it in the open file:
// start (the file's time base `first`, which it fixes) and writer, then its
// channel's. False at the first whose Write failed; those written stay
// written.
bool WriteMarkers(LoggerRun* run, const FrameTime& first, int32_t channel, const Elapsed& since) {
  if (!run->request->markers) return true;
  char text[kMaxMarkerText];
  if (!run->fileMarked) {
    if (!StartMarkerText(first, text, sizeof text)) {
      Message("%s: note: the time %llu s is past the year 9999; %s has no start marker\n", run->traceName,
              static_cast<unsigned long long>(first.seconds), run->logs.files.back().path.c_str());
    } else if (!WriteMarker(run, Elapsed{0, 0}, text)) {
      return false;
    } else {
      TimeBase(run, first);
    }
    run->fileMarked = true;
  }
  if (!run->writerMarked) {
    WriterMarkerText(text, sizeof text);
    if (!WriteMarker(run, Elapsed{0, 0}, text)) return false;
    run->writerMarked = true;
  }
  if (!run->channelMarked[channel]) {
    ChannelMarkerText(channel, run->channels.names[channel], run->channels.lengths[channel], text, sizeof text);
    if (!WriteMarker(run, since, text)) return false;
    run->channelMarked[channel] = true;
  }
  return true;
}

// The counts and the file's first frame once a line is written.
void Written(LoggerRun* run, const CandumpFrame& frame, uint32_t number, double now) {
  FrameTime time = {frame.seconds, frame.micros};
  TimeBase(run, time);
  if (Earlier(run->fileLatest, time)) run->fileLatest = time;
  LogFileEntry& file = run->logs.files.back();
  if (file.firstFrame == 0) file.firstFrame = number;
  file.lastFrame = number;
  switch (frame.kind) {
    case CanFrameKind::kData: ++run->totals.dataFrames; break;
    case CanFrameKind::kRemote: ++run->totals.remoteFrames; break;
    case CanFrameKind::kFd: ++run->totals.fdFrames; break;
    case CanFrameKind::kError: ++run->totals.errorFrames; break;
  }
  NoteRecovered(&run->keep.trouble, number, now);
  LineWritten(run);
}

enum class Try { kWritten, kAgainNow, kWait };

Try AfterFailure(LoggerRun* run, uint32_t number, int error, double now);

// One try at the frame's line. After a failure it finds out what failed.
Try TryFrame(LoggerRun* run, const CandumpFrame& frame, int32_t channel, uint32_t number, double* clock) {
  if (run->keep.newFileDue && !OpenDueFile(run, number, *clock)) return Try::kWait;
  FrameTime time = {frame.seconds, frame.micros};
  // The file's time base is its first line actually written.
  FrameTime first = run->fileHasFrame ? run->fileFirst : time;
  Elapsed since;
  bool early = !TimeSinceFirst(first, time, &since);
  ClearSystemError();
  bool written = WriteMarkers(run, first, channel, since);
  int error = LastSystemError();
  if (written) {
    uint8_t record[kMaxCanRecord];
    char text[kFrameTextRoom];
    LogLine line = FrameLine(number, since, channel, frame, record, text);
    ClearSystemError();
    written = WriteOneLine(*run->api, line);
    error = LastSystemError();
  }
  if (written) {
    if (early) ++run->totals.timeWentBack;
    Written(run, frame, number, *clock);
    return Try::kWritten;
  }
  ++run->totals.writeFailures;
  double now = *clock = SteadySeconds();
  return AfterFailure(run, number, error, now);
}

// What a failed Write of frame `number` means: a new file at once (a cut
// line, a file that may not grow, a lost log, room made by the ring), or a
// wait for the next try (said once a kind).
Try AfterFailure(LoggerRun* run, uint32_t number, int error, double now) {
  LogFileEntry& file = run->logs.files.back();
  std::string reason = ErrorText(error);
  WatchedFile state;
  if (LookAtWatched(file.watch, &state) && EndOfWatched(file.watch, state.size) == FileEnd::kCut) {
    // The part written could not be taken back: the next line would be
    // glued to it.
    char note[4096 + 256];
    snprintf(note, sizeof note,
             "buslog-host: %s ends in a cut line (frame %u could not be written nor its part taken back: %s)",
             file.path.c_str(), number, reason.c_str());
    file.cutEnd = true;
    NewFileDue(run, note);
    return Try::kAgainNow;
  }
  if (KindOfError(error) == ErrorKind::kFileTooLarge && run->fileHasFrame) {
    NewFileDue(run, "buslog-host: the log " + file.path + " may not grow: " + reason);
    return Try::kAgainNow;
  }
  if (!LogStillThere(run)) return Try::kAgainNow;
  if (KindOfError(error) == ErrorKind::kNoSpace && MakeRoom(run)) return Try::kAgainNow;
  // This failure says it: the batch's before it is not said apart.
  run->keep.batchFailed = false;
  NoteFailure(&run->keep.trouble, "write", file.path.c_str(), number, error, reason.c_str(), "trying again", now);
  return Try::kWait;
}

// A frame given up: counted, and when it was to be the open file's first
// line, the file's time base waits for the next frame written.
void GiveUp(LoggerRun* run, uint32_t number, const char* reason, bool quiet) {
  NoteMissing(&run->keep.trouble, number, number, reason, quiet);
  ++run->totals.framesFailed;
  if (run->logs.open && run->totals.written == run->writtenBefore) {
    run->fileHasFrame = false;
    run->logs.files.back().haveFirst = false;
  }
}

// While a frame waits: whether to give it up now, and why.
bool GiveUpNow(LoggerRun* run, LiveQueue* queue, double now, bool* stop) {
  const StorageTrouble& trouble = run->keep.trouble;
  bool noMoreInput = queue == nullptr || LiveInputEnded(queue) || StopRequests() > 0;
  *stop = queue == nullptr || StopRequests() >= 2;
  if (StopRequests() >= 2) return true;
  if (queue == nullptr && StopRequests() > 0) return true;
  return noMoreInput && now - trouble.failingSince >= kGiveUpSeconds;
}

}  // namespace

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

Logged LogFrame(LoggerRun* run, LiveQueue* queue, bool rotate, const CandumpFrame& frame, int32_t channel,
                uint32_t number) {
  Keeping& keep = run->keep;
  if (keep.givenUp) {
    GiveUp(run, number, keep.givenUpReason.c_str(), false);
    return Logged::kLost;
  }
  if (rotate && !keep.newFileDue) keep.newFileDue = true;
  // The clock is read for every live frame, but only for every 64th of a
  // file replay (thousands a second) while nothing fails: enough to look
  // at the log about once a second.
  double now = keep.lastClock;
  if (queue != nullptr || (number & 63) == 0 || keep.trouble.failing || keep.newFileDue) {
    now = keep.lastClock = SteadySeconds();
    if (now >= keep.nextLook) {
      keep.nextLook = now + kLookSeconds;
      LogStillThere(run);
    }
  }
  for (int again = 0;;) {
    if (RetryDue(keep.trouble, now)) {
      Try result = TryFrame(run, frame, channel, number, &now);
      if (result == Try::kWritten) return Logged::kWritten;
      // A new file or room on the disk: straight away, but not for ever.
      if (result == Try::kAgainNow && ++again < 4) continue;
      keep.trouble.nextTry = now + kRetrySeconds;
      if (!keep.trouble.failing) {
        keep.trouble.failing = true;
        keep.trouble.failingSince = now;
        keep.trouble.failedAt = number;
      }
      again = 0;
    }
    bool stop = false;
    if (GiveUpNow(run, queue, now, &stop)) {
      const std::string& reason = keep.trouble.reason.empty() ? std::string("stopped") : keep.trouble.reason;
      Message("buslog-host: giving up at frame %u after %.1f s: %s\n", number, now - keep.trouble.failingSince,
              reason.c_str());
      keep.givenUp = true;
      keep.givenUpReason = reason;
      GiveUp(run, number, reason.c_str(), true);
      return stop ? Logged::kStop : Logged::kLost;
    }
    if (queue != nullptr && LiveQueueFull(queue)) {
      // Room for the frames behind: this one, the oldest, is given up.
      GiveUp(run, number, keep.trouble.reason.c_str(), false);
      SayLosses(&keep.trouble, now);
      return Logged::kLost;
    }
    if (queue != nullptr && StopRequests() == 1) StopLiveReading(queue);
    SayLosses(&keep.trouble, now);
    double wait = keep.trouble.nextTry - now;
    int nap = wait <= 0 ? 0 : wait * 1000 < kNapMilliseconds ? static_cast<int>(wait * 1000) + 1 : kNapMilliseconds;
    if (queue != nullptr) {
      // Woken early when the queue fills: then its oldest frame goes.
      WaitForFullQueue(queue, nap);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(nap));
    }
    now = SteadySeconds();
  }
}

void BatchFailed(LoggerRun* run, uint32_t firstFrame, int error) {
  if (!run->logs.open) return;
  double now = run->keep.lastClock = SteadySeconds();
  LogFileEntry& file = run->logs.files.back();
  WatchedFile state;
  if (LookAtWatched(file.watch, &state) && EndOfWatched(file.watch, state.size) == FileEnd::kCut) {
    AfterFailure(run, firstFrame, error, now);
    return;
  }
  // A file that may not grow is no failure: its lines learn one by one
  // which of them still fit.
  if (KindOfError(error) == ErrorKind::kFileTooLarge || !LogStillThere(run)) return;
  // Said once the lines were tried alone: by the first that fails, or, when
  // all of them could be written, as a failure that passed at once.
  Keeping& keep = run->keep;
  keep.batchFailed = true;
  keep.batchError = error;
  keep.batchFrame = firstFrame;
}

void BatchRetried(LoggerRun* run) {
  Keeping& keep = run->keep;
  if (!keep.batchFailed) return;
  keep.batchFailed = false;
  std::string reason = ErrorText(keep.batchError);
  std::string kind = "passed " + reason;
  std::vector<std::string>& said = keep.trouble.said;
  if (std::find(said.begin(), said.end(), kind) != said.end()) return;
  said.push_back(kind);
  Message("buslog-host: cannot write the log %s at frame %u: %s; written when tried again at once\n",
          run->logs.open ? run->logs.files.back().path.c_str() : "", keep.batchFrame, reason.c_str());
}

void LookAtLogNow(LoggerRun* run) {
  Keeping& keep = run->keep;
  double now = keep.lastClock = SteadySeconds();
  if (now < keep.nextLook) return;
  keep.nextLook = now + kLookSeconds;
  LogStillThere(run);
}

void GiveUpFrames(LoggerRun* run, uint32_t first, uint32_t last, const char* reason) {
  if (last < first) return;
  NoteMissing(&run->keep.trouble, first, last, reason, true);
}

}  // namespace buslog_host
