// buslog-host convert: a log's CAN records as a candump log
// (to_candump.cpp), or every line of a log as one JSON object, JSON Lines
// (to_jsonl.cpp). convert.cpp reads the command line and the log.
#pragma once

#include <cstddef>
#include <cstdint>

#include "log_reader.h"
#include "command_line.h"
#include "tools/log_tools.h"

namespace buslog_host {

// ---- candump

struct CandumpTotals {
  uint64_t data, remote, fd, error;
  // Records candump cannot show.
  uint64_t lin, cxpi, port, env, marker, generic;
  // Lines skipped and why.
  uint64_t empty, errorOnly, text, unended, incomplete, noTime, badChannel, noInterface, tooManyBytes, remoteAbove8,
      errorClassTooWide;
  uint64_t lengthDiffers;  // written with the data's length
  uint64_t timeMayBeCut;   // written with the 8 whole digits the log kept
  uint64_t buslogMarkers;  // the log's own marker lines, read for start and names
  uint64_t timedByStart;   // frames whose time is the start marker's plus the log's
  uint64_t noStart;        // frames without --start or a start marker: the log's own time
  uint64_t badName;        // frames whose channel marker names what candump cannot show
  // --start with start markers: the shift from the logs' first time base to
  // --start, kept for every later base (microseconds).
  bool shiftKnown;
  int64_t shiftMicros;
};

// Writes one CAN record as a candump line, or counts why it cannot. The
// time is the log's plus its time base's start marker, else plus 0;
// --start moves the logs' first time base there (and every later one by as
// much), or is the start of a log without start markers. The interface is
// --interfaces', else the file's channel marker's, else canN.
void WriteCandumpLine(const buslog_reader::LogLine& line, const buslog_reader::LogContext& context,
                      const ConvertOptions& options, Output* output, CandumpTotals* t);
// Counts a line that is no CAN record by what it is.
void CountOther(const buslog_reader::LogLine& line, CandumpTotals* t);
void PrintCandumpSummary(const CandumpTotals& t, bool outputFailed);

// ---- JSON Lines

struct JsonTotals {
  uint64_t records[8];  // by RecordType
  uint64_t empty, errorOnly, text, cut;
};

// One line as one JSON object. What the buslog markers of its file said so
// far (`context`) gives absolute times ("abs_time") and interface names
// ("interface"); a buslog marker line gets fields for what it says.
// `logNumber` (from 1) is written as "log" when several logs are read.
void WriteJsonLine(const buslog_reader::LogLine& line, const buslog_reader::LogContext& context,
                   uint32_t logNumber, Output* output, JsonTotals* t);
void PrintJsonSummary(const JsonTotals& t, uint64_t lines, bool outputFailed);

}  // namespace buslog_host
