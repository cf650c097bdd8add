// The write step, tried again while the storage fails.
#include "logger/log_frame.h"

#include <chrono>
#include <thread>

#include "logger/frame_out.h"
#include "logger/live_input.h"
#include "logger/log_files.h"
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
  return true;
}

// A ring that meets a full disk removes its oldest file and tries again.
bool MakeRoom(LoggerRun* run) {
  return Ring(run->logs.request) && RemoveOldestOwnFile(&run->logs) != nullptr;
}

// The counts and the file's first frame once a line is written.
void Written(LoggerRun* run, const CandumpFrame& frame, uint32_t number, double now) {
  LogFileEntry& file = run->logs.files.back();
  if (!run->fileHasFrame) {
    run->fileHasFrame = true;
    run->fileFirst = FrameTime{frame.seconds, frame.micros};
    file.haveFirst = true;
    file.firstSeconds = frame.seconds;
    file.firstMicros = frame.micros;
    file.firstFrame = number;
  }
  file.lastFrame = number;
  ++run->totals.written;
  switch (frame.kind) {
    case CanFrameKind::kData: ++run->totals.writtenData; break;
    case CanFrameKind::kRemote: ++run->totals.writtenRemote; break;
    case CanFrameKind::kFd: ++run->totals.writtenFd; break;
    case CanFrameKind::kError: ++run->totals.writtenError; break;
  }
  NoteRecovered(&run->keep.trouble, number, now);
  uint64_t every = run->request->reportEvery;
  if (every != 0 && run->totals.written % every == 0) {
    Message("written %llu\n", static_cast<unsigned long long>(run->totals.written));
  }
  CheckSize(run);
}

enum class Try { kWritten, kAgainNow, kWait };

// One try at the frame's line. After a failure it finds out what failed.
Try TryFrame(LoggerRun* run, const CandumpFrame& frame, int32_t channel, uint32_t number, double* clock) {
  if (run->keep.newFileDue && !OpenDueFile(run, number, *clock)) return Try::kWait;
  FrameTime time = {frame.seconds, frame.micros};
  // The file's time base is its first line actually written.
  FrameTime first = run->fileHasFrame ? run->fileFirst : time;
  Elapsed since;
  bool early = !TimeSinceFirst(first, time, &since);
  PutFrameFields(*run->api, number, since, channel, frame);
  ClearSystemError();
  bool written = WriteLine(*run->api);
  int error = LastSystemError();
  if (written) {
    if (early) ++run->totals.timeWentBack;
    Written(run, frame, number, *clock);
    return Try::kWritten;
  }
  ++run->totals.writeFailures;
  double now = *clock = SteadySeconds();
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
  NoteFailure(&run->keep.trouble, "write", file.path.c_str(), number, error, reason.c_str(), "trying again", now);
  return Try::kWait;
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
    NoteMissing(&keep.trouble, number, number, keep.givenUpReason.c_str(), false);
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
      NoteMissing(&keep.trouble, number, number, reason.c_str(), true);
      return stop ? Logged::kStop : Logged::kLost;
    }
    if (queue != nullptr && LiveQueueFull(queue)) {
      // Room for the frames behind: this one, the oldest, is given up.
      NoteMissing(&keep.trouble, number, number, keep.trouble.reason.c_str(), false);
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

void GiveUpFrames(LoggerRun* run, uint32_t first, uint32_t last, const char* reason) {
  if (last < first) return;
  NoteMissing(&run->keep.trouble, first, last, reason, true);
}

}  // namespace buslog_host
