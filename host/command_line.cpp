// Parsing buslog-host's options.
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
    "  --report-every N    say \"written N\" on standard error each N lines the module\n"
    "                      wrote (for crash tests)\n"
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
    } else if (strcmp(arg, "--overwrite") == 0) {
      options->overwrite = true;
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

}  // namespace buslog_host
