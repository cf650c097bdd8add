// buslog-host convert: a log's CAN records as a candump log
// (to_candump.cpp), or every line of a log as one JSON object, JSON Lines
// (to_jsonl.cpp). convert.cpp reads the command line and the log.
#pragma once

#include <cstddef>
#include <cstdint>

#include "log_reader.h"
#include "logger/channels.h"
#include "command_line.h"
#include "tools/log_tools.h"

namespace buslog_host {

// ---- candump

struct CandumpTotals {
  uint64_t data, remote, fd, error;
  // Records candump cannot show.
  uint64_t lin, cxpi, port, env, marker, generic;
  // Lines skipped and why.
  uint64_t empty, errorOnly, text, incomplete, noTime, badChannel, noInterface, tooManyBytes, remoteAbove8,
      errorClassTooWide;
  uint64_t lengthDiffers;  // written with the data's length
  uint64_t timeMayBeCut;   // written with the 8 whole digits the log kept
};

// Writes one CAN record as a candump line, or counts why it cannot.
void WriteCandumpLine(const buslog_reader::LogLine& line, const ConvertOptions& options, Output* output,
                      CandumpTotals* t);
// Counts a line that is no CAN record by what it is.
void CountOther(const buslog_reader::LogLine& line, CandumpTotals* t);
void PrintCandumpSummary(const CandumpTotals& t);

// ---- JSON Lines

struct JsonTotals {
  uint64_t records[8];  // by RecordType
  uint64_t empty, errorOnly, text, cut;
};

void WriteJsonLine(const buslog_reader::LogLine& line, Output* output, JsonTotals* t);
void PrintJsonSummary(const JsonTotals& t, uint64_t lines);

}  // namespace buslog_host
