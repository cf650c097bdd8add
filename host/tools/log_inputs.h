// The logs convert and stats read: one or more files, and "-" for standard
// input, read in order as one. Every input is looked at before any output is
// made: a folder, a file that cannot be opened, and a file that has lines but
// no log line (a candump trace, say: reader/log_reader.h, rule 13) are each
// refused with one line naming the file, and nothing is written. Standard
// input (and a FIFO), which cannot be looked at ahead, is told to be no log
// when it ends; the tools hold their output back until its first log line.
//
// What a file's buslog markers say (start, writer, interfaces) holds for that
// file: the reader's context begins afresh with each file, and each file's
// is kept in `files` when the reading passes it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "log_reader.h"

namespace buslog_host {

// What one input held, kept when the reading leaves it.
struct InputSummary {
  std::string name;        // the path, or "standard input"
  uint64_t lines;
  uint64_t logLines;
  uint32_t timeBases;      // buslog start markers
  bool haveStart;          // the first start marker's time could be read
  bool relative;           // it is on the source's own clock, not a date
  uint64_t startSeconds;   // the first start marker's time
  uint32_t startMicros;
  std::vector<std::string> records;  // its loss records and drop reports, as they say them
  std::string writer;
  std::vector<std::pair<int32_t, std::string>> names;
};

struct LogInputs {
  std::vector<const char*> paths;
  std::vector<FILE*> files;
  std::vector<bool> streams;   // read as it comes: checked only at its end
  size_t current;              // the input being read
  bool reading;                // `reader` holds files[current]
  buslog_reader::LogReader reader;
  bool firstStart;             // the current input's first start marker is taken
  InputSummary summary;        // of the current input
  std::vector<InputSummary> done;
  bool readError;              // reading an input failed: the reading stopped there
  bool noLog;                  // a stream input ended without a log line
};

// Opens and checks every input in order. False after saying why.
bool OpenLogInputs(const std::vector<const char*>& paths, LogInputs* inputs);
void CloseLogInputs(LogInputs* inputs);

// The next line of the inputs read as one, also taken into
// inputs->reader.context. False at the end of the last input, after a read
// error (readError) or when a stream input ended as no log (noLog); in
// either case the error was said.
bool NextInputLine(LogInputs* inputs, buslog_reader::LogLine* line);

// The input being read, as messages name it.
const char* CurrentInputName(const LogInputs& inputs);
// True while a stream input has given no log line yet: the tools hold their
// output back.
bool AwaitingLogLine(const LogInputs& inputs);

}  // namespace buslog_host
