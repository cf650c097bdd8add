// buslog-host stats: what a log holds. Lines by form, records by kind and
// bus, and for each CAN channel and identifier its frames, first and last
// time, mean period, longest gap and error frames.
#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "command_line.h"
#include "log_reader.h"
#include "tools/log_tools.h"
#include "platform/message.h"
#include "platform/system.h"

namespace buslog_host {
namespace {

using buslog_reader::CanType;
using buslog_reader::LineForm;
using buslog_reader::LogLine;
using buslog_reader::RecordType;

struct IdStats {
  int32_t channel;
  bool extended;
  uint32_t id;
  uint64_t frames;
  uint64_t errorFrames;
  uint64_t timedFrames;  // frames with a time stamp
  int64_t first, last;   // microseconds of the log's time
  int64_t longestGap;
};

// Records by kind letter and bus name ("I CAN", "generic").
struct KindBus {
  char kind;
  char bus[9];
  uint64_t records;
};

typedef unsigned long long Count;

void PrintSeconds(char* out, size_t size, int64_t micros) {
  snprintf(out, size, "%lld.%06lld", static_cast<long long>(micros / 1000000), static_cast<long long>(micros % 1000000));
}

}  // namespace

int RunStats(int argc, char** argv) {
  StatsOptions options;
  ParseResult parsed = ParseStatsOptions(argc, argv, &options);
  if (parsed != ParseResult::kRun) return parsed == ParseResult::kHelp ? 0 : 2;
  const char* log = options.log;
  bool csv = options.csv;
  FILE* input = OpenLogForReading(log);
  if (input == nullptr) return 1;
  buslog_reader::LogReader reader;
  if (!buslog_reader::OpenLogReader(&reader, input)) {
    Message("buslog-host: out of memory\n");
    fclose(input);
    return 1;
  }

  uint64_t lines = 0, empty = 0, errorOnly = 0, text = 0, canIncomplete = 0;
  std::vector<KindBus> kinds;
  // Channel, extended flag and identifier as one key: channel in the top
  // 32 bits, the flag in bit 31, the 29-bit identifier below.
  std::unordered_map<uint64_t, IdStats> ids;
  ids.reserve(4096);
  static LogLine line;
  while (buslog_reader::NextLogLine(&reader, &line)) {
    ++lines;
    if (line.form != LineForm::kRecord) {
      if (line.form == LineForm::kEmpty) ++empty;
      if (line.form == LineForm::kError) ++errorOnly;
      if (line.form == LineForm::kText) ++text;
      continue;
    }
    const buslog_reader::LogRecord& r = line.record;
    char kind = r.type == RecordType::kGeneric ? '-' : r.kind;
    const char* busText = r.type == RecordType::kGeneric ? "generic" : r.bus.text;
    size_t busLength = r.type == RecordType::kGeneric ? 7 : r.bus.length;
    KindBus* entry = nullptr;
    for (KindBus& k : kinds) {
      if (k.kind == kind && strlen(k.bus) == busLength && memcmp(k.bus, busText, busLength) == 0) entry = &k;
    }
    if (entry == nullptr) {
      kinds.push_back(KindBus{kind, {}, 0});
      entry = &kinds.back();
      memcpy(entry->bus, busText, busLength);
    }
    ++entry->records;
    if (r.type != RecordType::kCan) continue;
    if (!r.can.complete) {
      ++canIncomplete;
      continue;
    }
    uint64_t key = static_cast<uint64_t>(static_cast<uint32_t>(r.channel)) << 32 |
                   (r.can.extended ? 0x80000000u : 0u) | (r.can.id & 0x1FFFFFFFu);
    auto found = ids.find(key);
    if (found == ids.end()) {
      IdStats fresh = {};
      fresh.channel = r.hasChannel ? r.channel : 0;
      fresh.extended = r.can.extended;
      fresh.id = r.can.id;
      found = ids.emplace(key, fresh).first;
    }
    IdStats& s = found->second;
    ++s.frames;
    if (r.can.type == CanType::kError) ++s.errorFrames;
    if (line.hasTime) {
      int64_t t = static_cast<int64_t>(line.time.seconds) * 1000000 + buslog_reader::MicrosOf(line.time);
      if (s.timedFrames == 0) {
        s.first = t;
      } else if (t - s.last > s.longestGap) {
        s.longestGap = t - s.last;
      }
      s.last = t;
      ++s.timedFrames;
    }
  }
  bool readError = reader.readError;
  buslog_reader::CloseLogReader(&reader);
  fclose(input);

  std::vector<IdStats> rows;
  rows.reserve(ids.size());
  for (const auto& entry : ids) rows.push_back(entry.second);
  std::sort(rows.begin(), rows.end(), [](const IdStats& a, const IdStats& b) {
    if (a.channel != b.channel) return a.channel < b.channel;
    if (a.extended != b.extended) return !a.extended;
    return a.id < b.id;
  });
  SetBinaryMode(stdout);
  char first[32], last[32], period[32], gap[32];
  auto times = [&](const IdStats& s) {
    first[0] = last[0] = period[0] = gap[0] = '\0';
    if (s.timedFrames == 0) return;
    PrintSeconds(first, sizeof first, s.first);
    PrintSeconds(last, sizeof last, s.last);
    if (s.timedFrames < 2) return;
    snprintf(period, sizeof period, "%.6f",
             static_cast<double>(s.last - s.first) / 1e6 / static_cast<double>(s.timedFrames - 1));
    PrintSeconds(gap, sizeof gap, s.longestGap);
  };
  if (csv) {
    printf("section,kind,bus,channel,extended,id,count,error_frames,first_s,last_s,mean_period_s,longest_gap_s\n");
    printf("lines,,,,,,%llu,,,,,\n", static_cast<Count>(lines));
    for (const KindBus& k : kinds) printf("records,%c,%s,,,,%llu,,,,,\n", k.kind, k.bus, static_cast<Count>(k.records));
    printf("error_lines,,,,,,%llu,,,,,\n", static_cast<Count>(errorOnly));
    printf("empty_lines,,,,,,%llu,,,,,\n", static_cast<Count>(empty));
    printf("unparsed_lines,,,,,,%llu,,,,,\n", static_cast<Count>(text));
    for (const IdStats& s : rows) {
      times(s);
      printf("can,,CAN,%d,%d,%0*X,%llu,%llu,%s,%s,%s,%s\n", s.channel, s.extended ? 1 : 0, s.extended ? 8 : 3, s.id,
             static_cast<Count>(s.frames), static_cast<Count>(s.errorFrames), first, last, period, gap);
    }
  } else {
    printf("%s\n  lines           %llu\n  records         %llu\n", log, static_cast<Count>(lines),
           static_cast<Count>(lines - empty - errorOnly - text));
    for (const KindBus& k : kinds) {
      printf("    %c %-10s  %llu\n", k.kind, k.bus, static_cast<Count>(k.records));
    }
    printf("  error fields    %llu (lines with an error field and no record)\n", static_cast<Count>(errorOnly));
    printf("  empty lines     %llu\n", static_cast<Count>(empty));
    printf("  unparsed lines  %llu\n", static_cast<Count>(text));
    if (canIncomplete != 0) {
      printf("  CAN records without identifier or length: %llu\n", static_cast<Count>(canIncomplete));
    }
    if (!rows.empty()) {
      printf("\nCAN frames by channel and identifier (times in seconds of the log)\n");
      printf("%7s %8s %10s %8s %17s %17s %14s %17s\n", "channel", "id", "frames", "errors", "first", "last",
             "mean period", "longest gap");
      for (const IdStats& s : rows) {
        times(s);
        char id[16];
        snprintf(id, sizeof id, "%0*X", s.extended ? 8 : 3, s.id);
        char row[160];
        int length = snprintf(row, sizeof row, "%7d %8s %10llu %8llu %17s %17s %14s %17s", s.channel, id,
                              static_cast<Count>(s.frames), static_cast<Count>(s.errorFrames), first, last, period,
                              gap);
        while (length > 0 && row[length - 1] == ' ') --length;  // no blanks for missing figures
        printf("%.*s\n", length, row);
      }
    }
  }
  bool writeError = fflush(stdout) != 0 || ferror(stdout);
  if (readError) Message("buslog-host: %s: read error; the figures stop there\n", log);
  if (writeError) Message("buslog-host: standard output: write error\n");
  return readError || writeError ? 1 : 0;
}

}  // namespace buslog_host
