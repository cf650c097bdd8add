// The stage between an Add and the log, in the core's thread (the caller's
// in REPLAY and WRITE_THROUGH, the writer's own in QUEUED): frames get
// their numbers here, so a frame that is not logged gets none and the
// numbers count the logged frames without gaps. Without triggers every
// frame the filter kept is numbered and logged as it comes. With them:
//
//   --trigger        a frame that fires it opens a window from --pre before
//                    it to --post after it; a later trigger frame in the
//                    window moves its end on
//   start, stop      a start trigger opens a window that lasts until a stop
//                    trigger (and --post after it); with a stop trigger and
//                    no start trigger, logging begins at the first frame
//   merging          a window whose start (its trigger less --pre) is no
//                    later than the end of the window before continues that
//                    window: windows that overlap or touch are one
//
// A window closes at its first frame past its end. The frames outside
// every window wait in the pre-trigger buffer (pre_buffer.h) while they
// may still belong to one; a trigger numbers and logs those of its window
// in order, before itself. Each window is said by marker lines (records.h):
//
//   buslog window open FROM AT FRAME    before its first line: its start, its
//                                       trigger's time and number ("-" when
//                                       the filter leaves the trigger out);
//                                       again at the head of each file that
//                                       begins inside it
//   buslog window close TO RANGE WHY    once no later trigger can merge with
//                                       it (or at the end): its end, its frame
//                                       numbers ("-": none) and why it ended:
//                                       post (--post passed), stop (a stop
//                                       trigger) or end (the input ended)
#pragma once

#include <cstdint>
#include <string>

#include "buslog_writer.h"
#include "frame.h"
#include "pre_buffer.h"
#include "selection.h"

namespace buslog_writer {

struct Core;

struct WindowSettings {
  bool on;  // a trigger of any kind is set
  bool hasStart, hasStop;
  uint64_t preMicros;
  uint64_t postMicros;
  uint64_t preBytes;  // the pre-trigger buffer's size (with preMicros > 0)
};

struct Window {
  bool open;
  bool untilStop;      // a start trigger's: open until a stop trigger
  FrameTime end;       // otherwise it ends after this time
  const char* why;     // and why: "post" or "stop"
  FrameTime from;      // where it begins
  uint32_t first;      // its frame numbers; 0: none yet
  uint32_t last;
  uint32_t firstPut;   // its first frame handed to the log (which carries its open marker)
  std::string openText;  // its open marker's words (FROM AT FRAME)
  bool closing;        // ended, its close marker not yet written:
  FrameTime mergeUntil;  // a trigger up to this time (its end + --pre) continues it
};

struct StageCounts {
  uint64_t numbered;     // frames given a number
  uint64_t outside;      // frames the filter kept, outside every window: no number
  uint64_t windows;      // windows opened (merged ones count once)
  uint64_t givenUp;      // frames the full pre-trigger buffer gave up
  uint64_t givenUpLost;  // of them in a window: numbered and lost
  uint64_t preMostUsed;  // the most bytes the buffer held
};

struct Stage {
  WindowSettings settings;
  uint32_t lastNumber;
  StageCounts counts;
  bool started;        // a frame came
  FrameTime latest;    // the latest frame time so far
  Window window;
  PreBuffer buffer;
  GivenUp givenUp;
  bool lossSaid;
};

// Reads the options' window settings (already checked) and takes the
// pre-trigger buffer. False with `why` when its memory cannot be had.
bool SetUpStage(Stage* stage, const BuslogWriterOptions& options, bool triggers, std::string* why);

// One frame from an Add (stage bits and sequence set; a drop report goes
// straight on). `lose`: a second stop came; the frames that would be
// logged are numbered and lost "left at a second stop".
void StageFrame(Core* core, Frame* frame, bool lose);

// No more frames: the open window closes at the latest frame, the last
// close marker is written with the records owed, and what the buffer still
// holds is outside every window.
void EndWindows(Core* core);

// The open marker to repeat at the head of a file whose first frame is
// `number`, when that frame lies inside a window begun in an earlier
// line; null otherwise.
const std::string* WindowToRepeat(const Core& core, uint32_t number);

// "pre 10 post 0.5; on 7E0; start 100#01/FF; stop 100#00/FF": the words of
// the trigger marker at each file's head.
std::string TriggerSettingsText(const BuslogWriterOptions& options, const Selection& selection);

}  // namespace buslog_writer
