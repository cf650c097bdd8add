// The batch path: a frame's lines into the batch, the batch's Write, and
// what a written batch changes.
#include <cstdio>
#include <cstring>

#include "engine.h"

namespace buslog_writer {
namespace {

// Said in full for the first ones; then only counted.
constexpr uint64_t kMaxJumpsSaid = 20;

// A frame's lines go to the module with one Write, within its line limit:
// the longest of each marker a frame may bring (37 bytes before a marker's
// text), its own line (a CAN FD frame of 64 bytes) and CR LF between them.
constexpr uint32_t kBeforeText = 37;
constexpr uint32_t kLongestFrameLines =
    (kBeforeText + 42) +                                    // start relative S.ffffff
    (kBeforeText + kMaxMarkerText - 1) +                    // writer
    2 * (kBeforeText + 15 + kMaxSettingsText) +             // filter, trigger
    (kBeforeText + 19 + 2 * 27 + 2 + 10) +                  // a window's open marker again
    (kBeforeText + 15 + 21) +                               // removed FIRST-LAST
    kRecordsAFrame * (kBeforeText + 15 + 42 + 255) +        // records: dropped COUNT TOTAL NAME
    (kBeforeText + 19 + kMaxInterfaceName) +                // channel N NAME
    (kBeforeText + 15 + 28) +                               // clamped S.ffffff
    256 +                                                   // the frame
    2 * (kMaxFrameLines - 1);
static_assert(kLongestFrameLines <= kLineLimit, "a frame's lines must fit one Write");

// Seconds from `from` to `to`, 0 when `to` is earlier.
double SecondsBetween(const FrameTime& from, const FrameTime& to) {
  Elapsed since;
  TimeSince(from, to, &since);
  return static_cast<double>(since.seconds) + since.micros / 1e6;
}

// The file's age at a frame at `time`: its seconds under earlier time
// bases and under this one, a time jump's gap left out.
double FileAge(const OpenFile& file, const FrameTime& time) {
  return file.ageBefore + SecondsBetween(file.time.base, time);
}

// "time jump at frame 7: 3600.000000 s before the latest frame (the clock
// went back)", once a jump, for the first ones.
std::string JumpText(Core* core, const TimeBase& base, const Frame& frame, TimeReason reason) {
  Storage& storage = core->storage;
  if (frame.number <= storage.lastJumpSaid) return std::string();
  storage.lastJumpSaid = frame.number;
  if (++storage.jumpsSaid > kMaxJumpsSaid) {
    if (storage.jumpsSaid == kMaxJumpsSaid + 1) Say(core->messages, BUSLOG_MESSAGE_NOTE, "further time jumps are only counted");
    return std::string();
  }
  Elapsed gap;
  const char* what;
  if (reason == TimeReason::kClockBack) {
    TimeSince(frame.time, base.latest, &gap);
    what = "before the latest frame (the clock went back)";
  } else {
    TimeSince(base.latest, frame.time, &gap);
    what = "after the latest frame, more than a time stamp can show";
  }
  char text[256];
  snprintf(text, sizeof text, "time jump at frame %u: %llu.%06u s %s", frame.number,
           static_cast<unsigned long long>(gap.seconds), gap.micros, what);
  return text;
}

// A marker line of `text` at `since` into `out`, its record in `slot`.
void AddMarker(const Elapsed& since, const char* text, MarkerSlot slot, FrameLinesBytes* bytes, LogLine* out,
               uint32_t* count) {
  if (MarkerLine(since, text, bytes->markers[slot], sizeof bytes->markers[slot], &out[*count])) ++*count;
}

// At a file's head, after its start marker: the writer, the filter and
// the triggers, and the window the frame lies in when it began before.
uint32_t HeadLines(Core* core, const Frame& frame, LogLine* out, FrameLinesBytes* bytes) {
  uint32_t count = 0;
  char text[kMaxMarkerText];
  const Settings& settings = core->settings;
  WriterMarkerText(settings.writer.c_str(), text, sizeof text);
  AddMarker(Elapsed{0, 0}, text, kWriterSlot, bytes, out, &count);
  if (!settings.filterMarker.empty()) AddMarker(Elapsed{0, 0}, settings.filterMarker.c_str(), kFilterSlot, bytes, out, &count);
  if (!settings.triggerMarker.empty()) {
    AddMarker(Elapsed{0, 0}, settings.triggerMarker.c_str(), kTriggerSlot, bytes, out, &count);
  }
  const std::string* window = WindowToRepeat(*core, frame.number);
  if (window != nullptr) {
    snprintf(text, sizeof text, "buslog window open %s", window->c_str());
    AddMarker(Elapsed{0, 0}, text, kWindowSlot, bytes, out, &count);
  }
  return count;
}

// The start marker a new time base at `base` brings, and at a file's
// head the markers that follow it.
uint32_t BaseLines(Core* core, OpenFile* file, const FrameTime& base, const Frame& frame, LogLine* out,
                   FrameLinesBytes* bytes) {
  uint32_t count = 0;
  char text[kMaxMarkerText];
  if (StartMarkerText(base, text, sizeof text)) {
    AddMarker(Elapsed{0, 0}, text, kStartSlot, bytes, out, &count);
  } else if (!core->storage.pastYearSaid) {
    core->storage.pastYearSaid = true;
    Say(core->messages, BUSLOG_MESSAGE_NOTE, "frame %u: the time %llu s is past the year 9999, which a start marker "
        "cannot show; its lines have no date", frame.number, static_cast<unsigned long long>(frame.time.seconds));
  }
  if (!file->writerMarked) {
    file->writerMarked = true;
    count += HeadLines(core, frame, out + count, bytes);
  }
  return count;
}

// At a file's head, the frames the ring removed so far, and again when the
// ring removed more while the file was open (a full disk makes room while
// it is written); then the records not yet in a log (records.h), at most
// kRecordsAFrame.
uint32_t RecordLines(Core* core, OpenFile* file, LineTally* tally, const Elapsed& since, LogLine* out,
                     FrameLinesBytes* bytes) {
  uint32_t count = 0;
  char text[kMaxMarkerText];
  const LogSet& logs = core->logs;
  if (logs.removed > 0 && logs.removedLast > file->removedNoted) {
    file->removedNoted = logs.removedLast;
    RemovedText(logs.removedFirst, logs.removedLast, text, sizeof text);
    AddMarker(since, text, kRemovedSlot, bytes, out, &count);
  }
  const Records& records = core->records;
  size_t next = records.committed + tally->records;
  for (size_t i = 0; i < kRecordsAFrame && next + i < records.list.size(); ++i) {
    RecordText(records.list[next + i], text, sizeof text);
    AddMarker(since, text, static_cast<MarkerSlot>(kRecordSlots + i), bytes, out, &count);
    ++tally->records;
  }
  return count;
}

void AddLineTally(LineTally* into, const LineTally& more) {
  into->frames += more.frames;
  for (int i = 0; i < 4; ++i) into->byType[i] += more.byType[i];
  into->lines += more.lines;
  into->markerLines += more.markerLines;
  into->timeBases += more.timeBases;
  into->timeJumps += more.timeJumps;
  into->clamped += more.clamped;
  into->records += more.records;
}

// The longest line a frame alone makes: its CAN line with every field at
// its widest.
const uint32_t kLongestFrameLine =
    CanLineLength(UINT32_MAX, kMaxChannels - 1, true, kMaxCanRecord, kFrameTextRoom, true);

// True when `frame` surely makes its frame line alone, no marker line
// before it (a time base kept, its channel marked, no record due, not
// clamped), and the batch surely has room for it: the common case, whose
// lines can be built straight into the batch's state. False when unsure.
bool SurelyAlone(const Core& core, const Frame& frame) {
  const OpenFile& file = core.pending;
  const LineBatch& batch = core.batch;
  if (batch.count + 1 > kBatchLines || batch.bytesUsed + kMaxCanRecord + kFrameTextRoom > kBatchBytes ||
      BatchTextWith(batch, 1, kLongestFrameLine) > kLineLimit) {
    return false;
  }
  TimeReason reason;
  if (StepFor(core.settings.precise, file.time, frame.time, &reason) != TimeStep::kKeep) return false;
  if (!core.settings.markers) return true;
  if (!file.channelMarked[frame.channel]) return false;
  if (core.logs.removed > 0 && core.logs.removedLast > file.removedNoted) return false;
  if (core.records.committed + core.batchTally.records < core.records.list.size()) return false;
  Elapsed since;
  return TimeSince(file.time.base, frame.time, &since);
}

}  // namespace

bool NeedsNewFile(Core* core, const OpenFile& file, const Frame& frame, std::string* note) {
  if (!file.hasFrame) return false;
  const Settings& settings = core->settings;
  if (settings.rotateBytes != 0 && file.bytes >= settings.rotateBytes) return true;
  if (settings.rotateSeconds > 0 && FileAge(file, frame.time) >= settings.rotateSeconds) return true;
  if (settings.precise) return false;
  TimeReason reason;
  if (StepFor(false, file.time, frame.time, &reason) != TimeStep::kNewFile) return false;
  // Counted once, also when the frame comes here again after a Write.
  if (frame.number > core->storage.lastJumpSaid) ++core->tally.written.timeJumps;
  *note = JumpText(core, file.time, frame, reason);
  if (!note->empty()) *note += "; a new file with its own time base begins";
  return true;
}

uint32_t BuildFrameLines(Core* core, OpenFile* file, LineTally* tally, const Frame& frame, LogLine* out,
                         FrameLinesBytes* bytes) {
  const Settings& settings = core->settings;
  uint32_t count = 0;
  TimeReason reason;
  TimeStep step = StepFor(settings.precise, file->time, frame.time, &reason);
  if (step != TimeStep::kKeep) {
    if (file->time.set) ++tally->timeBases;
    if (reason == TimeReason::kTooLate || reason == TimeReason::kClockBack) {
      ++tally->timeJumps;
      std::string jump = JumpText(core, file->time, frame, reason);
      if (!jump.empty()) Say(core->messages, BUSLOG_MESSAGE_NOTE, "%s; a new time base begins", jump.c_str());
    }
    if (!file->hasFrame) file->first = frame.time;
    FrameTime base = frame.time;
    if (file->time.set) {
      base = RenewedBase(frame.time);
      // The file's age goes on through the new base; a jump's gap is no age.
      bool jump = reason == TimeReason::kTooLate || reason == TimeReason::kClockBack;
      if (jump || reason == TimeReason::kBeforeBase) {
        file->ageBefore += SecondsBetween(file->time.base, file->time.latest) - SecondsBetween(base, frame.time);
      } else {
        file->ageBefore += SecondsBetween(file->time.base, base);
      }
    }
    BeginBase(&file->time, base, frame.time);
    if (settings.markers) count += BaseLines(core, file, base, frame, out, bytes);
  }
  Elapsed since;
  bool clamped = !TakeTime(&file->time, frame.time, &since);
  if (settings.markers) count += RecordLines(core, file, tally, since, out + count, bytes);
  if (!settings.precise && since.seconds >= kPreciseSeconds && !core->storage.precisionSaid) {
    core->storage.precisionSaid = true;
    Say(core->messages, BUSLOG_MESSAGE_NOTE, "times 10 s or more after a file's first frame keep fewer than six "
        "decimals (one time base a file)");
  }
  if (settings.markers && !file->channelMarked[frame.channel]) {
    file->channelMarked.set(frame.channel);
    char name[kMaxInterfaceName + 1];
    if (MarkerName(*core->channels, frame.channel, name) > 0) {
      char text[kMaxMarkerText];
      ChannelMarkerText(frame.channel, name, text, sizeof text);
      AddMarker(since, text, kChannelSlot, bytes, out, &count);
    }
  }
  if (clamped) {
    ++tally->clamped;
    if (settings.markers) {
      Elapsed before;
      TimeSince(frame.time, file->time.base, &before);
      char text[kMaxMarkerText];
      ClampedText(before, text, sizeof text);
      AddMarker(since, text, kClampedSlot, bytes, out, &count);
    }
  }
  FrameLine(frame, since, &bytes->frame, &out[count++]);
  file->hasFrame = true;
  for (uint32_t i = 0; i < count; ++i) file->bytes += out[i].length + 2u;
  file->lines += count;
  tally->lines += count;
  tally->markerLines += count - 1;
  ++tally->frames;
  ++tally->byType[frame.type & 3];
  return count;
}

bool PutFrame(Core* core, const Frame& frame) {
  Storage& storage = core->storage;
  if (frame.type == kDropsItem) {
    char name[kMaxInterfaceName + 1] = "?";
    if (frame.channel != kNoChannel) MarkerName(*core->channels, frame.channel, name);
    RecordDropped(&core->records, frame.id, frame.time.seconds, name);
    return true;
  }
  if (frame.channel == kNoChannel) {
    if (!storage.channelsFullSaid) {
      storage.channelsFullSaid = true;
      Say(core->messages, BUSLOG_MESSAGE_WARNING, "frame %u: more than %u interfaces; the frames of further "
          "interfaces are not logged", frame.number, kMaxChannels);
    }
    LoseFrames(core, frame.number, frame.number, "more interfaces than channels", 0, BUSLOG_LOSS_INTERFACES, true);
    return true;
  }
  for (;;) {
    if (storage.givenUp) {
      LoseFrames(core, frame.number, frame.number, storage.givenUpReason, storage.trouble.error, storage.givenUpKind,
                 false);
      return false;
    }
    std::string note;
    bool newFile = NeedsNewFile(core, core->pending, frame, &note);
    if (newFile || storage.newFileDue || storage.trouble.failing) {
      // A new file, or storage that fails: the frame goes alone, kept
      // until it is written or given up.
      Commit(core);
      if (newFile && !note.empty()) storage.newFileNote = note;
      return WriteAlone(core, frame, newFile) != Logged::kGaveUp;
    }
    LogLine lines[kMaxFrameLines];
    FrameLinesBytes bytes;
    if (SurelyAlone(*core, frame)) {
      uint32_t count = BuildFrameLines(core, &core->pending, &core->batchTally, frame, lines, &bytes);
      for (uint32_t i = 0; i < count; ++i) AddToBatch(&core->batch, lines[i]);
      core->batch.frames[core->batch.frameCount++] = frame;
      if (BatchFull(*core)) Commit(core);
      return true;
    }
    // Built on copies: a batch that cannot take the lines is written
    // first, and the lines built again.
    OpenFile file = core->pending;
    LineTally tally = core->batchTally;
    uint32_t count = BuildFrameLines(core, &file, &tally, frame, lines, &bytes);
    if (!BatchTakes(core->batch, lines, count)) {
      Commit(core);
      continue;
    }
    for (uint32_t i = 0; i < count; ++i) AddToBatch(&core->batch, lines[i]);
    core->batch.frames[core->batch.frameCount++] = frame;
    core->pending = file;
    core->batchTally = tally;
    if (BatchFull(*core)) Commit(core);
    return true;
  }
}

void LinesWritten(Core* core) {
  core->committed = core->pending;
  core->records.committed += core->batchTally.records;
  ForgetWrittenRecords(&core->records);
  AddLineTally(&core->tally.written, core->batchTally);
  core->batchTally = LineTally{};
  LogFileEntry& file = core->logs.files.back();
  file.lines = core->committed.lines;
  file.bytes = core->committed.bytes;
  if (!file.haveStart && core->committed.hasFrame) {
    file.haveStart = true;
    file.start = core->committed.first;
  }
  for (uint32_t i = 0; i < core->batch.frameCount; ++i) {
    uint32_t number = core->batch.frames[i].number;
    ++file.byType[core->batch.frames[i].type & 3];
    if (file.firstFrame == 0) file.firstFrame = number;
    file.lastFrame = number;
    if (!file.runs.empty() && file.runs.back().second + 1 == number) {
      file.runs.back().second = number;
    } else {
      file.runs.emplace_back(number, number);
    }
  }
}

namespace {

// The batch's frames again, each alone, from the file's written state:
// its Write failed (`error`), or its log went before it was written.
void WriteEachAlone(Core* core, bool failed, int error) {
  LineBatch& batch = core->batch;
  core->pending = core->committed;
  core->batchTally = LineTally{};
  uint32_t frames = batch.frameCount;
  memcpy(core->retry, batch.frames, frames * sizeof(Frame));
  ClearBatch(&batch);
  if (failed) BatchFailed(core, frames > 0 ? core->retry[0].number : 0, error);
  for (uint32_t i = 0; i < frames; ++i) WriteAlone(core, core->retry[i], false);
  if (failed) BatchRetried(core);
}

}  // namespace

void Commit(Core* core) {
  LineBatch& batch = core->batch;
  if (batch.count == 0) return;
  // A log deleted or moved away since the last look: the batch goes into
  // a new file, not after it.
  if (!LookAtLogNow(core)) {
    WriteEachAlone(core, false, 0);
    return;
  }
  buslog_files::ClearSystemError();
  bool written = WriteBatch(*core->api, batch);
  int error = buslog_files::LastSystemError();
  ++core->tally.writes;
  if (written) {
    LinesWritten(core);
    ClearBatch(&batch);
    return;
  }
  // Nothing of the batch is in the log (or a part that could not be taken
  // back, which begins a new file): each frame again alone, kept while the
  // storage fails, so that exactly the frames given up are known, in order.
  ++core->tally.writeFailures;
  WriteEachAlone(core, true, error);
}

}  // namespace buslog_writer
