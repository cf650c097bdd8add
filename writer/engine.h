// The engine's core: a numbered frame in, its lines in the log (or the
// frame named as lost). One path for every frame:
//
//   PutFrame    the frame's lines (the marker lines it needs first, then its
//               own) join the batch in hand; a frame that needs a new file,
//               or comes while the storage fails, goes alone
//   Commit      the batch with one Write; when that fails, nothing of it is
//               in the log, and each of its frames goes again alone
//   WriteAlone  one frame and its markers with one Write, tried again while
//               the storage fails, in a new file where the open one cannot go
//               on (storage.cpp), until it is written or given up
//
// The open file's state is kept twice: `committed`, what its written lines
// say, and `pending`, what they will say once the batch is written. A line
// is logged, and counts, only when the Write that carried it returned 0.
// The core runs in one thread at a time: the caller's (REPLAY,
// WRITE_THROUGH) or the writer's own (QUEUED, queue.h).
#pragma once

#include <atomic>
#include <bitset>
#include <cstdint>
#include <string>

#include "batch.h"
#include "buslog.h"
#include "buslog_writer.h"
#include "channels.h"
#include "frame.h"
#include "lines.h"
#include "log_files.h"
#include "markers.h"
#include "messages.h"
#include "records.h"
#include "time_base.h"
#include "trouble.h"
#include "stage.h"

