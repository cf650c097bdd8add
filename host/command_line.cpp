// Parsing buslog-host's command lines: the logger's and the script's
// options, convert's and stats'.
#include "command_line.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "platform/message.h"

namespace buslog_host {
namespace {

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
  Message("buslog-host convert: %s%s\nsee buslog-host convert --help\n", message, detail);
  return ParseResult::kWrong;
}

const char kStatsUsage[] =
    "usage: buslog-host stats LOG... [--csv]\n"
    "  lines, records by kind and bus, what the log's markers say (start, writer,\n"
    "  interfaces), for each CAN channel and identifier: frames, first and last\n"
    "  time, mean period, longest gap; error frames by channel and error class.\n"
    "  LOG... are read in order as one; - is standard input.\n"
    "  --csv   one CSV table instead of the readable one\n";

const char kVerifyUsage[] =
    "usage: buslog-host verify LOG... [--csv|--json]\n"
    "  accounts for every frame of a run: LOG... are its files, in any order, or\n"
    "  folders of them. Says the frames present, each gap in the frame numbers\n"
    "  with what explains it (a loss record, a log gone, the ring's removal),\n"
    "  the kernel's drops, and anything unexplained (a gap without a record, a\n"
    "  cut line, a frame number twice).\n"
    "  exit status: 0 nothing lost, 1 frames lost and every loss explained,\n"
    "  3 anything unexplained, 2 a wrong command line\n"
    "  --csv    one CSV table\n"
    "  --json   one JSON object\n";

}  // namespace

