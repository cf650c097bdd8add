// buslog-host convert: the command line, the log read line by line, each
// line to the chosen writer, the summary.
#include <cstdlib>
#include <cstring>

#include "candump.h"
#include "command_line.h"
#include "log_reader.h"
#include "platform/message.h"
#include "tools/convert.h"
#include "tools/log_tools.h"

namespace buslog_host {
namespace {

using buslog_reader::CanType;
using buslog_reader::LineForm;
using buslog_reader::LogLine;
using buslog_reader::LogReader;
using buslog_reader::LogRecord;
using buslog_reader::RecordType;
using buslog_reader::Text;

typedef unsigned long long Count;

}  // namespace

int RunConvert(int argc, char** argv) {
  static ConvertOptions options;
  ParseResult parsed = ParseConvertOptions(argc, argv, &options);
  if (parsed != ParseResult::kRun) return parsed == ParseResult::kHelp ? 0 : 2;
  bool candump = strcmp(options.to, "candump") == 0;

  FILE* input = OpenLogForReading(options.log);
  if (input == nullptr) return 1;
  FILE* outputFile = OpenOutput(options.output, options.overwrite, input, options.log);
  if (outputFile == nullptr) {
    fclose(input);
    return 1;
  }
  LogReader reader;
  if (!buslog_reader::OpenLogReader(&reader, input)) {
    Message("buslog-host: out of memory\n");
    fclose(input);
    return 1;
  }
  static Output output;
  BeginOutput(&output, outputFile);
  static LogLine line;
  static CandumpTotals candumpTotals;
  static JsonTotals jsonTotals;
  candumpTotals = CandumpTotals{};
  jsonTotals = JsonTotals{};
  uint64_t lines = 0;
  while (buslog_reader::NextLogLine(&reader, &line)) {
    ++lines;
    if (!candump) {
      WriteJsonLine(line, &output, &jsonTotals);
    } else if (line.form == LineForm::kRecord && line.record.type == RecordType::kCan) {
      WriteCandumpLine(line, options, &output, &candumpTotals);
    } else {
      CountOther(line, &candumpTotals);
    }
  }
  bool readError = reader.readError;
  buslog_reader::CloseLogReader(&reader);
  fclose(input);
  FlushOutput(&output);
  bool writeError = output.failed || fflush(outputFile) != 0;
  if (outputFile != stdout && fclose(outputFile) != 0) writeError = true;

  Message("buslog-host: convert of %s to %s\n  lines read      %llu\n", options.log, options.to,
          static_cast<Count>(lines));
  if (candump) {
    PrintCandumpSummary(candumpTotals);
  } else {
    PrintJsonSummary(jsonTotals, lines);
  }
  if (options.output != nullptr) Message("  output          %s\n", options.output);
  if (readError) Message("buslog-host: %s: read error; the output stops there\n", options.log);
  if (writeError) {
    Message("buslog-host: %s: write error\n", options.output ? options.output : "standard output");
  }
  return readError || writeError ? 1 : 0;
}

}  // namespace buslog_host

