// When the log's storage fails: what the writer says (the first failure of
// a kind with the system's reason, then at most a line a second, a line
// when writing works again), when it tries again, and which frames are
// lost and why.
//
//   cannot write the log /m/run.buslog at frame 2996: No space left on device; trying again
//   1200 more frames could not be logged (No space left on device)
//   writing works again at frame 4196 after 3.2 s; 1200 frames could not be logged
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "buslog_writer.h"
#include "messages.h"

namespace buslog_writer {

// Seconds between tries while writing fails, and how long a failure may
// last once no more input will come (a replay, an input that ended) before
// the writer gives up.
constexpr double kRetrySeconds = 0.25;
constexpr double kGiveUpSeconds = 5.0;

// Why frames are not in the logs: the words, the system's error (0 none)
// and what lost them (BUSLOG_LOSS_...).
struct LossReason {
  std::string text;
  int error;
  int32_t kind;
};

// Frames first..last (frame numbers, inclusive) are not in the logs, for
// reasons[reason].
struct LossRange {
  uint32_t first;
  uint32_t last;
  uint32_t reason;
};

struct Losses {
  std::mutex mutex;               // the writer's thread adds, a report reads
  std::vector<LossReason> reasons;
  std::vector<LossRange> ranges;  // in the order they became known
  uint64_t lost = 0;              // frames in `ranges`
  uint32_t reported = 0;          // ranges a report has named
  uint64_t lostReported = 0;      // frames of those
};

struct StorageTrouble {
  // While failing: since when, at which frame, why, when to try next.
  bool failing;
  double failingSince;
  double nextTry;
  uint32_t failedAt;
  int error;
  std::string reason;
  // Said already: "operation reason" pairs, so a kind is named once.
  std::vector<std::string> said;
  // Frames lost since the last line about them, and when that was.
  uint64_t lostSinceSaid;
  uint64_t lostWhileFailing;
  double lastSaid;
};

// Seconds on the steady clock.
double SteadySeconds();

// Notes a failed Write (`operation` "write") or create ("create") of the
// log `path` at frame `frame` at time `now`. Says it the first time this
// operation fails with this reason, ending with "; trying again".
void NoteFailure(StorageTrouble* trouble, Messages* messages, const char* operation, const char* path,
                 uint32_t frame, int error, const char* reason, double now);

// True when the next try is due (always while nothing fails).
inline bool RetryDue(const StorageTrouble& trouble, double now) { return !trouble.failing || now >= trouble.nextTry; }

// A write worked again at frame `frame`: says so once if it had failed.
void NoteRecovered(StorageTrouble* trouble, Messages* messages, uint32_t frame, double now);

// Frames first..last are lost for `reason` (`error` the system's, or 0;
// `kind` BUSLOG_LOSS_...). `quiet`: said in a message of its own, not
// counted for the once-a-second line.
void NoteLoss(Losses* losses, StorageTrouble* trouble, uint32_t first, uint32_t last, const std::string& reason,
              int error, int32_t kind, bool quiet);

// While failing: at most once a second, how many frames could not be
// logged since the last such line, and why.
void SayLosses(StorageTrouble* trouble, Messages* messages, double now);

// The ranges not yet reported, as one line: "could not log frames 12-14, 20
// to /m/run.buslog: No space left on device", or "could not log frames 1-5:
// the log /m/run.buslog was deleted". Marks them reported; returns
// how many frames they hold (0: nothing new, `text` untouched).
uint64_t ReportLosses(Losses* losses, const std::string& path, uint32_t* firstRange, uint32_t* rangeCount,
                      int* error, char* text, size_t size);

}  // namespace buslog_writer
