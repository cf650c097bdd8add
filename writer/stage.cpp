// Numbering, and the trigger windows.
#include "stage.h"

#include <cmath>
#include <cstdio>

#include "engine.h"
#include "selection.h"

namespace buslog_writer {
namespace {

constexpr const char kBufferFull[] = "the pre-trigger buffer was full";

FrameTime Later(const FrameTime& a, const FrameTime& b) { return Earlier(a, b) ? b : a; }

uint64_t Micros(double seconds) { return static_cast<uint64_t>(std::llround(seconds * 1e6)); }

// "10", "0.5", "0.000001".
std::string SecondsText(uint64_t micros) {
  char text[48];
  int length = snprintf(text, sizeof text, "%llu.%06u", static_cast<unsigned long long>(micros / 1000000u),
                        static_cast<unsigned>(micros % 1000000u));
  while (length > 0 && text[length - 1] == '0') --length;
  if (length > 0 && text[length - 1] == '.') --length;
  return std::string(text, static_cast<size_t>(length));
}

std::string TimeText(const FrameTime& time) {
  char text[64];
  MarkerTimeText(time, text, sizeof text);
  return text;
}

// Gives the frame its number and logs it (or, at a second stop, loses it).
void Emit(Core* core, Frame* frame, uint64_t sequence, bool lose) {
  Stage& stage = core->stage;
  frame->number = ++stage.lastNumber;
  frame->sequence = sequence;
  ++stage.counts.numbered;
  Window& window = stage.window;
  if (window.open) {
    if (window.first == 0) window.first = frame->number;
    window.last = frame->number;
  }
  if (lose || core->abandoned->load(std::memory_order_relaxed)) {
    LoseFrames(core, frame->number, frame->number, kLeftAtStop, 0, BUSLOG_LOSS_STOP, true);
    return;
  }
  if (window.open && window.firstPut == 0) window.firstPut = frame->number;
  PutFrame(core, *frame);
}

void WriteClose(Core* core, const FrameTime& to, const char* why) {
  Window& window = core->stage.window;
  if (core->settings.markers) {
    std::string range = "-";
    if (window.first != 0) range = std::to_string(window.first);
    if (window.last > window.first) range += "-" + std::to_string(window.last);
    RecordWindow(&core->records, RecordKind::kWindowClose, TimeText(to) + " " + range + " " + why);
  }
  window = Window{};
}

// Held frames before `reach` belong to no window.
void DropHeldBefore(Stage* stage, const FrameTime& reach) {
  FrameTime time;
  while (OldestTime(stage->buffer, &time) && Earlier(time, reach)) {
    DropOldest(&stage->buffer);
    ++stage->counts.outside;
  }
}

// A frame in an open window: its triggers move the window's end.
void Extend(Stage* stage, const Frame& frame) {
  Window& window = stage->window;
  FrameTime after = LaterBy(frame.time, stage->settings.postMicros);
  if ((frame.stage & kStageTrigger) != 0 && Earlier(window.end, after)) {
    window.end = after;
    if (!window.untilStop) window.why = "post";
  }
  if ((frame.stage & kStageStart) != 0) window.untilStop = true;
  if ((frame.stage & kStageStop) != 0 && window.untilStop) {
    window.untilStop = false;
    window.end = Later(window.end, after);
    window.why = "stop";
  }
}

// The given-up frames a window reaches: numbered and lost, before its
// other frames.
void LoseGivenUp(Core* core, uint64_t lost, const Frame& trigger) {
  Stage& stage = core->stage;
  if (lost == 0) return;
  uint32_t first = stage.lastNumber + 1;
  stage.lastNumber += static_cast<uint32_t>(lost);
  stage.counts.numbered += lost;
  stage.counts.givenUpLost += lost;
  if (stage.window.first == 0) stage.window.first = first;
  stage.window.last = stage.lastNumber;
  LoseFrames(core, first, stage.lastNumber, kBufferFull, 0, BUSLOG_LOSS_STORAGE, true);
  if (stage.lossSaid) return;
  stage.lossSaid = true;
  Say(core->messages, BUSLOG_MESSAGE_WARNING, "the pre-trigger buffer (%llu bytes) was full: %llu frames of the "
      "window before the trigger at %s could not be kept (frames %u-%u); give it more room",
      static_cast<unsigned long long>(stage.settings.preBytes), static_cast<unsigned long long>(lost),
      TimeText(trigger.time).c_str(), first, stage.lastNumber);
}

// A trigger outside every window: a new window, or the one before
// continued; the frames it reaches in the buffer are logged before it.
void OpenWindow(Core* core, Frame* frame, bool lose) {
  Stage& stage = core->stage;
  Window& window = stage.window;
  bool merge = window.closing && !Earlier(window.mergeUntil, frame->time);
  if (window.closing && !merge) WriteClose(core, window.end, window.why);
  FrameTime reach = merge ? window.end : EarlierBy(frame->time, stage.settings.preMicros);
  uint64_t older;
  uint64_t lost = TakeRuns(&stage.givenUp, &reach, &older);
  stage.counts.outside += older;
  DropHeldBefore(&stage, reach);
  if (merge) {
    window.closing = false;
  } else {
    window = Window{};
    window.from = reach;
    window.end = frame->time;
    window.why = "post";
    ++stage.counts.windows;
    uint64_t number = stage.lastNumber + lost + stage.buffer.frames + 1;
    window.openText = TimeText(reach) + " " + TimeText(frame->time) + " " +
                      ((frame->stage & kStageLog) != 0 ? std::to_string(number) : std::string("-"));
    if (core->settings.markers) RecordWindow(&core->records, RecordKind::kWindowOpen, window.openText);
  }
  window.open = true;
  LoseGivenUp(core, lost, *frame);
  Frame held;
  while (OldestFrame(stage.buffer, &held)) {
    held.stage = kStageLog;
    Emit(core, &held, frame->sequence, lose);
    DropOldest(&stage.buffer);
  }
  Extend(&stage, *frame);
  if ((frame->stage & kStageLog) != 0) Emit(core, frame, frame->sequence, lose);
}

// A frame outside every window waits in the buffer while a window may
// still reach it.
void Hold(Stage* stage, const Frame& frame) {
  if ((frame.stage & kStageLog) == 0) return;
  if (stage->settings.preMicros == 0) {
    ++stage->counts.outside;
    return;
  }
  FrameTime horizon = EarlierBy(stage->latest, stage->settings.preMicros);
  DropHeldBefore(stage, horizon);
  stage->counts.outside += DropRunsBefore(&stage->givenUp, horizon);
  while (!HoldFrame(&stage->buffer, frame)) {
    FrameTime oldest;
    if (!OldestTime(stage->buffer, &oldest)) break;
    DropOldest(&stage->buffer);
    NoteGivenUp(&stage->givenUp, oldest);
    ++stage->counts.givenUp;
  }
  if (stage->buffer.mostUsed > stage->counts.preMostUsed) stage->counts.preMostUsed = stage->buffer.mostUsed;
}

// A frame when triggers are set: in a window, opening one, or held.
void StageWindowed(Core* core, Frame* frame, bool lose) {
  Stage& stage = core->stage;
  if (!stage.started) {
    stage.started = true;
    stage.latest = frame->time;
    // A stop trigger alone: logging from the first frame to the stop.
    if (stage.settings.hasStop && !stage.settings.hasStart) frame->stage |= kStageStart;
  }
  stage.latest = Later(stage.latest, frame->time);
  Window& window = stage.window;
  if (window.open && !window.untilStop && Earlier(window.end, frame->time)) {
    window.open = false;
    window.closing = true;
    window.mergeUntil = LaterBy(window.end, stage.settings.preMicros);
  }
  if (window.open) {
    Extend(&stage, *frame);
    if ((frame->stage & kStageLog) != 0) Emit(core, frame, frame->sequence, lose);
    return;
  }
  if (window.closing && Earlier(window.mergeUntil, frame->time)) WriteClose(core, window.end, window.why);
  if ((frame->stage & (kStageTrigger | kStageStart)) != 0) {
    OpenWindow(core, frame, lose);
    return;
  }
  Hold(&stage, *frame);
}

}  // namespace

bool SetUpStage(Stage* stage, const BuslogWriterOptions& options, bool triggers, std::string* why) {
  WindowSettings& s = stage->settings;
  s.on = triggers;
  s.hasStart = options.startTrigger != nullptr;
  s.hasStop = options.stopTrigger != nullptr;
  s.preMicros = triggers ? Micros(options.preSeconds) : 0;
  s.postMicros = triggers ? Micros(options.postSeconds) : 0;
  s.preBytes = options.preBytes != 0 ? options.preBytes : DefaultPreBytes(s.preMicros);
  stage->givenUp.grain = s.preMicros / 128 > 0 ? s.preMicros / 128 : 1;
  if (s.preMicros == 0) return true;
  if (!MakePreBuffer(&stage->buffer, s.preBytes)) {
    *why = "out of memory for a pre-trigger buffer of " + std::to_string(s.preBytes) + " bytes";
    return false;
  }
  return true;
}

void StageFrame(Core* core, Frame* frame, bool lose) {
  if (frame->type == kDropsItem) {
    PutFrame(core, *frame);
  } else if (core->stage.settings.on) {
    StageWindowed(core, frame, lose);
  } else if ((frame->stage & kStageLog) != 0) {
    Emit(core, frame, frame->sequence, lose);
  }
}

void EndWindows(Core* core) {
  Stage& stage = core->stage;
  if (!stage.settings.on) return;
  Window& window = stage.window;
  if (window.open) {
    WriteClose(core, stage.latest, "end");
  } else if (window.closing) {
    WriteClose(core, window.end, window.why);
  }
  stage.counts.outside += stage.buffer.frames;
  while (stage.buffer.frames > 0) DropOldest(&stage.buffer);
  stage.counts.outside += DropRunsBefore(&stage.givenUp, FrameTime{UINT64_MAX, 999999});
}

const std::string* WindowToRepeat(const Core& core, uint32_t number) {
  const Window& window = core.stage.window;
  if (!window.open || window.firstPut == 0 || number <= window.firstPut || number > window.last) return nullptr;
  return &window.openText;
}

std::string TriggerSettingsText(const BuslogWriterOptions& options, const Selection& selection) {
  std::string text = "pre " + SecondsText(Micros(options.preSeconds)) + " post " + SecondsText(Micros(options.postSeconds));
  if (selection.hasTrigger) text += "; on " + selection.trigger.text;
  if (selection.hasStart) text += "; start " + selection.start.text;
  if (selection.hasStop) text += "; stop " + selection.stop.text;
  return text;
}

}  // namespace buslog_writer
