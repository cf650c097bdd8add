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

// What the log holds, counted line by line.
struct LogStats {
  uint64_t lines, empty, errorOnly, text, canIncomplete;
  std::vector<KindBus> kinds;
  // Channel, extended flag and identifier as one key: channel in the top
  // 32 bits, the flag in bit 31, the 29-bit identifier below.
  std::unordered_map<uint64_t, IdStats> ids;
};

void CountKindBus(LogStats* stats, const buslog_reader::LogRecord& r) {
  char kind = r.type == RecordType::kGeneric ? '-' : r.kind;
  const char* busText = r.type == RecordType::kGeneric ? "generic" : r.bus.text;
  size_t busLength = r.type == RecordType::kGeneric ? 7 : r.bus.length;
  KindBus* entry = nullptr;
  for (KindBus& k : stats->kinds) {
    if (k.kind == kind && strlen(k.bus) == busLength && memcmp(k.bus, busText, busLength) == 0) entry = &k;
  }
  if (entry == nullptr) {
    stats->kinds.push_back(KindBus{kind, {}, 0});
    entry = &stats->kinds.back();
    memcpy(entry->bus, busText, busLength);
  }
  ++entry->records;
}

void CountCanFrame(LogStats* stats, const LogLine& line) {
  const buslog_reader::LogRecord& r = line.record;
  uint64_t key = static_cast<uint64_t>(static_cast<uint32_t>(r.channel)) << 32 |
                 (r.can.extended ? 0x80000000u : 0u) | (r.can.id & 0x1FFFFFFFu);
  auto found = stats->ids.find(key);
  if (found == stats->ids.end()) {
    IdStats fresh = {};
    fresh.channel = r.hasChannel ? r.channel : 0;
    fresh.extended = r.can.extended;
    fresh.id = r.can.id;
    found = stats->ids.emplace(key, fresh).first;
  }
  IdStats& s = found->second;
  ++s.frames;
  if (r.can.type == CanType::kError) ++s.errorFrames;
  if (!line.hasTime) return;
  int64_t t = static_cast<int64_t>(line.time.seconds) * 1000000 + buslog_reader::MicrosOf(line.time);
  if (s.timedFrames == 0) {
    s.first = t;
  } else if (t - s.last > s.longestGap) {
    s.longestGap = t - s.last;
  }
  s.last = t;
  ++s.timedFrames;
}

void CountLine(LogStats* stats, const LogLine& line) {
  ++stats->lines;
  switch (line.form) {
    case LineForm::kEmpty: ++stats->empty; return;
    case LineForm::kError: ++stats->errorOnly; return;
    case LineForm::kText: ++stats->text; return;
    case LineForm::kRecord: break;
  }
  CountKindBus(stats, line.record);
  if (line.record.type != RecordType::kCan) return;
  if (!line.record.can.complete) {
    ++stats->canIncomplete;
    return;
  }
  CountCanFrame(stats, line);
}

// The identifiers by channel, standard before extended, then identifier.
std::vector<IdStats> SortedRows(const LogStats& stats) {
  std::vector<IdStats> rows;
  rows.reserve(stats.ids.size());
  for (const auto& entry : stats.ids) rows.push_back(entry.second);
  std::sort(rows.begin(), rows.end(), [](const IdStats& a, const IdStats& b) {
    if (a.channel != b.channel) return a.channel < b.channel;
    if (a.extended != b.extended) return !a.extended;
    return a.id < b.id;
  });
  return rows;
}

// An identifier's times as printed; empty where there are too few frames.
struct Times {
  char first[32], last[32], period[32], gap[32];
};

Times TimesOf(const IdStats& s) {
  Times t;
  t.first[0] = t.last[0] = t.period[0] = t.gap[0] = '\0';
  if (s.timedFrames == 0) return t;
  PrintSeconds(t.first, sizeof t.first, s.first);
  PrintSeconds(t.last, sizeof t.last, s.last);
  if (s.timedFrames < 2) return t;
  snprintf(t.period, sizeof t.period, "%.6f",
           static_cast<double>(s.last - s.first) / 1e6 / static_cast<double>(s.timedFrames - 1));
  PrintSeconds(t.gap, sizeof t.gap, s.longestGap);
  return t;
}