namespace {

// The options of replay, record, run and demo: name, value, help lines.
struct OptionInfo {
  const char* name;
  uint32_t bit;
  const char* label;  // the value's name in the usage ("PATH"), or null: none
  const char* value;  // what the value is, for "needs a value"
  const char* help;   // the usage's text; lines after the first begin with 22 blanks
};

const OptionInfo kOptionTable[] = {
    {"--output", kOptionOutput, "PATH", "the log file's path",
     "the log file, relative to the current directory (default:\n"
     "                      buslog-YYYY-MM-DD_HHMMSS.buslog in the current directory)\n"},
    {"--name", kOptionName, "FILE", "the log file's name", "the log file, relative to the module's folder instead\n"},
    {"--overwrite", kOptionOverwrite, nullptr, nullptr, "replace an existing log file (never the input)\n"},
    {"--rotate-size", kOptionRotateSize, "SIZE", "a size such as 500k, 10M or 2G",
     "go on in a new log file once one has SIZE bytes: 500k, 1.5M, 10MB,\n"
     "                      2GiB (k, M, G are powers of 1024; under 4k warns)\n"},
    {"--rotate-seconds", kOptionRotateSeconds, "S", "seconds such as 3600",
     "go on in a new log file before a frame S seconds after its first\n"},
    {"--max-files", kOptionMaxFiles, "N", "a number of files from 2 up, such as 24",
     "with rotation: a ring of at most N files of this run; the oldest go\n"},
    {"--max-total", kOptionMaxTotal, "SIZE", "a size such as 1G",
     "with --rotate-size: a ring of at most SIZE bytes of this run's files\n"
     "                      (a full disk also costs the ring its oldest file)\n"},
    {"--queue", kOptionQueue, "FRAMES", "a number of lines such as 1000000",
     "lines of live input held in memory while the log catches up\n"
     "                      (default 1000000)\n"},
    {"--module", kOptionModule, "PATH", "the module's path",
     "the module to load, relative to the current directory (default:\n"
     "                      the one beside this program, else in ../lib/ of it)\n"},
    {"--share", kOptionShare, nullptr, nullptr, "call ShareMode with 1 before the log is opened\n"},
    {"--strict", kOptionStrict, nullptr, nullptr, "stop at the first malformed line, with exit status 1\n"},
    {"--progress", kOptionProgress, nullptr, nullptr,
     "a progress line each second even when standard error is not a terminal\n"},
    {"--quiet", kOptionQuiet, nullptr, nullptr, "errors only: no progress line, no summary\n"},
    {"--report-every", kOptionReportEvery, "N", "a number of lines such as 100",
     "say \"written N\" on standard error each N lines the module\n"
     "                      wrote (for crash tests)\n"},
    {"--sync-every-frame", kOptionSyncEveryFrame, nullptr, nullptr,
     "one Write, and so one sync, a frame; by default the frames at\n"
     "                      hand go out together (up to about 60 a Write)\n"},
    {"--no-markers", kOptionNoMarkers, nullptr, nullptr,
     "frames only: no marker lines (start time, writer, interfaces);\n"
     "                      one time base a file\n"},
    {"--time-base-per-file", kOptionTimeBasePerFile, nullptr, nullptr,
     "one time base a file, as the module's own time column counts:\n"
     "                      times then keep fewer digits after 10 s\n"},
    {"--filter", kOptionFilter, "F", "filters in candump's syntax, such as 123:7FF,400~7F0",
     "log only the frames candump's filters F keep: 123:7FF,400~7F0,\n"
     "                      #1FFFFFFF (error frames), j (all of them); can0,... one interface's\n"},
    {"--trigger", kOptionTrigger, "T", "trigger items, such as 7E0 or 7E0#0210/FFF0",
     "log only the windows around frames that fire T (see --pre, --post):\n"
     "                      7E0, 7E0#0210/FFF0 (data under a mask), '3E9#16|16@1+*0.01>100'\n"
     "                      (a signal: start|length@1 Intel/@0 Motorola, +/- sign, *factor,\n"
     "                      +offset, a comparison, a threshold; fires when it begins to hold)\n"},
    {"--start-trigger", kOptionStartTrigger, "T", "trigger items, such as 100#01/01",
     "begin logging at a frame that fires T (items as --trigger)\n"},
    {"--stop-trigger", kOptionStopTrigger, "T", "trigger items, such as 100#00/01",
     "end logging --post seconds after a frame that fires T\n"},
    {"--pre", kOptionPre, "S", "seconds from 0 up, such as 10 or 0.5",
     "with a trigger: log from S seconds before it (held in memory until it)\n"},
    {"--post", kOptionPost, "S", "seconds from 0 up, such as 10 or 0.5",
     "with a trigger: log until S seconds after it\n"},
    {"--pre-buffer", kOptionPreBuffer, "SIZE", "a size such as 64M",
     "memory for the frames before a trigger, 30 bytes a classic frame\n"
     "                      (default: 10,000 frames a second of --pre, at least 1M); a full\n"
     "                      one gives up its oldest frames, a loss if a window reaches them\n"},
};

const uint32_t kLoggerOptions = kOptionOutput | kOptionName | kOptionOverwrite | kOptionRotateSize |
                                kOptionRotateSeconds | kOptionQueue | kOptionModule | kOptionShare | kOptionStrict |
                                kOptionProgress | kOptionQuiet | kOptionReportEvery | kOptionMaxFiles |
                                kOptionMaxTotal | kOptionSyncEveryFrame | kOptionNoMarkers |
                                kOptionTimeBasePerFile | kOptionFilter | kOptionTrigger | kOptionStartTrigger |
                                kOptionStopTrigger | kOptionPre | kOptionPost | kOptionPreBuffer;

const CommandSpec kCommandSpecs[] = {
    {"replay", "replay TRACE [options]", "log a candump trace through the module (TRACE -: standard input)\n",
     "a candump trace (- for standard input)", "one candump trace", kLoggerOptions},
    {"record", "record [options]", "the same as replay -: candump -L can0 | buslog-host record\n", nullptr,
     "none: it reads standard input", kLoggerOptions},
    {"run", "run SCRIPT [options]", "run a call script, one export call a line\n",
     "a call script", "one call script", kOptionOverwrite | kOptionModule | kOptionShare | kOptionStrict | kOptionQuiet},
    {"demo", "demo [options]", "the bundled samples logged here, and shown\n",
     nullptr, "none", kOptionOverwrite | kOptionModule | kOptionShare | kOptionQuiet},
};

const char kCommandList[] = "the commands: replay, record, run, demo, convert, stats, verify, help";

const OptionInfo* FindOption(const char* name) {
  for (const OptionInfo& option : kOptionTable) {
    if (strcmp(option.name, name) == 0) return &option;
  }
  return nullptr;
}

// "--overwrite, --module, --share": the options in `bits`, in the usage's order.
void ListOptions(uint32_t bits, char* out, size_t size) {
  size_t used = 0;
  out[0] = '\0';
  for (const OptionInfo& option : kOptionTable) {
    if ((bits & option.bit) == 0) continue;
    int written = snprintf(out + used, size - used, "%s%s", used == 0 ? "" : ", ", option.name);
    if (written < 0 || static_cast<size_t>(written) >= size - used) return;
    used += static_cast<size_t>(written);
  }
}

void PrintOptions(FILE* out, uint32_t bits) {
  for (const OptionInfo& option : kOptionTable) {
    if ((bits & option.bit) == 0) continue;
    char named[64];
    snprintf(named, sizeof named, "%s%s%s", option.name, option.label != nullptr ? " " : "",
             option.label != nullptr ? option.label : "");
    fprintf(out, "  %-19s %s", named, option.help);
  }
}

// Seconds of a window: 0 or more, fractions allowed.
bool ParseWindowSeconds(const char* text, double* seconds) {
  char* end;
  *seconds = strtod(text, &end);
  return *end == '\0' && text[0] >= '0' && text[0] <= '9' && *seconds >= 0 && *seconds <= 1e6;
}

// A text the engine reads (a filter, trigger items): not empty.
const char* TakeText(const char* value, const char** into, const char* wanted) {
  *into = value;
  return value[0] == '\0' ? wanted : nullptr;
}

bool ParseCount(const char* text, uint64_t* value) {
  if (text[0] < '0' || text[0] > '9') return false;
  char* end;
  errno = 0;
  unsigned long long parsed = strtoull(text, &end, 10);
  if (*end != '\0' || errno == ERANGE) return false;
  *value = parsed;
  return true;
}

const char kSizeWanted[] =
    "give a size such as 500k, 1.5M, 10MB or 2GiB (k, M, G are powers of 1024, in any case; "
    "a number alone is bytes)";
static_assert(kLeastRotateSize == 4096, "the warning below says 4k");

// What a wrong value of `option` should have been, or null when `value`
// is good (and stored).
const char* TakeValue(const OptionInfo& option, const char* value, Options* options) {
  switch (option.bit) {
    case kOptionModule:
      snprintf(options->module, sizeof options->module, "%s", value);
      return value[0] == '\0' ? "give the module's path" : nullptr;
    case kOptionName:
      options->name = value;
      return value[0] == '\0' ? "give the log file's name" : nullptr;
    case kOptionOutput:
      options->output = value;
      return value[0] == '\0' ? "give the log file's path" : nullptr;
    case kOptionRotateSize:
      if (!ParseSize(value, &options->rotateBytes)) return kSizeWanted;
      // Taken, but said: the common result of a size meant in another
      // unit (100 for 100M).
      if (options->rotateBytes < kLeastRotateSize) {
        bool bare = strspn(value, "0123456789") == strlen(value);
        Message("buslog-host: warning: --rotate-size %s is under 4k: each file holds only a few frames (a CAN "
                "frame's line takes about 70 bytes, the longest line 4,098)%s%s%s\n", value,
                bare ? "; did you mean " : "", bare ? value : "", bare ? "M?" : "");
      }
      return nullptr;
    case kOptionRotateSeconds: {
      char* end;
      options->rotateSeconds = strtod(value, &end);
      bool good = *end == '\0' && value[0] != '\0' && options->rotateSeconds > 0 && options->rotateSeconds < 1e12;
      return good ? nullptr : "give seconds above 0, as 3600 or 0.5";
    }
    case kOptionQueue:
      return ParseCount(value, &options->queueFrames) && options->queueFrames > 0
                 ? nullptr
                 : "give a number of lines from 1 up, as 1000000 (the default)";
    case kOptionReportEvery:
      return ParseCount(value, &options->reportEvery) ? nullptr : "give a number of lines, as 100";
    case kOptionMaxFiles: {
      uint64_t count = 0;
      bool good = ParseCount(value, &count) && count >= 2 && count <= 1000000;
      options->maxFiles = static_cast<uint32_t>(count);
      return good ? nullptr : "give a number of files from 2 up, as 24";
    }
    case kOptionMaxTotal:
      return ParseSize(value, &options->maxTotal) ? nullptr : kSizeWanted;
    case kOptionFilter: return TakeText(value, &options->selection.filter, "give filters, as 123:7FF,400:700");
    case kOptionTrigger: return TakeText(value, &options->selection.trigger, "give trigger items, as 7E0");
    case kOptionStartTrigger: return TakeText(value, &options->selection.startTrigger, "give trigger items, as 100#01/01");
    case kOptionStopTrigger: return TakeText(value, &options->selection.stopTrigger, "give trigger items, as 100#00/01");
    case kOptionPre:
      return ParseWindowSeconds(value, &options->selection.preSeconds) ? nullptr : "give seconds from 0 to 1000000, as 10 or 0.5";
    case kOptionPost:
      return ParseWindowSeconds(value, &options->selection.postSeconds) ? nullptr : "give seconds from 0 to 1000000, as 10 or 0.5";
    case kOptionPreBuffer:
      return ParseSize(value, &options->selection.preBytes) ? nullptr : "give a size of 64k or more, as 64M";
    default:
      return nullptr;
  }
}

bool IsHelpFlag(const char* arg) { return strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0; }

// The filter and the triggers as the writer engine reads them: a wrong one
// is a wrong command line, said in the engine's words.
bool CheckSelection(const Options& options) {
  if ((options.given & kOptionPreBuffer) != 0 && options.selection.preSeconds <= 0) {
    CommandLineError("--pre-buffer needs --pre");
    return false;
  }
  BuslogWriterOptions writer;
  BuslogWriterDefaults(&writer);
  ApplySelection(options.selection, &writer);
  char why[1024];
  if (BuslogWriterCheckOptions(&writer, why, sizeof why) == BUSLOG_WRITER_OK) return true;
  CommandLineError("%s", why);
  return false;
}

}  // namespace