namespace buslog_writer {

struct Queue;

// The most lines a frame brings: its own, and the marker lines before it
// (start, writer, filter, trigger, a window's open marker again, the
// ring's removals, records, its channel's, a clamped time's).
constexpr uint32_t kMaxFrameLines = 9 + kRecordsAFrame;
// The longest text of the filter's and the triggers' markers: with the
// other markers a frame may bring, a frame's lines stay within one Write.
constexpr size_t kMaxSettingsText = 400;

// What the caller asked for, fixed at open.
struct Settings {
  int32_t mode;
  bool syncEveryFrame;
  bool markers;
  bool precise;          // PRECISE with marker lines: new bases in the file
  uint64_t rotateBytes;
  double rotateSeconds;
  std::string writer;    // the writer marker's program and version
  std::string filterMarker;   // "buslog filter ...", or empty: no filter
  std::string triggerMarker;  // "buslog trigger ...", or empty: no trigger
  int (*interrupted)(void* context);
  void* interruptedContext;
};

// The open file as far as its lines go.
struct OpenFile {
  TimeBase time;         // its time base
  bool hasFrame;         // a frame went into it:
  FrameTime first;       // its first frame's time
  double ageBefore;      // seconds of it before its time base (rotation by age)
  bool writerMarked;
  uint32_t removedNoted;  // the last frame of the ring's removals it has said
  std::bitset<kMaxChannels> channelMarked;
  uint64_t bytes;        // bytes of its lines, CR LF included
  uint64_t lines;
};

// Counts of lines in a batch, taken into the tally once it is written.
struct LineTally {
  uint64_t frames;
  uint64_t byType[4];
  uint64_t lines;
  uint64_t markerLines;
  uint64_t timeBases;   // new bases inside a file
  uint64_t timeJumps;
  uint64_t clamped;
  uint64_t records;     // records of the list (records.h) the lines carry
};

struct Tally {
  LineTally written;     // everything written
  uint64_t writes;
  uint64_t writeFailures;
  uint64_t framesGone;   // of the frames written, in files deleted or unreachable since
  uint64_t goneByType[4];
};

// The storage's state, beyond the trouble's bookkeeping.
struct Storage {
  StorageTrouble trouble;
  Losses losses;
  double nextLook;        // when the open log is looked at again
  double lastClock;       // the steady clock when last read
  bool newFileDue;        // a new file is to begin before the next line
  std::string newFileNote;  // why, said with its name once open
  bool givenUp;           // no more tries: frames from now on are lost
  std::string givenUpReason;
  int32_t givenUpKind;
  bool batchFailed;       // a batch's Write failed, not yet said
  int batchError;
  uint32_t batchFrame;
  bool precisionSaid;     // PER_FILE: that times keep fewer digits
  bool pastYearSaid;      // that a time past 9999 has no start marker
  uint32_t lastJumpSaid;  // the frame of the last time jump said
  uint64_t jumpsSaid;
  bool channelsFullSaid;  // that an interface found no channel
};

struct Core {
  const BuslogApi* api;
  Settings settings;
  Messages* messages;
  const ChannelTable* channels;  // filled by Add; names never change once given
  LogSet logs;
  OpenFile committed;
  OpenFile pending;
  LineTally batchTally;   // the batch's lines
  LineBatch batch;
  Frame retry[kBatchLines];  // a failed batch's frames, going again alone
  Storage storage;
  Records records;
  Tally tally;
  Stage stage;            // numbering and the trigger windows
  Queue* queue;           // QUEUED: the frames behind the one in hand
  std::atomic<bool>* abandoned;
};

// What GetCounts reads while the writer's thread runs (QUEUED: taken after
// each round of frames).
struct CountsSnapshot {
  Tally tally;
  StageCounts stage;
  uint64_t framesRemoved;
  uint64_t lost;
  uint32_t files;
  uint32_t removedFiles;
  uint32_t losses;
};
void SnapshotCounts(const Core& core, CountsSnapshot* snapshot);

// Logs `frame`: into the batch, or alone (see above). False when the
// storage failed for good (the frame is lost, as every later one).
bool PutFrame(Core* core, const Frame& frame);

// Writes the batch in hand.
void Commit(Core* core);

// True when the batch is to be written now, before more frames come: one
// Write a frame was asked for, or it holds all the lines it can.
inline bool BatchFull(const Core& core) {
  return core.settings.syncEveryFrame || core.batch.count + kMaxFrameLines > kBatchLines;
}

// The reason of frames left at a second stop.
extern const char kLeftAtStop[];

// Frames first..last are lost for `reason` (`error` the system's; `kind`
// BUSLOG_LOSS_...); `quiet`: said in a message of its own.
void LoseFrames(Core* core, uint32_t first, uint32_t last, const std::string& reason, int error, int32_t kind,
                bool quiet);

// The frames of `file`, a log that went (deleted, or its name leads
// elsewhere), are lost: "the log PATH was deleted" or "... can no longer
// be reached".
void LoseFileFrames(Core* core, const LogFileEntry& file);

// ---- storage.cpp

enum class Logged { kWritten, kLost, kGaveUp };

// One frame alone, kept until it is written or given up (storage.cpp). A
// new file is begun first when `newFile` says the open one cannot take it.
Logged WriteAlone(Core* core, const Frame& frame, bool newFile);

// A batch's one Write failed with the system's `error` (its first frame
// `firstFrame`): a new file first when the log ends in a cut line or was
// lost; its frames then go alone.
void BatchFailed(Core* core, uint32_t firstFrame, int error);
// After the failed batch's frames were each tried: says the failure if
// none of them failed (so it passed at once).
void BatchRetried(Core* core);

// About once a second: is the open log still there under its name? When
// not, said, its frames lost, and the next frame goes into a new file:
// false.
bool LookAtLogNow(Core* core);

// Closes the open log, looking at it first: a log deleted or out of reach
// since the last look is said, and its frames lost, here.
void CloseOpenLog(Core* core);

// Ends the open file and asks for a new one before the next line; `note`
// says why, with the new file's name once open.
void NewFileDue(Core* core, const std::string& note);

// The records not yet in a log, written now with no frame to carry them
// (the writer closes): into the open log, or a new one when it is due.
void WriteOwedRecords(Core* core);

// ---- the lines of a frame (put.cpp)

struct FrameLinesBytes {
  FrameLineBytes frame;
  uint8_t markers[kMaxFrameLines - 1][BUSLOG_MARKER_RECORD_SIZE(kMaxMarkerText)];
};
// Where each marker of a frame keeps its record in FrameLinesBytes.
enum MarkerSlot : uint32_t {
  kStartSlot,
  kWriterSlot,
  kFilterSlot,
  kTriggerSlot,
  kWindowSlot,
  kRemovedSlot,
  kRecordSlots,
  kChannelSlot = kRecordSlots + kRecordsAFrame,
  kClampedSlot,
};
static_assert(kClampedSlot == kMaxFrameLines - 2, "a slot for each marker a frame may bring");

// The lines of `frame` into `out` (room for kMaxFrameLines; their bytes in
// `bytes`), against `file` and `tally`, which they change as their Write
// would. Returns how many.
uint32_t BuildFrameLines(Core* core, OpenFile* file, LineTally* tally, const Frame& frame, LogLine* out,
                         FrameLinesBytes* bytes);

// True when the frame at `frame` cannot go into the open file as `file`
// stands: it is full or old enough (rotation), or a time jump that only a
// new file can take (PER_FILE); `note` then says a jump.
bool NeedsNewFile(Core* core, const OpenFile& file, const Frame& frame, std::string* note);

// The batch was written: its lines count, the open file's state is theirs.
void LinesWritten(Core* core);

}  // namespace buslog_writer
