// buslog-host stats: what a log holds. What its markers say (start, writer,
// interfaces), lines by form, records by kind and bus, for each CAN channel
// and identifier its frames, first and last time, mean period and longest
// gap, and the error frames apart, by channel and error class.
#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "command_line.h"
#include "log_reader.h"
#include "tools/log_inputs.h"
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
  uint32_t id;           // the identifier; for error frames the error class
  uint64_t frames;
  uint64_t timedFrames;  // frames with a time stamp
  int64_t first, last;   // microseconds: absolute from a start marker, else the log's own
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

// Channel, extended flag and identifier as one key: channel in the top 32
// bits, the flag in bit 31, the 29-bit identifier below.
typedef std::unordered_map<uint64_t, IdStats> IdTable;

// What the logs hold, counted line by line.
struct LogStats {
  uint64_t lines, empty, errorOnly, text, malformed, canIncomplete, markerLines;
  uint64_t absoluteFrames;  // frames timed from a start marker
  uint64_t ownTimeFrames;   // frames with the log's own time (no start marker before them)
  std::vector<KindBus> kinds;
  IdTable ids;
  IdTable errors;  // error frames by channel and error class, never under an identifier
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

void CountIn(IdTable* table, int32_t channel, bool extended, uint32_t id, bool timed, int64_t t) {
  uint64_t key = static_cast<uint64_t>(static_cast<uint32_t>(channel)) << 32 | (extended ? 0x80000000u : 0u) |
                 (id & 0x1FFFFFFFu);
  auto found = table->find(key);
  if (found == table->end()) {
    IdStats fresh = {};
    fresh.channel = channel;
    fresh.extended = extended;
    fresh.id = id;
    found = table->emplace(key, fresh).first;
  }
  IdStats& s = found->second;
  ++s.frames;
  if (!timed) return;
  if (s.timedFrames == 0) {
    s.first = t;
  } else if (t - s.last > s.longestGap) {
    s.longestGap = t - s.last;
  }
  s.last = t;
  ++s.timedFrames;
}

void CountCanFrame(LogStats* stats, const LogLine& line, const buslog_reader::LogContext& context) {
  const buslog_reader::LogRecord& r = line.record;
  int64_t t = 0;
  if (line.hasTime) {
    uint64_t seconds;
    uint32_t micros;
    if (context.AbsoluteTime(line.time, &seconds, &micros)) {
      ++stats->absoluteFrames;
    } else {
      ++stats->ownTimeFrames;
      seconds = line.time.seconds;
      micros = buslog_reader::MicrosOf(line.time);
    }
    t = static_cast<int64_t>(seconds) * 1000000 + micros;
  }
  int32_t channel = r.hasChannel ? r.channel : 0;
  if (r.can.type == CanType::kError) {
    CountIn(&stats->errors, channel, false, r.can.errorClass, line.hasTime, t);
  } else {
    CountIn(&stats->ids, channel, r.can.extended, r.can.id, line.hasTime, t);
  }
}

void CountLine(LogStats* stats, const LogLine& line, const buslog_reader::LogContext& context) {
  ++stats->lines;
  switch (line.form) {
    case LineForm::kEmpty: ++stats->empty; return;
    case LineForm::kError: ++stats->errorOnly; return;
    case LineForm::kText:
      ++stats->text;
      if (line.malformed) ++stats->malformed;
      return;
    case LineForm::kRecord: break;
  }
  if (line.marker != buslog_reader::BuslogMarker::kNone) {
    // The log's word about itself, not a record of its content.
    ++stats->markerLines;
    return;
  }
  CountKindBus(stats, line.record);
  if (line.record.type != RecordType::kCan) return;
  if (!line.record.can.complete) {
    ++stats->canIncomplete;
    return;
  }
  CountCanFrame(stats, line, context);
}

// By channel, standard before extended, then identifier (or error class).
std::vector<IdStats> SortedRows(const IdTable& table) {
  std::vector<IdStats> rows;
  rows.reserve(table.size());
  for (const auto& entry : table) rows.push_back(entry.second);
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

// A CSV field: as it is, or in quote marks with inner ones doubled.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

void PrintCsv(const LogStats& stats, const std::vector<InputSummary>& inputs) {
  printf("section,kind,bus,channel,extended,id,count,first_s,last_s,mean_period_s,longest_gap_s\n");
  printf("lines,,,,,,%llu,,,,\n", static_cast<Count>(stats.lines));
  for (const KindBus& k : stats.kinds) {
    printf("records,%c,%s,,,,%llu,,,,\n", k.kind, k.bus, static_cast<Count>(k.records));
  }
  printf("error_lines,,,,,,%llu,,,,\n", static_cast<Count>(stats.errorOnly));
  printf("empty_lines,,,,,,%llu,,,,\n", static_cast<Count>(stats.empty));
  printf("unparsed_lines,,,,,,%llu,,,,\n", static_cast<Count>(stats.text));
  printf("malformed_lines,,,,,,%llu,,,,\n", static_cast<Count>(stats.malformed));
  printf("marker_lines,,,,,,%llu,,,,\n", static_cast<Count>(stats.markerLines));
  for (const InputSummary& in : inputs) {
    if (in.haveStart) {
      char start[32];
      PrintSeconds(start, sizeof start, static_cast<int64_t>(in.startSeconds) * 1000000 + in.startMicros);
      printf("start,%s,,,,,,%s,,,\n", in.relative ? "relative" : "", start);
    }
    if (!in.writer.empty()) printf("writer,,,,,%s,,,,,\n", CsvField(in.writer).c_str());
    for (const std::string& text : in.records) printf("record,,,,,%s,,,,,\n", CsvField(text).c_str());
    for (const auto& name : in.names) printf("interface,,CAN,%d,,%s,,,,,\n", name.first, CsvField(name.second).c_str());
  }
  for (const IdStats& s : SortedRows(stats.ids)) {
    Times t = TimesOf(s);
    printf("can,,CAN,%d,%d,%0*X,%llu,%s,%s,%s,%s\n", s.channel, s.extended ? 1 : 0, s.extended ? 8 : 3, s.id,
           static_cast<Count>(s.frames), t.first, t.last, t.period, t.gap);
  }
  for (const IdStats& s : SortedRows(stats.errors)) {
    Times t = TimesOf(s);
    printf("can_error,,CAN,%d,,%08X,%llu,%s,%s,%s,%s\n", s.channel, s.id, static_cast<Count>(s.frames), t.first,
           t.last, t.period, t.gap);
  }
}

// The records a summary shows a log; `verify` accounts for all of them.
constexpr size_t kMostRecords = 20;

// What each input's markers said.
void PrintInputs(const std::vector<InputSummary>& inputs) {
  for (const InputSummary& in : inputs) {
    printf("%s\n", in.name.c_str());
    if (in.haveStart && in.relative) {
      printf("  start           %llu.%06u s on the source's own clock (no date)%s\n",
             static_cast<Count>(in.startSeconds), in.startMicros,
             in.timeBases > 1 ? "; later start markers begin new time bases" : "");
    } else if (in.haveStart) {
      char utc[buslog_reader::kUtcTextLength + 1];
      buslog_reader::FormatUtc(in.startSeconds, in.startMicros, utc);
      printf("  start           %s (%llu.%06u)%s\n", utc, static_cast<Count>(in.startSeconds), in.startMicros,
             in.timeBases > 1 ? "; later start markers begin new time bases" : "");
    } else if (in.timeBases > 0) {
      printf("  start           not readable\n");
    }
    if (!in.writer.empty()) printf("  writer          %s\n", in.writer.c_str());
    for (const auto& name : in.names) printf("  interface       %s -> channel %d\n", name.second.c_str(), name.first);
    for (size_t i = 0; i < in.records.size() && i < kMostRecords; ++i) {
      printf("  record          %s\n", in.records[i].c_str());
    }
    if (in.records.size() > kMostRecords) printf("  record          ... and %zu more\n", in.records.size() - kMostRecords);
  }
  if (inputs.size() > 1) printf("together (%zu logs, read in order as one)\n", inputs.size());
}

void PrintRows(const char* title, const char* idHeading, const std::vector<IdStats>& rows, bool errorClasses) {
  if (rows.empty()) return;
  printf("\n%s\n", title);
  printf("%7s %8s %10s %17s %17s %14s %17s\n", "channel", idHeading, "frames", "first", "last", "mean period",
         "longest gap");
  for (const IdStats& s : rows) {
    Times t = TimesOf(s);
    char id[16];
    snprintf(id, sizeof id, "%0*X", errorClasses || s.extended ? 8 : 3, s.id);
    char row[160];
    int length = snprintf(row, sizeof row, "%7d %8s %10llu %17s %17s %14s %17s", s.channel, id,
                          static_cast<Count>(s.frames), t.first, t.last, t.period, t.gap);
    if (length < 0) continue;
    if (static_cast<size_t>(length) >= sizeof row) length = sizeof row - 1;
    while (length > 0 && row[length - 1] == ' ') --length;  // no blanks for missing figures
    printf("%.*s\n", length, row);
  }
}

void PrintTable(const LogStats& stats, const std::vector<InputSummary>& inputs) {
  PrintInputs(inputs);
  printf("  lines           %llu\n  records         %llu\n", static_cast<Count>(stats.lines),
         static_cast<Count>(stats.lines - stats.empty - stats.errorOnly - stats.text - stats.markerLines));
  for (const KindBus& k : stats.kinds) printf("    %c %-10s  %llu\n", k.kind, k.bus, static_cast<Count>(k.records));
  if (stats.markerLines != 0) {
    printf("  marker lines    %llu (the log's start, writer, interfaces and records)\n",
           static_cast<Count>(stats.markerLines));
  }
  printf("  error fields    %llu (lines with an error field and no record)\n", static_cast<Count>(stats.errorOnly));
  printf("  empty lines     %llu\n", static_cast<Count>(stats.empty));
  printf("  unparsed lines  %llu (of them malformed %llu)\n", static_cast<Count>(stats.text),
         static_cast<Count>(stats.malformed));
  if (stats.canIncomplete != 0) {
    printf("  CAN records without identifier or length: %llu\n", static_cast<Count>(stats.canIncomplete));
  }
  bool relative = false;
  for (const InputSummary& in : inputs) relative = relative || (in.haveStart && in.relative);
  const char* times = stats.absoluteFrames == 0 ? "times in seconds of the log"
                      : relative             ? "times in seconds of the source's own clock, from the start markers"
                      : stats.ownTimeFrames == 0
                          ? "times in seconds since 1970-01-01 UTC, from the start markers"
                          : "times since 1970-01-01 UTC where a start marker gave them, else seconds of the log";
  char title[200];
  snprintf(title, sizeof title, "CAN frames by channel and identifier (%s)", times);
  PrintRows(title, "id", SortedRows(stats.ids), false);
  snprintf(title, sizeof title, "CAN error frames by channel and error class (%s)", times);
  PrintRows(title, "class", SortedRows(stats.errors), true);
}

}  // namespace

int RunStats(int argc, char** argv) {
  StatsOptions options;
  ParseResult parsed = ParseStatsOptions(argc, argv, &options);
  if (parsed != ParseResult::kRun) return parsed == ParseResult::kHelp ? 0 : 2;
  static LogInputs inputs;
  if (!OpenLogInputs(options.logs, &inputs)) return 1;
  LogStats stats = {};
  stats.ids.reserve(4096);
  static LogLine line;
  while (NextInputLine(&inputs, &line)) CountLine(&stats, line, inputs.reader.context);
  CloseLogInputs(&inputs);
  if (inputs.noLog) return 1;

  SetBinaryMode(stdout);
  if (options.csv) {
    PrintCsv(stats, inputs.done);
  } else {
    PrintTable(stats, inputs.done);
  }
  bool writeError = fflush(stdout) != 0 || ferror(stdout);
  if (writeError) Message("buslog-host: standard output: write error\n");
  return inputs.readError || writeError ? 1 : 0;
}

}  // namespace buslog_host
