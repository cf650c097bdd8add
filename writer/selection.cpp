// The filter's and the triggers' word on each frame added.
#include "selection.h"

namespace buslog_writer {
namespace {

bool ReadOption(const char* text, SyntaxUse use, const char* label, bool* given, ConditionSets* sets,
                std::string* why) {
  *given = text != nullptr;
  return text == nullptr || ParseConditions(text, use, label, sets, why);
}

bool Fires(ConditionSets* sets, const BuslogFrame& frame, const FrameView& view) {
  ConditionSet* set = SetFor(sets, frame.interfaceName, frame.interfaceName != nullptr ? frame.interfaceLength : 0);
  return set != nullptr && TriggerFires(set, view);
}

}  // namespace

bool SetUpSelection(const BuslogWriterOptions& options, Selection* selection, std::string* why) {
  *selection = Selection{};
  Selection& s = *selection;
  bool read = ReadOption(options.filter, SyntaxUse::kFilter, "filter", &s.filtering, &s.filter, why) &&
              ReadOption(options.trigger, SyntaxUse::kTrigger, "trigger", &s.hasTrigger, &s.trigger, why) &&
              ReadOption(options.startTrigger, SyntaxUse::kTrigger, "start trigger", &s.hasStart, &s.start, why) &&
              ReadOption(options.stopTrigger, SyntaxUse::kTrigger, "stop trigger", &s.hasStop, &s.stop, why);
  s.triggering = s.hasTrigger || s.hasStart || s.hasStop;
  s.selecting = s.filtering || s.triggering;
  return read;
}

uint8_t SelectFrame(Selection* selection, const BuslogFrame& frame) {
  if (!selection->selecting) return kStageLog;
  FrameView view = ViewOf(frame);
  size_t nameLength = frame.interfaceName != nullptr ? frame.interfaceLength : 0;
  uint8_t bits = kStageLog;
  if (selection->filtering) {
    const ConditionSet* set = SetFor(&selection->filter, frame.interfaceName, nameLength);
    // An interface the filter does not name is logged whole.
    if (set != nullptr && !FilterKeeps(*set, view)) bits = 0;
  }
  if (selection->hasTrigger && Fires(&selection->trigger, frame, view)) bits |= kStageTrigger;
  if (selection->hasStart && Fires(&selection->start, frame, view)) bits |= kStageStart;
  if (selection->hasStop && Fires(&selection->stop, frame, view)) bits |= kStageStop;
  if ((bits & kStageLog) == 0) ++selection->filtered;
  return bits;
}

}  // namespace buslog_writer
