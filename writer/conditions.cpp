// Filters and triggers: matching a frame. The reading of the text is in
// conditions_parse.cpp.
#include "conditions.h"

#include <cstring>

namespace buslog_writer {
namespace {

bool MatchesId(const Condition& condition, uint32_t canId) {
  bool same = (canId & condition.mask) == condition.id;
  return condition.inverted ? !same : same;
}

bool MatchesData(const Condition& condition, const FrameView& frame) {
  if (frame.dataLength < condition.dataLength) return false;
  for (uint32_t i = 0; i < condition.dataLength; ++i) {
    if (((frame.data[i] ^ condition.data[i]) & condition.dataMask[i]) != 0) return false;
  }
  return true;
}

bool Holds(Compare compare, double value, double threshold) {
  switch (compare) {
    case Compare::kLess: return value < threshold;
    case Compare::kLessOrEqual: return value <= threshold;
    case Compare::kGreater: return value > threshold;
    case Compare::kGreaterOrEqual: return value >= threshold;
    case Compare::kEqual: return value == threshold;
    case Compare::kNotEqual: return value != threshold;
  }
  return false;
}

// One trigger item at a frame; a signal's state moves on with every frame
// it can read.
bool Fires(Condition* condition, const FrameView& frame) {
  if (!MatchesId(*condition, frame.canId)) return false;
  switch (condition->kind) {
    case ConditionKind::kId: return true;
    case ConditionKind::kData: return MatchesData(*condition, frame);
    case ConditionKind::kSignal: break;
  }
  const Signal& signal = condition->signal;
  double value;
  if (!SignalValue(signal, frame.data, frame.dataLength, &value)) return false;
  bool holds = Holds(signal.compare, value, signal.threshold);
  bool fires = holds && !condition->held;
  condition->held = holds;
  return fires;
}

bool ErrorFrameMatches(const ConditionSet& set, const FrameView& frame) {
  return (frame.canId & kEffMask & set.errorMask) != 0;
}

}  // namespace

FrameView ViewOf(const BuslogFrame& frame) {
  FrameView view = {};
  if ((frame.flags & BUSLOG_FRAME_ERROR) != 0) {
    view.error = true;
    view.canId = (frame.id & kEffMask) | kErrFlag;
  } else {
    view.canId = frame.id | ((frame.flags & BUSLOG_FRAME_EXTENDED) ? kEffFlag : 0) |
                 ((frame.flags & BUSLOG_FRAME_REMOTE) ? kRtrFlag : 0);
  }
  if ((frame.flags & BUSLOG_FRAME_REMOTE) == 0 && frame.data != nullptr) {
    view.data = frame.data;
    view.dataLength = frame.dataLength;
  }
  return view;
}

ConditionSet* SetFor(ConditionSets* sets, const char* name, size_t length) {
  for (ConditionSet& set : sets->sets) {
    const std::string& own = set.interfaceName;
    if (!own.empty() && own.size() == length && memcmp(own.data(), name, length) == 0) return &set;
  }
  return sets->anySet >= 0 ? &sets->sets[static_cast<size_t>(sets->anySet)] : nullptr;
}

bool FilterKeeps(const ConditionSet& set, const FrameView& frame) {
  if (frame.error) return ErrorFrameMatches(set, frame);
  // No identifier items: the kernel's default filter 0:0, every frame.
  if (set.conditions.empty()) return true;
  for (const Condition& condition : set.conditions) {
    bool matches = MatchesId(condition, frame.canId) &&
                   (condition.kind != ConditionKind::kData || MatchesData(condition, frame));
    if (set.join && !matches) return false;
    if (!set.join && matches) return true;
  }
  return set.join;
}

bool TriggerFires(ConditionSet* set, const FrameView& frame) {
  if (frame.error) return ErrorFrameMatches(*set, frame);
  if (set->conditions.empty()) return false;
  bool any = false;
  bool all = true;
  // Every item, so that each signal's state follows every frame it reads.
  for (Condition& condition : set->conditions) {
    bool fired = Fires(&condition, frame);
    any = any || fired;
    all = all && fired;
  }
  return set->join ? all : any;
}

bool SignalValue(const Signal& signal, const uint8_t* data, uint32_t length, double* value) {
  uint64_t raw = 0;
  uint32_t bit = signal.startBit;
  for (uint32_t i = 0; i < signal.length; ++i) {
    uint32_t byte = signal.intel ? (signal.startBit + i) >> 3 : bit >> 3;
    if (data == nullptr || byte >= length) return false;
    if (signal.intel) {
      raw |= static_cast<uint64_t>((data[byte] >> ((signal.startBit + i) & 7)) & 1u) << i;
    } else {
      raw = (raw << 1) | ((data[byte] >> (bit & 7)) & 1u);
      bit = NextMotorolaBit(bit);
    }
  }
  double number;
  if (signal.isSigned && signal.length < 64 && ((raw >> (signal.length - 1)) & 1u) != 0) {
    number = static_cast<double>(static_cast<int64_t>(raw | (~uint64_t{0} << signal.length)));
  } else if (signal.isSigned) {
    number = static_cast<double>(static_cast<int64_t>(raw));
  } else {
    number = static_cast<double>(raw);
  }
  *value = number * signal.factor + signal.offset;
  return true;
}

}  // namespace buslog_writer
