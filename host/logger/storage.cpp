// Storage failures: what is said, when to try again, what is missing.
#include "logger/storage.h"

#include <algorithm>

#include "platform/message.h"

namespace buslog_host {

void NoteFailure(StorageTrouble* t, const char* operation, const char* path, uint32_t frame, int error,
                 const char* reason, const char* ending, double now) {
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
  const char* verb = kind.compare(0, 6, "create") == 0 ? "create" : "write";
  Message("buslog-host: cannot %s the log %s at frame %u: %s; %s\n", verb, path, frame, reason, ending);
}

void NoteRecovered(StorageTrouble* t, uint32_t frame, double now) {
  if (!t->failing) return;
  t->failing = false;
  SayLosses(t, now + 1.0);
  if (t->lostWhileFailing > 0) {
    Message("buslog-host: writing works again at frame %u after %.1f s; %llu frame%s could not be logged\n", frame,
            now - t->failingSince, static_cast<unsigned long long>(t->lostWhileFailing),
            t->lostWhileFailing == 1 ? "" : "s");
  } else {
    Message("buslog-host: writing works again at frame %u after %.1f s; nothing was lost\n", frame,
            now - t->failingSince);
  }
  // A later failure of the same kind is news again.
  t->said.clear();
}

void NoteMissing(StorageTrouble* t, uint32_t first, uint32_t last, const char* reason, bool quiet) {
  uint32_t index = 0;
  while (index < t->reasons.size() && t->reasons[index] != reason) ++index;
  if (index == t->reasons.size()) t->reasons.push_back(reason);
  uint64_t count = static_cast<uint64_t>(last) - first + 1;
  t->lost += count;
  if (!quiet) {
    t->lostSinceSaid += count;
    if (t->failing) t->lostWhileFailing += count;
  }
  if (!t->missing.empty()) {
    MissingRange& back = t->missing.back();
    if (back.reason == index && back.last + 1 == first) {
      back.last = last;
      return;
    }
  }
  t->missing.push_back(MissingRange{first, last, index});
}

void SayLosses(StorageTrouble* t, double now) {
  if (t->lostSinceSaid == 0 || now - t->lastSaid < 1.0) return;
  Message("buslog-host: %llu more frame%s could not be logged (%s)\n", static_cast<unsigned long long>(t->lostSinceSaid),
          t->lostSinceSaid == 1 ? "" : "s", t->reason.empty() ? "see above" : t->reason.c_str());
  t->lostSinceSaid = 0;
  t->lastSaid = now;
}

std::vector<MissingRange> SortedMissing(const StorageTrouble& t) {
  std::vector<MissingRange> ranges = t.missing;
  std::sort(ranges.begin(), ranges.end(),
            [](const MissingRange& a, const MissingRange& b) { return a.first < b.first; });
  std::vector<MissingRange> joined;
  for (const MissingRange& range : ranges) {
    if (!joined.empty() && joined.back().reason == range.reason && joined.back().last + 1 == range.first) {
      joined.back().last = range.last;
    } else {
      joined.push_back(range);
    }
  }
  return joined;
}

void PrintMissing(const StorageTrouble& t, size_t limit) {
  std::vector<MissingRange> ranges = SortedMissing(t);
  uint64_t shown = 0;
  for (size_t i = 0; i < ranges.size(); ++i) {
    const MissingRange& range = ranges[i];
    if (i == limit) {
      Message("  missing         %llu more frames in %zu more ranges\n",
              static_cast<unsigned long long>(t.lost - shown), ranges.size() - i);
      break;
    }
    const char* reason = t.reasons[range.reason].c_str();
    if (range.first == range.last) {
      Message("  missing         frame %u (%s)\n", range.first, reason);
    } else {
      Message("  missing         frames %u-%u (%s)\n", range.first, range.last, reason);
    }
    shown += static_cast<uint64_t>(range.last) - range.first + 1;
  }
}

}  // namespace buslog_host