void PrintCsv(const LogStats& stats, const std::vector<IdStats>& rows) {
  printf("section,kind,bus,channel,extended,id,count,error_frames,first_s,last_s,mean_period_s,longest_gap_s\n");
  printf("lines,,,,,,%llu,,,,,\n", static_cast<Count>(stats.lines));
  for (const KindBus& k : stats.kinds) {
    printf("records,%c,%s,,,,%llu,,,,,\n", k.kind, k.bus, static_cast<Count>(k.records));
  }
  printf("error_lines,,,,,,%llu,,,,,\n", static_cast<Count>(stats.errorOnly));
  printf("empty_lines,,,,,,%llu,,,,,\n", static_cast<Count>(stats.empty));
  printf("unparsed_lines,,,,,,%llu,,,,,\n", static_cast<Count>(stats.text));
  for (const IdStats& s : rows) {
    Times t = TimesOf(s);
    printf("can,,CAN,%d,%d,%0*X,%llu,%llu,%s,%s,%s,%s\n", s.channel, s.extended ? 1 : 0, s.extended ? 8 : 3, s.id,
           static_cast<Count>(s.frames), static_cast<Count>(s.errorFrames), t.first, t.last, t.period, t.gap);
  }
}

void PrintTable(const char* log, const LogStats& stats, const std::vector<IdStats>& rows) {
  printf("%s\n  lines           %llu\n  records         %llu\n", log, static_cast<Count>(stats.lines),
         static_cast<Count>(stats.lines - stats.empty - stats.errorOnly - stats.text));
  for (const KindBus& k : stats.kinds) printf("    %c %-10s  %llu\n", k.kind, k.bus, static_cast<Count>(k.records));
  printf("  error fields    %llu (lines with an error field and no record)\n", static_cast<Count>(stats.errorOnly));
  printf("  empty lines     %llu\n", static_cast<Count>(stats.empty));
  printf("  unparsed lines  %llu\n", static_cast<Count>(stats.text));
  if (stats.canIncomplete != 0) {
    printf("  CAN records without identifier or length: %llu\n", static_cast<Count>(stats.canIncomplete));
  }
  if (rows.empty()) return;
  printf("\nCAN frames by channel and identifier (times in seconds of the log)\n");
  printf("%7s %8s %10s %8s %17s %17s %14s %17s\n", "channel", "id", "frames", "errors", "first", "last",
         "mean period", "longest gap");
  for (const IdStats& s : rows) {
    Times t = TimesOf(s);
    char id[16];
    snprintf(id, sizeof id, "%0*X", s.extended ? 8 : 3, s.id);
    char row[160];
    int length = snprintf(row, sizeof row, "%7d %8s %10llu %8llu %17s %17s %14s %17s", s.channel, id,
                          static_cast<Count>(s.frames), static_cast<Count>(s.errorFrames), t.first, t.last,
                          t.period, t.gap);
    while (length > 0 && row[length - 1] == ' ') --length;  // no blanks for missing figures
    printf("%.*s\n", length, row);
  }
}

}  // namespace

int RunStats(int argc, char** argv) {
  StatsOptions options;
  ParseResult parsed = ParseStatsOptions(argc, argv, &options);
  if (parsed != ParseResult::kRun) return parsed == ParseResult::kHelp ? 0 : 2;
  const char* log = options.log;
  FILE* input = OpenLogForReading(log);
  if (input == nullptr) return 1;
  buslog_reader::LogReader reader;
  if (!buslog_reader::OpenLogReader(&reader, input)) {
    Message("buslog-host: out of memory\n");
    fclose(input);
    return 1;
  }
  LogStats stats = {};
  stats.ids.reserve(4096);
  static LogLine line;
  while (buslog_reader::NextLogLine(&reader, &line)) CountLine(&stats, line);
  bool readError = reader.readError;
  buslog_reader::CloseLogReader(&reader);
  fclose(input);

  std::vector<IdStats> rows = SortedRows(stats);
  SetBinaryMode(stdout);
  if (options.csv) {
    PrintCsv(stats, rows);
  } else {
    PrintTable(log, stats, rows);
  }
  bool writeError = fflush(stdout) != 0 || ferror(stdout);
  if (readError) Message("buslog-host: %s: read error; the figures stop there\n", log);
  if (writeError) Message("buslog-host: standard output: write error\n");
  return readError || writeError ? 1 : 0;
}

}  // namespace buslog_host
