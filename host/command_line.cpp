// Parsing buslog-host's command lines: the logger's and the script's
// options, convert's and stats'.
#include "command_line.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "platform/message.h"

namespace buslog_host {
namespace {

const char kUsage[] =
    "usage: buslog-host replay TRACE [options]   log a candump trace through the module; TRACE - is\n"
    "                                            standard input (a pipe, FIFO or terminal: live)\n"
    "       buslog-host record [options]         the same as replay -: candump -L can0 | buslog-host record\n"
    "       buslog-host run SCRIPT [options]     run a call script (one export call a line)\n"
    "       buslog-host demo [options]           replay and run the bundled samples, show the logs\n"
    "       buslog-host convert LOG --to candump|jsonl [...]   a log as candump or JSON Lines\n"
    "       buslog-host stats LOG [--csv]        frames, periods and gaps per channel and identifier\n"
    "                                            (convert --help and stats --help say more)\n"
    "       buslog-host --help                   this text\n"
    "options:\n"
    "  --output PATH       the log file, relative to the current directory (default:\n"
    "                      buslog-YYYY-MM-DD_HHMMSS.csv in the current directory)\n"
    "  --name FILE         the log file, relative to the module's folder instead\n"
    "  --overwrite         replace an existing log file (never the input)\n"
    "  --rotate-size SIZE  go on in a new log file once one has SIZE bytes (500k, 10M, 2G)\n"
    "  --rotate-seconds S  go on in a new log file before a frame S seconds after its first\n"
    "  --queue FRAMES      lines of live input held in memory while the log catches up\n"
    "                      (default 1000000)\n"
    "  --module PATH       the module to load (default: the one beside this program)\n"
    "  --share             call ShareMode with 1 before the log is opened\n"
    "  --strict            stop at the first malformed line, with exit status 1\n"
    "  --progress          a progress line each second even when standard error is not a terminal\n"
    "  --quiet             no progress line\n"
    "  --no-markers        frames only: no marker lines (start time, writer, interfaces)\n"
    "  --report-every N    say \"written N\" on standard error each N lines the module\n"
    "                      wrote (for crash tests)\n"
    "  --sync-every-frame  one Write, and so one sync, a frame; by default the frames at\n"
    "                      hand go out together (up to about 60 a Write)\n"
    "exit status: 0 done (also after a first SIGINT, SIGTERM or SIGHUP), 1 an error or a second\n"
    "stop request, 2 a wrong command line\n";

// Options that take a value.
const char* const kValued[] = {"--module", "--name", "--output", "--rotate-size", "--rotate-seconds",
                               "--queue", "--report-every"};

bool TakesValue(const char* arg) {
  for (const char* name : kValued) {
    if (strcmp(arg, name) == 0) return true;
  }
  return false;
}

bool ParseCount(const char* text, uint64_t* value) {
  if (text[0] < '0' || text[0] > '9') return false;
  char* end;
  unsigned long long parsed = strtoull(text, &end, 10);
  if (*end != '\0') return false;
  *value = parsed;
  return true;
}


const char kConvertUsage[] =
    "usage: buslog-host convert LOG... --to candump|jsonl [options]\n"
    "  LOG...              one or more logs, read in order as one; - is standard input\n"
    "  --to candump        the CAN records as candump log lines, e.g.\n"
    "                      (0000000001.234567) can0 123#DEADBEEF\n"
    "  --to jsonl          every line as one JSON object (JSON Lines)\n"
    "  --output PATH       write there (default: standard output)\n"
    "  --overwrite         replace PATH if it exists\n"
    "  --start SECONDS     candump: add this to every time instead of the log's start\n"
    "                      marker (without either: 0), e.g. 1700000000.000000\n"
    "  --interfaces A,B    candump: names of channels 1, 2, ... instead of the log's\n"
    "                      channel markers (without either: can0, can1, ...)\n"
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
    options->interfaces[options->interfaceCount++] = InterfaceName{p, length};
    if (comma == nullptr) return true;
    p = comma + 1;
  }
}

ParseResult ConvertUsageError(const char* message, const char* detail) {
  Message("buslog-host convert: %s%s\n%s", message, detail, kConvertUsage);
  return ParseResult::kWrong;
}

const char kStatsUsage[] =
    "usage: buslog-host stats LOG... [--csv]\n"
    "  lines, records by kind and bus, what the log's markers say (start, writer,\n"
    "  interfaces), for each CAN channel and identifier: frames, first and last\n"
    "  time, mean period, longest gap; error frames by channel and error class.\n"
    "  LOG... are read in order as one; - is standard input.\n"
    "  --csv   one CSV table instead of the readable one\n";

}  // namespace

bool ParseSize(const char* text, uint64_t* bytes) {
  if (!isdigit(static_cast<unsigned char>(text[0]))) return false;
  char* end;
  unsigned long long value = strtoull(text, &end, 10);
  uint64_t unit = 1;
  if (*end == 'k' || *end == 'K') {
    unit = 1024;
    ++end;
  } else if (*end == 'M') {
    unit = 1024 * 1024;
    ++end;
  } else if (*end == 'G') {
    unit = 1024ull * 1024 * 1024;
    ++end;
  }
  if (*end == 'B' || *end == 'b') ++end;
  if (*end != '\0' || value == 0 || value > UINT64_MAX / unit) return false;
  *bytes = value * unit;
  return true;
}

void PrintUsage(FILE* out) { fputs(kUsage, out); }

void UsageError(const char* format, const char* what) {
  char problem[512];
  snprintf(problem, sizeof problem, format, what);
  Message("buslog-host: %s\n%s", problem, kUsage);
}

