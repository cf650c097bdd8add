// The write step when the storage fails. A frame stays in hand until its
// line is written or it is given up:
//   - a failed Write or create is said with the system's reason (once a
//     kind), and tried again every kRetrySeconds; frames behind it wait in
//     the queue, and it is given up when the queue is full (or, once no more
//     input will come, after kGiveUpSeconds; WRITE_THROUGH: at once);
//   - a file that may not grow (a file size limit, the file system's
//     largest file), a log deleted, renamed or replaced under the writer, a
//     file left ending in a cut line: the frame goes into a new file;
//   - with a ring, a full disk costs the writer's oldest file.
// The log is looked at through the open file itself about once a second.
#include <algorithm>
#include <chrono>
#include <thread>

#include "engine.h"
#include "queue.h"

namespace buslog_writer {
namespace {

using namespace buslog_files;

// How often the open log is looked at for a deletion, a rename or a
// replacement.
constexpr double kLookSeconds = 1.0;
// The longest nap between looks at the queue and the clock while a frame
// waits.
constexpr int kNapMilliseconds = 20;

std::string ErrorText(int error) {
  char text[256];
  SystemErrorText(error, text, sizeof text);
  return text;
}

// Looks at the open log through its watch: still there under its name?
// False when it is not (said, its frames lost, and a new file is due).
bool LogStillThere(Core* core) {
  LogSet& logs = core->logs;
  if (!logs.open) return true;
  LogFileEntry& file = logs.files.back();
  std::string note = LookAtOpenLog(&file);
  if (note.empty() || file.fate == BUSLOG_FILE_KEPT) {
    if (!note.empty()) Say(core->messages, BUSLOG_MESSAGE_WARNING, "%s", note.c_str());
    return true;
  }
  LoseFileFrames(core, file);
  NewFileDue(core, note);
  return false;
}

// Opens the new file that is due. False with the system's error when it
// cannot be created.
bool OpenDueFile(Core* core, uint32_t number, double now) {
  Storage& storage = core->storage;
  // A rotation: the log that ends is looked at before it is closed.
  if (core->logs.open) LogStillThere(core);
  if (core->logs.open) CloseOpenLog(core);
  OpenFailure failure;
  if (!BeginNewFile(&core->logs, &failure)) {
    if (!storage.newFileNote.empty()) Say(core->messages, BUSLOG_MESSAGE_WARNING, "%s", storage.newFileNote.c_str());
    storage.newFileNote.clear();
    NoteFailure(&storage.trouble, core->messages, "create", failure.path.c_str(), number, failure.error,
                failure.reason.c_str(), now);
    return false;
  }
  storage.newFileDue = false;
  core->committed = core->pending = OpenFile{};
  if (!storage.newFileNote.empty()) {
    Say(core->messages, BUSLOG_MESSAGE_WARNING, "%s; going on in %s", storage.newFileNote.c_str(),
        core->logs.files.back().path.c_str());
    storage.newFileNote.clear();
  }
  return true;
}

// A ring that meets a full disk removes its oldest file and tries again;
// when the open file is the only one, it is closed first, so that it can
// go and the newest frames are kept.
bool MakeRoom(Core* core) {
  if (!Ring(core->logs.request)) return false;
  if (RemoveOldestOwnFile(&core->logs) != nullptr) return true;
  if (!core->committed.hasFrame) return false;
  NewFileDue(core, std::string());
  return true;
}

enum class Try { kWritten, kAgainNow, kWait };

Try AfterFailure(Core* core, uint32_t number, int error, double now);

// One try at the frame's lines (its markers and its own, one Write).
Try TryFrame(Core* core, const Frame& frame, double* clock) {
  Storage& storage = core->storage;
  if (storage.newFileDue && !OpenDueFile(core, frame.number, *clock)) return Try::kWait;
  OpenFile file = core->committed;
  LineTally tally = LineTally{};
  LogLine lines[kMaxFrameLines];
  FrameLinesBytes bytes;
  uint32_t count = BuildFrameLines(core, &file, &tally, frame, lines, &bytes);
  for (uint32_t i = 0; i < count; ++i) AddToBatch(&core->batch, lines[i]);
  core->batch.frames[core->batch.frameCount++] = frame;
  ClearSystemError();
  bool written = WriteBatch(*core->api, core->batch);
  int error = LastSystemError();
  ++core->tally.writes;
  if (written) {
    core->pending = file;
    core->batchTally = tally;
    LinesWritten(core);
    ClearBatch(&core->batch);
    NoteRecovered(&storage.trouble, core->messages, frame.number, *clock);
    return Try::kWritten;
  }
  ClearBatch(&core->batch);
  ++core->tally.writeFailures;
  double now = *clock = SteadySeconds();
  return AfterFailure(core, frame.number, error, now);
}

// What a failed Write of frame `number` means: a new file at once (a cut
// line, a file that may not grow, a lost log, room made by the ring), or a
// wait for the next try (said once a kind).
Try AfterFailure(Core* core, uint32_t number, int error, double now) {
  LogFileEntry& file = core->logs.files.back();
  std::string reason = ErrorText(error);
  WatchedFile state;
  if (LookAtWatched(file.watch, &state) && EndOfWatched(file.watch, state.size) == FileEnd::kCut) {
    // The part written could not be taken back: the next line would be
    // glued to it.
    file.cutEnd = true;
    NewFileDue(core, file.path + " ends in a cut line (frame " + std::to_string(number) +
                         " could not be written nor its part taken back: " + reason + ")");
    return Try::kAgainNow;
  }
  if (KindOfError(error) == ErrorKind::kFileTooLarge && core->committed.hasFrame) {
    NewFileDue(core, "the log " + file.path + " may not grow: " + reason);
    return Try::kAgainNow;
  }
  if (!LogStillThere(core)) return Try::kAgainNow;
  if (KindOfError(error) == ErrorKind::kNoSpace && MakeRoom(core)) return Try::kAgainNow;
  // This failure says it: the batch's before it is not said apart.
  core->storage.batchFailed = false;
  NoteFailure(&core->storage.trouble, core->messages, "write", file.path.c_str(), number, error, reason.c_str(), now);
  return Try::kWait;
}

// The storage failed for good at frame `number`: it and every frame after
// it are lost.
Logged GiveUpForGood(Core* core, uint32_t number, double now) {
  Storage& storage = core->storage;
  bool abandoned = Abandoned(core);
  bool atStop = storage.trouble.reason.empty() && abandoned;
  std::string reason = !storage.trouble.reason.empty() ? storage.trouble.reason
                       : atStop                       ? std::string(kLeftAtStop)
                                                      : std::string("stopped");
  Say(core->messages, BUSLOG_MESSAGE_ERROR, "giving up at frame %u after %.1f s: %s", number,
      now - storage.trouble.failingSince, reason.c_str());
  storage.givenUp = true;
  storage.givenUpReason = reason;
  storage.givenUpKind = atStop ? BUSLOG_LOSS_STOP : BUSLOG_LOSS_STORAGE;
  LoseFrames(core, number, number, reason, storage.trouble.error, storage.givenUpKind, true);
  return Logged::kGaveUp;
}

}  // namespace

void CloseOpenLog(Core* core) {
  LogSet& logs = core->logs;
  if (!logs.open) return;
  LogFileEntry& file = logs.files.back();
  bool kept = file.fate == BUSLOG_FILE_KEPT;
  std::string note = LookAtOpenLog(&file);
  if (!note.empty()) Say(core->messages, BUSLOG_MESSAGE_WARNING, "%s", note.c_str());
  if (kept && file.fate != BUSLOG_FILE_KEPT) {
    LoseFileFrames(core, file);
  }
  CloseLog(&logs);
}

void NewFileDue(Core* core, const std::string& note) {
  CloseOpenLog(core);
  core->committed = core->pending = OpenFile{};
  core->storage.newFileDue = true;
  core->storage.newFileNote = note;
}

Logged WriteAlone(Core* core, const Frame& frame, bool newFile) {
  Storage& storage = core->storage;
  if (storage.givenUp) {
    LoseFrames(core, frame.number, frame.number, storage.givenUpReason, storage.trouble.error, storage.givenUpKind,
               false);
    return Logged::kGaveUp;
  }
  if (newFile) storage.newFileDue = true;
  double now = storage.lastClock = SteadySeconds();
  if (now >= storage.nextLook) {
    storage.nextLook = now + kLookSeconds;
    LogStillThere(core);
  }
  StorageTrouble& trouble = storage.trouble;
  for (int again = 0;;) {
    if (RetryDue(trouble, now)) {
      Try result = TryFrame(core, frame, &now);
      if (result == Try::kWritten) return Logged::kWritten;
      // A new file or room on the disk: straight away, but not for ever.
      if (result == Try::kAgainNow && ++again < 4) continue;
      trouble.nextTry = now + kRetrySeconds;
      if (!trouble.failing) {
        trouble.failing = true;
        trouble.failingSince = now;
        trouble.failedAt = frame.number;
      }
      again = 0;
    }
    if (Abandoned(core) || (NoMoreInput(core) && now - trouble.failingSince >= kGiveUpSeconds)) {
      return GiveUpForGood(core, frame.number, now);
    }
    if (!CanWait(core)) {
      // Room for the frames behind: this one, the oldest, is given up.
      LoseFrames(core, frame.number, frame.number, trouble.reason, trouble.error, BUSLOG_LOSS_STORAGE, false);
      SayLosses(&trouble, core->messages, now);
      return Logged::kLost;
    }
    SayLosses(&trouble, core->messages, now);
    double wait = trouble.nextTry - now;
    int nap = wait <= 0 ? 0 : wait * 1000 < kNapMilliseconds ? static_cast<int>(wait * 1000) + 1 : kNapMilliseconds;
    Nap(core, nap);
    now = SteadySeconds();
  }
}

void BatchFailed(Core* core, uint32_t firstFrame, int error) {
  if (!core->logs.open) return;
  double now = core->storage.lastClock = SteadySeconds();
  LogFileEntry& file = core->logs.files.back();
  WatchedFile state;
  if (LookAtWatched(file.watch, &state) && EndOfWatched(file.watch, state.size) == FileEnd::kCut) {
    AfterFailure(core, firstFrame, error, now);
    return;
  }
  // A file that may not grow is no failure: its frames learn one by one
  // which of them still fit.
  if (KindOfError(error) == ErrorKind::kFileTooLarge || !LogStillThere(core)) return;
  // Said once the frames were tried alone: by the first that fails, or, when
  // all of them could be written, as a failure that passed at once.
  Storage& storage = core->storage;
  storage.batchFailed = true;
  storage.batchError = error;
  storage.batchFrame = firstFrame;
}

void BatchRetried(Core* core) {
  Storage& storage = core->storage;
  if (!storage.batchFailed) return;
  storage.batchFailed = false;
  std::string reason = ErrorText(storage.batchError);
  std::string kind = "passed " + reason;
  std::vector<std::string>& said = storage.trouble.said;
  if (std::find(said.begin(), said.end(), kind) != said.end()) return;
  said.push_back(kind);
  Say(core->messages, BUSLOG_MESSAGE_WARNING,
      "cannot write the log %s at frame %u: %s; written when tried again at once",
      core->logs.open ? core->logs.files.back().path.c_str() : "", storage.batchFrame, reason.c_str());
}

bool LookAtLogNow(Core* core) {
  Storage& storage = core->storage;
  double now = storage.lastClock = SteadySeconds();
  if (now < storage.nextLook) return true;
  storage.nextLook = now + kLookSeconds;
  return LogStillThere(core);
}

void LoseFileFrames(Core* core, const LogFileEntry& file) {
  std::string reason = "the log " + file.path +
                       (file.fate == BUSLOG_FILE_DELETED ? " was deleted" : " can no longer be reached");
  for (const std::pair<uint32_t, uint32_t>& run : file.runs) {
    core->tally.framesGone += run.second - run.first + 1u;
    NoteLoss(&core->storage.losses, &core->storage.trouble, run.first, run.second, reason, 0, BUSLOG_LOSS_GONE, true);
    RecordGone(&core->records, run.first, run.second, file.fate == BUSLOG_FILE_DELETED, file.path);
  }
  for (int i = 0; i < 4; ++i) core->tally.goneByType[i] += file.byType[i];
}

const char kLeftAtStop[] = "left at a second stop";

void LoseFrames(Core* core, uint32_t first, uint32_t last, const std::string& reason, int error, int32_t kind,
                bool quiet) {
  if (last < first) return;
  NoteLoss(&core->storage.losses, &core->storage.trouble, first, last, reason, error, kind, quiet);
  RecordLost(&core->records, first, last, reason);
}

void WriteOwedRecords(Core* core) {
  Records& records = core->records;
  if (records.committed == records.list.size() || core->storage.givenUp || !core->settings.markers) return;
  Commit(core);
  if (core->storage.newFileDue && !OpenDueFile(core, 0, SteadySeconds())) return;
  if (!core->logs.open) return;
  Elapsed since = {0, 0};
  if (core->committed.time.set) TimeSince(core->committed.time.base, core->committed.time.latest, &since);
  char text[kMaxMarkerText];
  uint8_t record[BUSLOG_MARKER_RECORD_SIZE(kMaxMarkerText)];
  for (size_t i = records.committed; i < records.list.size(); ++i) {
    RecordText(records.list[i], text, sizeof text);
    LogLine line;
    MarkerLine(since, text, record, sizeof record, &line);
    if (!BatchTakes(core->batch, &line, 1)) Commit(core);
    AddToBatch(&core->batch, line);
    ++core->batchTally.records;
    ++core->batchTally.lines;
    ++core->batchTally.markerLines;
    core->pending.bytes += line.length + 2u;
    ++core->pending.lines;
  }
  Commit(core);
}

}  // namespace buslog_writer
