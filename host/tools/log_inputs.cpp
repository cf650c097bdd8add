// Reading the tools' inputs in order as one.
#include "tools/log_inputs.h"

#include <cerrno>
#include <cstring>

#include "platform/message.h"
#include "platform/system.h"

namespace buslog_host {
namespace {

using buslog_reader::LogLine;
using buslog_reader::LogReader;

const char* NameOf(const char* path) { return strcmp(path, "-") == 0 ? "standard input" : path; }

// Reads a file up to its first log line and back to its start: false when
// it has lines but none (the error said).
bool CheckIsLog(const char* path, FILE* file) {
  LogReader reader;
  if (!buslog_reader::OpenLogReader(&reader, file)) {
    Message("buslog-host: out of memory\n");
    return false;
  }
  static LogLine line;
  bool ok = true;
  while (buslog_reader::NextLogLine(&reader, &line)) {
    if (line.logLine) break;
  }
  if (reader.readError) {
    Message("buslog-host: %s: read error\n", path);
    ok = false;
  } else if (reader.context.NoLog()) {
    Message("buslog-host: %s: no log: none of its %llu lines is a log line (a candump trace goes to replay)\n", path,
            static_cast<unsigned long long>(reader.context.lines));
    ok = false;
  }
  buslog_reader::CloseLogReader(&reader);
  if (ok && fseek(file, 0, SEEK_SET) != 0) {
    Message("buslog-host: %s: cannot read it again from its start: %s\n", path, strerror(errno));
    ok = false;
  }
  clearerr(file);
  return ok;
}

void BeginSummary(LogInputs* inputs) {
  inputs->summary = InputSummary{};
  inputs->summary.name = NameOf(inputs->paths[inputs->current]);
  inputs->firstStart = false;
}

// Keeps what the input held, and says so when a stream was no log.
bool EndInput(LogInputs* inputs) {
  const buslog_reader::LogContext& context = inputs->reader.context;
  InputSummary& summary = inputs->summary;
  summary.lines = context.lines;
  summary.logLines = context.logLines;
  summary.timeBases = context.timeBases;
  summary.writer = context.writer;
  summary.names = context.names;
  bool readError = inputs->reader.readError;
  bool noLog = !readError && inputs->streams[inputs->current] && context.NoLog();
  buslog_reader::CloseLogReader(&inputs->reader);
  inputs->reading = false;
  if (readError) {
    Message("buslog-host: %s: read error; the reading stops there\n", summary.name.c_str());
    inputs->readError = true;
  }
  if (noLog) {
    Message("buslog-host: %s: no log: none of its %llu lines is a log line (a candump trace goes to replay)\n",
            summary.name.c_str(), static_cast<unsigned long long>(context.lines));
    inputs->noLog = true;
  }
  inputs->done.push_back(summary);
  return !readError && !noLog;
}

}  // namespace

// What a buslog marker tells the summary: the first start, the records.
void TakeMarker(LogInputs* inputs, const LogLine& line) {
  using buslog_reader::BuslogMarker;
  InputSummary& summary = inputs->summary;
  switch (line.marker) {
    case BuslogMarker::kStart:
    case BuslogMarker::kStartRelative:
      if (inputs->firstStart) break;
      inputs->firstStart = true;
      summary.haveStart = true;
      summary.relative = line.marker == BuslogMarker::kStartRelative;
      summary.startSeconds = line.startSeconds;
      summary.startMicros = line.startMicros;
      break;
    case BuslogMarker::kStartUnread: inputs->firstStart = true; break;
    case BuslogMarker::kLost:
    case BuslogMarker::kGone:
    case BuslogMarker::kRemoved:
    case BuslogMarker::kDropped:
    case BuslogMarker::kClamped:
      // "lost 312-548 No space left on device": the marker's text after "buslog ".
      summary.records.emplace_back(line.record.text.text + 7, line.record.text.length - 7);
      break;
    default: break;
  }
}

bool OpenLogInputs(const std::vector<const char*>& paths, LogInputs* inputs) {
  inputs->paths = paths;
  inputs->files.clear();
  inputs->streams.clear();
  inputs->current = 0;
  inputs->reading = false;
  inputs->done.clear();
  inputs->readError = false;
  inputs->noLog = false;
  size_t standardInputs = 0;
  for (const char* path : paths) {
    if (strcmp(path, "-") == 0 && ++standardInputs > 1) {
      Message("buslog-host: standard input (-) can be given once\n");
      CloseLogInputs(inputs);
      return false;
    }
  }
  for (const char* path : paths) {
    FILE* file;
    if (strcmp(path, "-") == 0) {
      SetBinaryMode(stdin);
      file = stdin;
    } else {
      if (StateOfPath(path) == PathState::kFolder) {
        Message("buslog-host: %s: is a folder, not a log\n", path);
        CloseLogInputs(inputs);
        return false;
      }
      file = fopen(path, "rb");
      if (file == nullptr) {
        Message("buslog-host: %s: %s\n", path, strerror(errno));
        CloseLogInputs(inputs);
        return false;
      }
    }
    inputs->files.push_back(file);
    // What can be read again from its start is looked at now; a stream only
    // as it comes.
    bool stream = file == stdin || fseek(file, 0, SEEK_SET) != 0;
    inputs->streams.push_back(stream);
    if (!stream && !CheckIsLog(path, file)) {
      CloseLogInputs(inputs);
      return false;
    }
  }
  return true;
}

void CloseLogInputs(LogInputs* inputs) {
  if (inputs->reading) buslog_reader::CloseLogReader(&inputs->reader);
  inputs->reading = false;
  for (FILE* file : inputs->files) {
    if (file != stdin) fclose(file);
  }
  inputs->files.clear();
}

bool NextInputLine(LogInputs* inputs, LogLine* line) {
  for (;;) {
    if (inputs->current >= inputs->files.size()) return false;
    if (!inputs->reading) {
      if (!buslog_reader::OpenLogReader(&inputs->reader, inputs->files[inputs->current])) {
        Message("buslog-host: out of memory\n");
        inputs->readError = true;
        return false;
      }
      inputs->reading = true;
      BeginSummary(inputs);
    }
    if (buslog_reader::NextLogLine(&inputs->reader, line)) {
      TakeMarker(inputs, *line);
      return true;
    }
    if (!EndInput(inputs)) return false;
    ++inputs->current;
  }
}

const char* CurrentInputName(const LogInputs& inputs) {
  return inputs.current < inputs.paths.size() ? NameOf(inputs.paths[inputs.current]) : "";
}

bool AwaitingLogLine(const LogInputs& inputs) {
  return inputs.reading && inputs.streams[inputs.current] && inputs.reader.context.logLines == 0;
}

}  // namespace buslog_host