ParseResult ParseOptions(int argc, char** argv, Options* options) {
  *options = Options{};
  options->queueFrames = 1000000;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
      PrintUsage(stdout);
      return ParseResult::kHelp;
    }
    if (TakesValue(arg)) {
      if (i + 1 >= argc) {
        UsageError("option %s needs a value", arg);
        return ParseResult::kWrong;
      }
      const char* value = argv[++i];
      bool good = true;
      if (strcmp(arg, "--module") == 0) {
        snprintf(options->module, sizeof options->module, "%s", value);
      } else if (strcmp(arg, "--name") == 0) {
        options->name = value;
      } else if (strcmp(arg, "--output") == 0) {
        options->output = value;
      } else if (strcmp(arg, "--rotate-size") == 0) {
        good = ParseSize(value, &options->rotateBytes);
      } else if (strcmp(arg, "--rotate-seconds") == 0) {
        char* end;
        options->rotateSeconds = strtod(value, &end);
        good = *end == '\0' && value[0] != '\0' && options->rotateSeconds > 0 && options->rotateSeconds < 1e12;
      } else if (strcmp(arg, "--queue") == 0) {
        good = ParseCount(value, &options->queueFrames) && options->queueFrames > 0;
      } else if (strcmp(arg, "--report-every") == 0) {
        good = ParseCount(value, &options->reportEvery);
      }
      if (!good) {
        char what[256];
        snprintf(what, sizeof what, "%s %s", arg, value);
        UsageError("%s: not a value this option takes", what);
        return ParseResult::kWrong;
      }
    } else if (strcmp(arg, "--share") == 0) {
      options->share = true;
    } else if (strcmp(arg, "--strict") == 0) {
      options->strict = true;
    } else if (strcmp(arg, "--quiet") == 0) {
      options->quiet = true;
    } else if (strcmp(arg, "--progress") == 0) {
      options->progress = true;
    } else if (strcmp(arg, "--sync-every-frame") == 0) {
      options->syncEveryFrame = true;
    } else if (strcmp(arg, "--overwrite") == 0) {
      options->overwrite = true;
    } else if (strcmp(arg, "--no-markers") == 0) {
      options->noMarkers = true;
    } else if (arg[0] == '-' && arg[1] != '\0') {
      UsageError("unknown option %s", arg);
      return ParseResult::kWrong;
    } else if (options->command == nullptr) {
      options->command = arg;
    } else if (options->input == nullptr) {
      options->input = arg;
    } else {
      UsageError("unexpected argument %s", arg);
      return ParseResult::kWrong;
    }
  }
  if (options->command == nullptr) {
    UsageError("%s", "no command given");
    return ParseResult::kWrong;
  }
  if (options->name != nullptr && options->output != nullptr) {
    UsageError("%s", "--name and --output both name the log; give one");
    return ParseResult::kWrong;
  }
  return ParseResult::kRun;
}

ParseResult ParseConvertOptions(int argc, char** argv, ConvertOptions* options) {
  *options = ConvertOptions{};
  bool interfacesGiven = false;
  for (int i = 2; i < argc; ++i) {
    const char* arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
      fputs(kConvertUsage, stdout);
      return ParseResult::kHelp;
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
        return ConvertUsageError("--start needs seconds such as 1700000000.250000, not ", argv[i]);
      }
      options->haveStart = true;
    } else if (strcmp(arg, "--interfaces") == 0 && hasValue) {
      ++i;
      if (!ParseInterfaces(argv[i], options)) {
        return ConvertUsageError("--interfaces needs names such as can0,vcan1 (at most 64 characters, no blanks): ",
                          argv[i]);
      }
      interfacesGiven = true;
    } else if (arg[0] == '-' && arg[1] != '\0') {
      bool known = strcmp(arg, "--to") == 0 || strcmp(arg, "--output") == 0 || strcmp(arg, "--start") == 0 ||
                   strcmp(arg, "--interfaces") == 0;
      return ConvertUsageError(known ? "this option needs a value: " : "unknown option ", arg);
    } else {
      options->logs.push_back(arg);
    }
  }
  if (options->logs.empty()) return ConvertUsageError("no LOG given", "");
  if (options->to == nullptr) return ConvertUsageError("give --to candump or --to jsonl", "");
  if (strcmp(options->to, "candump") != 0 && strcmp(options->to, "jsonl") != 0) {
    return ConvertUsageError("--to must be candump or jsonl, not ", options->to);
  }
  if (strcmp(options->to, "jsonl") == 0 && (options->haveStart || interfacesGiven || options->direction)) {
    return ConvertUsageError("--start, --interfaces and --direction belong to --to candump", "");
  }
  return ParseResult::kRun;
}


ParseResult ParseStatsOptions(int argc, char** argv, StatsOptions* options) {
  *options = StatsOptions{};
  for (int i = 2; i < argc; ++i) {
    if (strcmp(argv[i], "--csv") == 0) {
      options->csv = true;
    } else if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
      fputs(kStatsUsage, stdout);
      return ParseResult::kHelp;
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      Message("buslog-host stats: unknown option %s\n%s", argv[i], kStatsUsage);
      return ParseResult::kWrong;
    } else {
      options->logs.push_back(argv[i]);
    }
  }
  if (options->logs.empty()) {
    Message("buslog-host stats: no LOG given\n%s", kStatsUsage);
    return ParseResult::kWrong;
  }
  return ParseResult::kRun;
}

}  // namespace buslog_host
