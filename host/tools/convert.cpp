// buslog-host convert: the command line, the log read line by line, each
// line to the chosen writer, the summary.
#include <cstdlib>
#include <cstring>

#include "candump.h"
#include "command_line.h"
#include "log_reader.h"
#include "platform/message.h"
#include "platform/system.h"
#include "tools/convert.h"
#include "tools/log_inputs.h"
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

  // Every input, then the output, before anything is written.
  static LogInputs inputs;
  if (!OpenLogInputs(options.logs, &inputs)) return 1;
  if (!CheckOutput(options.output, options.overwrite, inputs.files, options.logs)) {
    CloseLogInputs(&inputs);
    return 1;
  }
  static Output output;
  BeginOutput(&output, options.output, options.overwrite);
  static LogLine line;
  static CandumpTotals candumpTotals;
  static JsonTotals jsonTotals;
  candumpTotals = CandumpTotals{};
  jsonTotals = JsonTotals{};
  uint64_t lines = 0;
  bool several = options.logs.size() > 1;
  while (NextInputLine(&inputs, &line)) {
    ++lines;
    // A stream's output is held back until it shows a log line.
    bool awaiting = AwaitingLogLine(inputs);
    if (awaiting != output.holding) {
      if (awaiting) {
        output.holding = true;
      } else {
        ReleaseOutput(&output);
      }
    }
    if (output.holding && output.held.size() > kMaxHeldOutput) {
      Message("buslog-host: %s: no log line in its first %llu lines; taken for no log\n", CurrentInputName(inputs),
              static_cast<Count>(inputs.reader.context.lines));
      inputs.noLog = true;
      break;
    }
    const buslog_reader::LogContext& context = inputs.reader.context;
    if (!candump) {
      WriteJsonLine(line, context, several ? static_cast<uint32_t>(inputs.current + 1) : 0, &output, &jsonTotals);
    } else if (line.form == LineForm::kRecord && line.record.type == RecordType::kCan) {
      WriteCandumpLine(line, context, options, &output, &candumpTotals);
    } else {
      CountOther(line, &candumpTotals);
    }
  }
  CloseLogInputs(&inputs);
  if (inputs.noLog) {
    // Nothing of a run that met no log stays behind.
    DiscardOutput(&output);
    return 1;
  }
  bool written = FinishOutput(&output);
  // The reason first: the counts below are of what was read, not written.
  SayOutputFailure(output);

  Message("buslog-host: convert of %s%s to %s\n  lines read      %llu\n", options.logs[0],
          several ? " and the logs after it" : "", options.to, static_cast<Count>(lines));
  if (candump) {
    PrintCandumpSummary(candumpTotals, !written);
  } else {
    PrintJsonSummary(jsonTotals, lines, !written);
  }
  if (options.output != nullptr) Message("  output          %s\n", options.output);
  return inputs.readError || !written ? 1 : 0;
}

}  // namespace buslog_host

