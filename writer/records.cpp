// The records of what the frame lines cannot show.
#include "records.h"

#include <cstdio>

#include "file_names.h"

namespace buslog_writer {
namespace {

// "312-548", or "7" for one frame.
void Range(uint32_t first, uint32_t last, char* out, size_t size) {
  if (first == last) {
    snprintf(out, size, "%u", first);
  } else {
    snprintf(out, size, "%u-%u", first, last);
  }
}

// Names and reasons are kept short enough for a marker line.
constexpr size_t kMostWords = 255;

std::string Clipped(const std::string& words) { return words.size() <= kMostWords ? words : words.substr(0, kMostWords); }

}  // namespace

void RecordLost(Records* records, uint32_t first, uint32_t last, const std::string& reason) {
  std::string words = Clipped(reason);
  if (records->list.size() > records->committed) {
    Record& back = records->list.back();
    if (back.kind == RecordKind::kLost && back.last + 1 == first && back.words == words) {
      back.last = last;
      return;
    }
  }
  records->list.push_back(Record{RecordKind::kLost, first, last, 0, 0, words});
}

void RecordGone(Records* records, uint32_t first, uint32_t last, bool deleted, const std::string& path) {
  std::string name = path.substr(buslog_files::NameStart(path));
  records->list.push_back(Record{RecordKind::kGone, first, last, 0, 0,
                                 Clipped(std::string(deleted ? "deleted " : "unreachable ") + name)});
}

void RecordDropped(Records* records, uint64_t count, uint64_t total, const std::string& interfaceName) {
  records->list.push_back(Record{RecordKind::kDropped, 0, 0, count, total, Clipped(interfaceName)});
}

void RecordText(const Record& record, char* out, size_t size) {
  char range[32];
  switch (record.kind) {
    case RecordKind::kLost:
    case RecordKind::kGone:
      Range(record.first, record.last, range, sizeof range);
      snprintf(out, size, "buslog %s %s %s", record.kind == RecordKind::kLost ? "lost" : "gone", range,
               record.words.c_str());
      break;
    case RecordKind::kDropped:
      snprintf(out, size, "buslog dropped %llu %llu %s", static_cast<unsigned long long>(record.count),
               static_cast<unsigned long long>(record.total), record.words.c_str());
      break;
  }
}

void RemovedText(uint32_t first, uint32_t last, char* out, size_t size) {
  char range[32];
  Range(first, last, range, sizeof range);
  snprintf(out, size, "buslog removed %s", range);
}

void ClampedText(const Elapsed& before, char* out, size_t size) {
  snprintf(out, size, "buslog clamped %llu.%06u", static_cast<unsigned long long>(before.seconds), before.micros);
}

}  // namespace buslog_writer
