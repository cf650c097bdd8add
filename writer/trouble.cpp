// Storage failures: what is said, when to try again, what is lost.
#include "trouble.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace buslog_writer {

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void NoteFailure(StorageTrouble* t, Messages* messages, const char* operation, const char* path, uint32_t frame,
                 int error, const char* reason, double now) {
  if (!t->failing) {
    t->failing = true;
    t->failingSince = now;
    t->failedAt = frame;
    t->lostWhileFailing = 0;
    t->lastSaid = now;
  }
  t->nextTry = now + kRetrySeconds;
  t->error = error;
  t->reason = reason;
  std::string kind = std::string(operation) + " " + reason;
  if (std::find(t->said.begin(), t->said.end(), kind) != t->said.end()) return;
  t->said.push_back(kind);
  Say(messages, BUSLOG_MESSAGE_WARNING, "cannot %s the log %s at frame %u: %s; trying again", operation, path, frame,
      reason);
}

void NoteRecovered(StorageTrouble* t, Messages* messages, uint32_t frame, double now) {
  if (!t->failing) return;
  t->failing = false;
  SayLosses(t, messages, now + 1.0);
  if (t->lostWhileFailing > 0) {
    Say(messages, BUSLOG_MESSAGE_NOTE, "writing works again at frame %u after %.1f s; %llu frame%s could not be logged",
        frame, now - t->failingSince, static_cast<unsigned long long>(t->lostWhileFailing),
        t->lostWhileFailing == 1 ? "" : "s");
  } else {
    Say(messages, BUSLOG_MESSAGE_NOTE, "writing works again at frame %u after %.1f s", frame, now - t->failingSince);
  }
  // A later failure of the same kind is news again.
  t->said.clear();
}

void NoteLoss(Losses* losses, StorageTrouble* t, uint32_t first, uint32_t last, const std::string& reason, int error,
              int32_t kind, bool quiet) {
  std::lock_guard<std::mutex> lock(losses->mutex);
  uint32_t index = 0;
  while (index < losses->reasons.size() &&
         (losses->reasons[index].text != reason || losses->reasons[index].kind != kind)) {
    ++index;
  }
  if (index == losses->reasons.size()) losses->reasons.push_back(LossReason{reason, error, kind});
  uint64_t count = static_cast<uint64_t>(last) - first + 1;
  losses->lost += count;
  if (!quiet) t->lostSinceSaid += count;
  if (t->failing) t->lostWhileFailing += count;
  if (losses->ranges.size() > losses->reported) {
    LossRange& back = losses->ranges.back();
    if (back.reason == index && back.last + 1 == first) {
      back.last = last;
      return;
    }
  }
  losses->ranges.push_back(LossRange{first, last, index});
}

void SayLosses(StorageTrouble* t, Messages* messages, double now) {
  if (t->lostSinceSaid == 0 || now - t->lastSaid < 1.0) return;
  Say(messages, BUSLOG_MESSAGE_WARNING, "%llu more frame%s could not be logged (%s)",
      static_cast<unsigned long long>(t->lostSinceSaid), t->lostSinceSaid == 1 ? "" : "s",
      t->reason.empty() ? "see above" : t->reason.c_str());
  t->lostSinceSaid = 0;
  t->lastSaid = now;
}

uint64_t ReportLosses(Losses* losses, const std::string& path, uint32_t* firstRange, uint32_t* rangeCount,
                      int* error, char* text, size_t size) {
  std::lock_guard<std::mutex> lock(losses->mutex);
  uint32_t from = losses->reported;
  uint32_t to = static_cast<uint32_t>(losses->ranges.size());
  uint64_t frames = losses->lost - losses->lostReported;
  if (from == to) return 0;
  *firstRange = from;
  *rangeCount = to - from;
  const LossRange& firstLoss = losses->ranges[from];
  const LossReason& reason = losses->reasons[firstLoss.reason];
  *error = reason.error;
  std::string ranges;
  for (uint32_t i = from; i < to && i < from + 10; ++i) {
    const LossRange& range = losses->ranges[i];
    if (!ranges.empty()) ranges += ", ";
    ranges += std::to_string(range.first);
    if (range.last != range.first) ranges += "-" + std::to_string(range.last);
  }
  if (to - from > 10) ranges += " and " + std::to_string(to - from - 10) + " more ranges";
  const char* noun = frames == 1 ? "frame" : "frames";
  // A reason that names its log ("the log X was deleted") says where; the
  // others are of the log being written.
  if (reason.kind == BUSLOG_LOSS_GONE) {
    snprintf(text, size, "could not log %s %s: %s", noun, ranges.c_str(), reason.text.c_str());
  } else {
    snprintf(text, size, "could not log %s %s to %s: %s", noun, ranges.c_str(), path.c_str(), reason.text.c_str());
  }
  losses->reported = to;
  losses->lostReported = losses->lost;
  return frames;
}

}  // namespace buslog_writer
