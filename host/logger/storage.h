// When the log's storage fails: what the logger says (the first failure of
// a kind with the system's reason, then at most a line a second, a line
// when writing works again), when it tries again, and which frame numbers
// are missing from the logs and why, for the summary.
//
//   buslog-host: cannot write the log /m/run.csv at frame 2996: No space left on device; trying again
//   buslog-host: 1200 more frames could not be logged (No space left on device)
//   buslog-host: writing works again at frame 4196 after 3.2 s; 1200 frames could not be logged
//   ...
//     missing         frames 2996-4195 (No space left on device)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace buslog_host {

// Frames first..last (frame numbers, inclusive) are not in the logs, for
// reasons[reason].
struct MissingRange {
  uint32_t first;
  uint32_t last;
  uint32_t reason;
};

// Seconds between tries while writing fails, and how long a failure may
// last once no more input will come (a file replay, a live input that
// ended or was asked to stop) before the logger gives up.
constexpr double kRetrySeconds = 0.25;
constexpr double kGiveUpSeconds = 5.0;

struct StorageTrouble {
  // While failing: since when, at which frame, why, when to try next.
  bool failing;
  double failingSince;
  double nextTry;
  uint32_t failedAt;
  int error;
  std::string reason;
  // Said already: "operation error" pairs, so a kind is named once.
  std::vector<std::string> said;
  // Frames given up since the last line about them, and when that was.
  uint64_t lostSinceSaid;
  uint64_t lostWhileFailing;
  double lastSaid;
  // Everything missing from the logs, in the order it became known.
  std::vector<std::string> reasons;
  std::vector<MissingRange> missing;
  uint64_t lost;  // frames in `missing`
};

// Notes a failed Write (`operation` "write") or create ("create") of the
// log `path` at frame `frame` at time `now` (seconds, any steady clock).
// Says it on standard error the first time this operation fails with this
// reason; `ending` says what follows ("trying again"). Afterwards
// RetryDue says when to try again.
void NoteFailure(StorageTrouble* trouble, const char* operation, const char* path, uint32_t frame, int error,
                 const char* reason, const char* ending, double now);

// True when the next try is due (always while nothing fails).
inline bool RetryDue(const StorageTrouble& trouble, double now) { return !trouble.failing || now >= trouble.nextTry; }

// A write worked again at frame `frame`: says so once if it had failed.
void NoteRecovered(StorageTrouble* trouble, uint32_t frame, double now);

// Frames first..last will not be in the logs, for `reason`. Counts them
// and keeps their range (merged with the last one when it continues it
// for the same reason). `quiet`: not counted for the once-a-second line (a
// loss said in a message of its own, or the ring's removals).
void NoteMissing(StorageTrouble* trouble, uint32_t first, uint32_t last, const char* reason, bool quiet);

// While failing: at most once a second, how many frames could not be
// logged since the last such line, and why.
void SayLosses(StorageTrouble* trouble, double now);

// The summary's lines for the missing frames, in frame order, at most
// `limit` of them and then a line for the rest:
//   "  missing         frames 2996-4195 (No space left on device)"
//   "  missing         frame 7 (the log run-002.csv was deleted)"
void PrintMissing(const StorageTrouble& trouble, size_t limit);

// The ranges in frame order, neighbours for the same reason joined.
std::vector<MissingRange> SortedMissing(const StorageTrouble& trouble);

}  // namespace buslog_host
