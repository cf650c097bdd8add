// Where BuslogWriterAdd takes a frame, before anything else: the filter's
// word (candump's: kept or left out) and the triggers' (does the frame
// fire --trigger, a start or a stop trigger?). A few masks a frame, no
// allocation; under the lock that orders the Adds, so a signal's state
// follows the frames in their order. A frame the filter leaves out and no
// trigger looks at goes no further: no number, no queue, no channel. The
// windows themselves are the core's (stage.h).
#pragma once

#include <cstdint>
#include <string>

#include "buslog_writer.h"
#include "conditions.h"

namespace buslog_writer {

// What the stage after the Add does with a frame (Frame::stage).
enum StageBit : uint8_t {
  kStageLog = 1,      // the filter keeps it: logged when it is in a window (or there are none)
  kStageTrigger = 2,  // it fires --trigger
  kStageStart = 4,    // it fires the start trigger
  kStageStop = 8,     // it fires the stop trigger
};

struct Selection {
  bool selecting;  // a filter or a trigger is set: SelectFrame has a word
  bool filtering;
  ConditionSets filter;
  bool hasTrigger, hasStart, hasStop;
  bool triggering;  // any of the three
  ConditionSets trigger, start, stop;
  uint64_t filtered;  // frames the filter left out
};

// The options' filter and triggers read into `selection`: false with one
// line in `why` ("trigger 7E0#02/F: the mask after / must have as many
// bytes as the data (1)").
bool SetUpSelection(const BuslogWriterOptions& options, Selection* selection, std::string* why);

// The stage bits of `frame`; 0 when it goes no further (the filter left
// it out and fires no trigger: counted as filtered).
uint8_t SelectFrame(Selection* selection, const BuslogFrame& frame);

}  // namespace buslog_writer
