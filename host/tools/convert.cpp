// buslog-host convert: the command line, the log read line by line, each
// line to the chosen writer, the summary.
#include <cstdlib>
#include <cstring>

#include "candump.h"
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

const char kConvertUsage[] =
    "usage: buslog-host convert LOG --to candump|jsonl [options]\n"
    "  --to candump        the CAN records as candump log lines, e.g.\n"
    "                      (0000000001.234567) can0 123#DEADBEEF\n"
    "  --to jsonl          every line as one JSON object (JSON Lines)\n"
    "  --output PATH       write there (default: standard output)\n"
    "  --overwrite         replace PATH if it exists\n"
    "  --start SECONDS     candump: add this to every time (default 0), e.g. the\n"
    "                      trace's first time stamp 1700000000.000000\n"
    "  --interfaces A,B    candump: names of channels 1, 2, ... (default can0, can1, ...)\n"
    "  --direction         candump: mark kind O frames T (sent) and kind I frames R\n"
    "A summary goes to standard error.\n";

// "SECONDS" or "SECONDS.FRACTION" with at most six fractional digits.
bool ParseStart(const char* text, uint64_t* seconds, uint32_t* micros) {
  const char* p = text;
  uint64_t whole = 0;
  int digits = 0;
  for (; *p >= '0' && *p <= '9'; ++p, ++digits) {
    if (digits == 19) return false;
    whole = whole * 10 + static_cast<uint64_t>(*p - '0');
  }
  uint32_t fraction = 0;
  int fractionDigits = 0;
  if (*p == '.') {
    for (++p; *p >= '0' && *p <= '9'; ++p, ++fractionDigits) {
      if (fractionDigits == 6) return false;
      fraction = fraction * 10 + static_cast<uint32_t>(*p - '0');
    }
  }
  if (*p != '\0' || digits + fractionDigits == 0) return false;
  for (int i = fractionDigits; i < 6; ++i) fraction *= 10;
  *seconds = whole;
  *micros = fraction;
  return true;
}

bool ParseInterfaces(char* list, ConvertOptions* options) {
  options->interfaceCount = 0;
  const char* p = list;
  for (;;) {
    const char* comma = strchr(p, ',');
    size_t length = comma != nullptr ? static_cast<size_t>(comma - p) : strlen(p);
    if (length == 0 || length > kMaxInterfaceName || options->interfaceCount == kMaxInterfaces) return false;
    for (size_t i = 0; i < length; ++i) {
      if (p[i] <= ' ' || p[i] == '#' || p[i] > '~') return false;
    }
    options->interfaces[options->interfaceCount++] = Text{p, length};
    if (comma == nullptr) return true;
    p = comma + 1;
  }
}

int UsageError(const char* message, const char* detail) {
  Message("buslog-host convert: %s%s\n%s", message, detail, kConvertUsage);
  return 2;
}

int ParseConvertOptions(int argc, char** argv, ConvertOptions* options) {
  *options = ConvertOptions{};
  bool interfacesGiven = false;
  for (int i = 2; i < argc; ++i) {
    const char* arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
      fputs(kConvertUsage, stdout);
      return 0;
    } else if (strcmp(arg, "--to") == 0 && hasValue) {
      options->to = argv[++i];
    } else if (strcmp(arg, "--output") == 0 && hasValue) {
      options->output = argv[++i];
    } else if (strcmp(arg, "--overwrite") == 0) {
      options->overwrite = true;
    } else if (strcmp(arg, "--direction") == 0) {
      options->direction = true;
    } else if (strcmp(arg, "--start") == 0 && hasValue) {
      ++i;
      if (!ParseStart(argv[i], &options->startSeconds, &options->startMicros)) {
        return UsageError("--start needs seconds such as 1700000000.250000, not ", argv[i]);
      }
      options->haveStart = true;
    } else if (strcmp(arg, "--interfaces") == 0 && hasValue) {
      ++i;
      if (!ParseInterfaces(argv[i], options)) {
        return UsageError("--interfaces needs names such as can0,vcan1 (at most 64 characters, no blanks): ",
                          argv[i]);
      }
      interfacesGiven = true;
    } else if (arg[0] == '-' && arg[1] != '\0') {
      bool known = strcmp(arg, "--to") == 0 || strcmp(arg, "--output") == 0 || strcmp(arg, "--start") == 0 ||
                   strcmp(arg, "--interfaces") == 0;
      return UsageError(known ? "this option needs a value: " : "unknown option ", arg);
    } else if (options->log == nullptr) {
      options->log = arg;
    } else {
      return UsageError("unexpected argument ", arg);
    }
  }
  if (options->log == nullptr) return UsageError("no LOG given", "");
  if (options->to == nullptr) return UsageError("give --to candump or --to jsonl", "");
  if (strcmp(options->to, "candump") != 0 && strcmp(options->to, "jsonl") != 0) {
    return UsageError("--to must be candump or jsonl, not ", options->to);
  }
  if (strcmp(options->to, "jsonl") == 0 && (options->haveStart || interfacesGiven || options->direction)) {
    return UsageError("--start, --interfaces and --direction belong to --to candump", "");
  }
  return -1;
}

typedef unsigned long long Count;

}  // namespace

int RunConvert(int argc, char** argv) {
  static ConvertOptions options;
  int status = ParseConvertOptions(argc, argv, &options);
  if (status >= 0) return status;
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