void ApplySelection(const SelectionOptions& selection, BuslogWriterOptions* writer) {
  writer->filter = selection.filter;
  writer->trigger = selection.trigger;
  writer->startTrigger = selection.startTrigger;
  writer->stopTrigger = selection.stopTrigger;
  writer->preSeconds = selection.preSeconds;
  writer->postSeconds = selection.postSeconds;
  if (selection.preBytes != 0) writer->preBytes = selection.preBytes;
}

const CommandSpec* FindCommandSpec(const char* name) {
  for (const CommandSpec& spec : kCommandSpecs) {
    if (strcmp(spec.name, name) == 0) return &spec;
  }
  return nullptr;
}

void CommandLineError(const char* format, ...) {
  char problem[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(problem, sizeof problem, format, args);
  va_end(args);
  Message("buslog-host: %s\nsee buslog-host --help\n", problem);
}

void UnknownCommand(const char* name) { CommandLineError("unknown command %s (%s)", name, kCommandList); }

void PrintUsage(FILE* out) {
  fputs("usage: buslog-host COMMAND [arguments] [options]\n", out);
  for (const CommandSpec& spec : kCommandSpecs) {
    fprintf(out, "  buslog-host %-34s%s", spec.synopsis, spec.about);
  }
  fputs(
      "  buslog-host convert LOG... --to candump|jsonl [options]\n"
      "                                                a log as candump lines or JSON Lines\n"
      "  buslog-host stats LOG... [--csv]              frames, periods and gaps per channel and identifier\n"
      "  buslog-host verify LOG... [--csv|--json]      is every frame of a run there, or its loss recorded?\n"
      "  buslog-host help [COMMAND]                    this text, or one command's with its options only\n"
      "                                                (also: buslog-host COMMAND --help)\n"
      "  buslog-host --version                         the version\n"
      "options (each command takes those its help lists):\n",
      out);
  PrintOptions(out, kLoggerOptions);
  fputs(
      "exit status: 0 done (also after a first SIGINT, SIGTERM or SIGHUP), 1 an error, a frame not\n"
      "logged, frames the kernel dropped (candump -d) or a second stop request, 2 a wrong command line\n",
      out);
}

void PrintCommandUsage(FILE* out, const CommandSpec& spec) {
  fprintf(out, "usage: buslog-host %s\n  %s", spec.synopsis, spec.about);
  fputs("options:\n", out);
  PrintOptions(out, spec.options);
}

ParseResult ParseOptions(int argc, char** argv, Options* options) {
  *options = Options{};
  options->queueFrames = 1000000;
  if (argc < 2) {
    CommandLineError("no command given (%s)", kCommandList);
    return ParseResult::kWrong;
  }
  options->command = argv[1];
  const CommandSpec* spec = FindCommandSpec(options->command);
  if (spec == nullptr) {
    UnknownCommand(options->command);
    return ParseResult::kWrong;
  }
  char accepted[512];
  ListOptions(spec->options, accepted, sizeof accepted);
  for (int i = 2; i < argc; ++i) {
    const char* arg = argv[i];
    if (IsHelpFlag(arg)) {
      PrintCommandUsage(stdout, *spec);
      return ParseResult::kHelp;
    }
    const OptionInfo* option = FindOption(arg);
    if (option == nullptr && arg[0] == '-' && arg[1] != '\0') {
      CommandLineError("unknown option %s (%s takes %s)", arg, spec->name, accepted);
      return ParseResult::kWrong;
    }
    if (option == nullptr) {
      if (spec->input != nullptr && options->input == nullptr) {
        options->input = arg;
        continue;
      }
      CommandLineError("unexpected argument %s (%s takes %s)", arg, spec->name, spec->arguments);
      return ParseResult::kWrong;
    }
    if ((spec->options & option->bit) == 0) {
      CommandLineError("%s does not take %s (%s takes %s)", spec->name, arg, spec->name, accepted);
      return ParseResult::kWrong;
    }
    options->given |= option->bit;
    if (option->label == nullptr) {
      switch (option->bit) {
        case kOptionOverwrite: options->overwrite = true; break;
        case kOptionShare: options->share = true; break;
        case kOptionStrict: options->strict = true; break;
        case kOptionProgress: options->progress = true; break;
        case kOptionQuiet: options->quiet = true; break;
        case kOptionSyncEveryFrame: options->syncEveryFrame = true; break;
        case kOptionNoMarkers: options->noMarkers = true; break;
        case kOptionTimeBasePerFile: options->timeBasePerFile = true; break;
        default: break;
      }
      continue;
    }
    if (i + 1 >= argc) {
      CommandLineError("%s needs a value: %s", arg, option->value);
      return ParseResult::kWrong;
    }
    const char* value = argv[++i];
    const char* wanted = TakeValue(*option, value, options);
    if (wanted != nullptr) {
      if (value[0] == '\0') {
        CommandLineError("%s is empty; %s", arg, wanted);
      } else {
        CommandLineError("%s %s: %s", arg, value, wanted);
      }
      return ParseResult::kWrong;
    }
  }
  if (spec->input != nullptr && options->input == nullptr) {
    CommandLineError("%s needs %s", spec->name, spec->input);
    return ParseResult::kWrong;
  }
  if (options->name != nullptr && options->output != nullptr) {
    CommandLineError("--name and --output both name the log; give one");
    return ParseResult::kWrong;
  }
  bool rotating = options->rotateBytes != 0 || options->rotateSeconds > 0;
  if (options->maxFiles != 0 && !rotating) {
    CommandLineError("--max-files needs --rotate-size or --rotate-seconds");
    return ParseResult::kWrong;
  }
  if (options->maxTotal != 0 && (options->rotateBytes == 0 || options->maxTotal < 2 * options->rotateBytes)) {
    CommandLineError("--max-total needs --rotate-size, and at least twice that size");
    return ParseResult::kWrong;
  }
  return CheckSelection(*options) ? ParseResult::kRun : ParseResult::kWrong;
}

void UsageError(const char* format, const char* what) { CommandLineError(format, what); }

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


ParseResult ParseVerifyOptions(int argc, char** argv, VerifyOptions* options) {
  *options = VerifyOptions{};
  for (int i = 2; i < argc; ++i) {
    if (strcmp(argv[i], "--csv") == 0) {
      options->csv = true;
    } else if (strcmp(argv[i], "--json") == 0) {
      options->json = true;
    } else if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
      fputs(kVerifyUsage, stdout);
      return ParseResult::kHelp;
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      Message("buslog-host verify: unknown option %s (verify takes --csv or --json)\nsee buslog-host verify --help\n",
              argv[i]);
      return ParseResult::kWrong;
    } else {
      options->logs.push_back(argv[i]);
    }
  }
  if (options->csv && options->json) {
    Message("buslog-host verify: --csv or --json, not both\nsee buslog-host verify --help\n");
    return ParseResult::kWrong;
  }
  if (options->logs.empty()) {
    Message("buslog-host verify: no LOG given\nsee buslog-host verify --help\n");
    return ParseResult::kWrong;
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
      Message("buslog-host stats: unknown option %s (stats takes --csv)\nsee buslog-host stats --help\n", argv[i]);
      return ParseResult::kWrong;
    } else {
      options->logs.push_back(argv[i]);
    }
  }
  if (options->logs.empty()) {
    Message("buslog-host stats: no LOG given\nsee buslog-host stats --help\n");
    return ParseResult::kWrong;
  }
  return ParseResult::kRun;
}

}  // namespace buslog_host
