// buslog-host: loads the buslog module the way a bus tool does and drives
// its exports, replaying a candump trace, running a call script, or
// showing a demo of both with the samples that ship beside it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "line_reader.h"
#include "log_tools.h"
#include "loader/module_loader.h"
#include "replay.h"
#include "script.h"

namespace buslog_host {
namespace {

constexpr size_t kPathSize = 4096;

const char kUsage[] =
    "usage: buslog-host replay TRACE [options]   replay a candump log through the module\n"
    "       buslog-host run SCRIPT [options]     run a call script (one export call a line)\n"
    "       buslog-host demo [options]           replay and run the bundled samples, show the logs\n"
    "options:\n"
    "  --module PATH   the module to load (default: the one beside this program)\n"
    "  --name FILE     name of the replay's log file (default: replay.log); the module\n"
    "                  always puts it beside itself\n"
    "  --share         call ShareMode with 1 before the log is opened\n"
    "  --strict        stop at the first malformed line, with exit status 1\n"
    "  --quiet         no progress line\n"
    "  --report-every N  say \"written N\" on standard error each N lines the module\n"
    "                  wrote (for crash tests)\n";

struct Options {
  const char* command;
  const char* input;
  char module[kPathSize];
  const char* name;
  bool share;
  bool strict;
  bool quiet;
  unsigned long long reportEvery;
};

struct Host {
  LoadedModule module;
  char moduleDirectory[kPathSize];  // absolute, with separator
};

// Writes a followed by b into out; false if that does not fit.
bool JoinPath(char* out, size_t size, const char* a, const char* b) {
  int length = snprintf(out, size, "%s%s", a, b);
  return length >= 0 && static_cast<size_t>(length) < size;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  *options = Options{};
  options->name = "replay.log";
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (strcmp(arg, "--module") == 0 && hasValue) {
      snprintf(options->module, sizeof options->module, "%s", argv[++i]);
    } else if (strcmp(arg, "--name") == 0 && hasValue) {
      options->name = argv[++i];
    } else if (strcmp(arg, "--share") == 0) {
      options->share = true;
    } else if (strcmp(arg, "--strict") == 0) {
      options->strict = true;
    } else if (strcmp(arg, "--quiet") == 0) {
      options->quiet = true;
    } else if (strcmp(arg, "--report-every") == 0 && hasValue) {
      options->reportEvery = strtoull(argv[++i], nullptr, 10);
    } else if (arg[0] == '-' && arg[1] == '-') {
      fprintf(stderr, "buslog-host: unknown option %s\n%s", arg, kUsage);
      return false;
    } else if (options->command == nullptr) {
      options->command = arg;
    } else if (options->input == nullptr) {
      options->input = arg;
    } else {
      fprintf(stderr, "buslog-host: unexpected argument %s\n%s", arg, kUsage);
      return false;
    }
  }
  if (options->command == nullptr) {
    fputs(kUsage, stderr);
    return false;
  }
  bool needsInput = strcmp(options->command, "replay") == 0 || strcmp(options->command, "run") == 0;
  if (needsInput != (options->input != nullptr) || (!needsInput && strcmp(options->command, "demo") != 0)) {
    fputs(kUsage, stderr);
    return false;
  }
  if (options->module[0] == '\0') {
    char dir[kPathSize];
    if (!ExecutableDirectory(dir, sizeof dir)) {
      fprintf(stderr, "buslog-host: cannot find this program's directory; use --module\n");
      return false;
    }
    // Beside this program in a build or on Windows; in lib/ of an install.
    if (!JoinPath(options->module, sizeof options->module, dir, ModuleFileName())) return false;
    char installed[kPathSize];
    FILE* probe = fopen(options->module, "rb");
    if (probe != nullptr) {
      fclose(probe);
    } else if (JoinPath(installed, sizeof installed, dir, "../lib/") &&
               JoinPath(options->module, sizeof options->module, installed, ModuleFileName())) {
      probe = fopen(options->module, "rb");
      if (probe != nullptr) fclose(probe);
      if (probe == nullptr) JoinPath(options->module, sizeof options->module, dir, ModuleFileName());
    }
  }
  return true;
}

bool LoadHost(const Options& options, Host* host) {
  char error[512];
  if (!LoadModule(options.module, &host->module, error, sizeof error)) {
    fprintf(stderr, "buslog-host: %s: %s\n", options.module, error);
    return false;
  }
  host->moduleDirectory[0] = '\0';
  if (AbsolutePath(options.module, host->moduleDirectory, sizeof host->moduleDirectory)) {
    char* last = strrchr(host->moduleDirectory, PathSeparator());
    if (PathSeparator() == '\\' && last == nullptr) last = strrchr(host->moduleDirectory, '/');
    if (last != nullptr) last[1] = '\0';
  }
  return true;
}

const char* OpenResultText(uint8_t result) {
  switch (result) {
    case 1: return "the name is empty or too long for the module's directory";
    case 2: return "the file could not be created";
    case 3: return "a log file is already open";
    default: return "unknown result";
  }
}

// With --share, calls ShareMode with 1 and returns true with its result.
bool ShareIfAsked(const Options& options, const Host& host, uint32_t* result) {
  if (!options.share) return false;
  uint32_t choice = 1;
  int32_t count;
  void* cell;
  host.module.api.ShareMode(1, &choice, &count, &cell);
  *result = *static_cast<uint32_t*>(cell);
  return true;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

FILE* OpenInput(const char* path) {
  FILE* file = fopen(path, "rb");
  if (file == nullptr) {
    fprintf(stderr, "buslog-host: %s: ", path);
    perror(nullptr);
  }
  return file;
}

int Replay(const Options& options, const Host& host, const char* trace, const char* logName) {
  FILE* file = OpenInput(trace);
  if (file == nullptr) return 1;
  const BuslogApi& api = host.module.api;
  uint32_t shareResult;
  ShareIfAsked(options, host, &shareResult);
  int32_t count;
  void* cell;
  api.Open(static_cast<uint32_t>(strlen(logName)), logName, &count, &cell);
  uint8_t openResult = *static_cast<uint8_t*>(cell);
  if (openResult != 0) {
    fprintf(stderr, "buslog-host: cannot open log %s%s: Open result %u, %s\n", host.moduleDirectory, logName,
            openResult, OpenResultText(openResult));
    fclose(file);
    return 1;
  }

  ReplayOptions replayOptions = {options.strict, !options.quiet && StderrIsTerminal(), options.reportEvery, trace};
  ReplayTotals t;
  auto started = std::chrono::steady_clock::now();
  bool complete = ReplayTrace(api, file, replayOptions, &t);
  double seconds = SecondsSince(started);
  api.Close(0, nullptr, &count);
  fclose(file);

  fprintf(stderr,
          "buslog-host: replay of %s\n"
          "  frames read     %llu\n"
          "  lines written   %llu (data %llu, remote %llu, CAN FD %llu, error %llu)\n"
          "  skipped         %llu (malformed %llu, of them too long %llu; too many interfaces %llu)\n"
          "  write failures  %llu\n"
          "  seconds         %.3f\n"
          "  frames/s        %.0f\n"
          "  log             %s%s\n",
          trace, static_cast<unsigned long long>(t.framesRead), static_cast<unsigned long long>(t.written),
          static_cast<unsigned long long>(t.dataFrames), static_cast<unsigned long long>(t.remoteFrames),
          static_cast<unsigned long long>(t.fdFrames), static_cast<unsigned long long>(t.errorFrames),
          static_cast<unsigned long long>(t.malformed + t.tooManyChannels),
          static_cast<unsigned long long>(t.malformed), static_cast<unsigned long long>(t.tooLong),
          static_cast<unsigned long long>(t.tooManyChannels), static_cast<unsigned long long>(t.writeFailures),
          seconds, seconds > 0 ? static_cast<double>(t.framesRead) / seconds : 0.0, host.moduleDirectory,
          logName);
  if (t.timeWentBack > 0) {
    fprintf(stderr, "  note: %llu frames were earlier than the first and stamped +0.000000\n",
            static_cast<unsigned long long>(t.timeWentBack));
  }
  if (t.readError) fprintf(stderr, "buslog-host: %s: read error; the replay stopped early\n", trace);
  if (!complete || t.writeFailures > 0) return 1;
  return 0;
}

int RunScript(const Options& options, const Host& host, const char* script) {
  FILE* file = OpenInput(script);
  if (file == nullptr) return 1;
  LineReader reader;
  if (!OpenLineReader(&reader, file)) {
    fclose(file);
    fprintf(stderr, "buslog-host: out of memory\n");
    return 1;
  }
  static ScriptState state;
  state = ScriptState{};
  // The script's expectations see the host's own ShareMode call.
  state.haveShareMode = ShareIfAsked(options, host, &state.shareModeResult);
  uint64_t malformed = 0;
  uint64_t failedExpectations = 0;
  bool stopped = false;
  const char* line;
  size_t length;
  bool tooLong;
  char message[256];
  while (NextLine(&reader, &line, &length, &tooLong)) {
    ScriptStatus status = tooLong ? ScriptStatus::kMalformed
                                  : RunScriptLine(host.module.api, line, length, &state, message, sizeof message);
    if (tooLong) snprintf(message, sizeof message, "line too long");
    if (status == ScriptStatus::kOk) continue;
    unsigned long long lineNumber = static_cast<unsigned long long>(reader.lineNumber);
    if (status == ScriptStatus::kMalformed) {
      ++malformed;
      fprintf(stderr, "%s:%llu: warning: %s; line skipped\n", script, lineNumber, message);
      if (options.strict) stopped = true;
    } else {
      ++failedExpectations;
      fprintf(stderr, "%s:%llu: error: %s\n", script, lineNumber, message);
      if (options.strict) stopped = true;
    }
    if (stopped) break;
  }
  bool readError = reader.readError;
  CloseLineReader(&reader);
  fclose(file);

  fprintf(stderr,
          "buslog-host: script %s\n"
          "  calls           %llu\n"
          "  lines written   %llu\n"
          "  write failures  %llu\n"
          "  skipped         %llu (malformed)\n"
          "  expectations    %llu failed\n",
          script, static_cast<unsigned long long>(state.calls), static_cast<unsigned long long>(state.linesWritten),
          static_cast<unsigned long long>(state.writeFailures), static_cast<unsigned long long>(malformed),
          static_cast<unsigned long long>(failedExpectations));
  if (state.lastLogName[0] != '\0') {
    fprintf(stderr, "  log             %s%s\n", host.moduleDirectory, state.lastLogName);
  }
  if (readError) fprintf(stderr, "buslog-host: %s: read error\n", script);
  return (stopped || failedExpectations > 0 || readError) ? 1 : 0;
}

bool FindSamples(char* dir, size_t size) {
  char exeDir[kPathSize];
  if (!ExecutableDirectory(exeDir, sizeof exeDir)) return false;
  const char* candidates[] = {"samples/", "../share/buslog/samples/"};
  for (const char* candidate : candidates) {
    char probe[kPathSize];
    if (!JoinPath(dir, size, exeDir, candidate) || !JoinPath(probe, sizeof probe, dir, "demo.candump")) {
      continue;
    }
    FILE* file = fopen(probe, "rb");
    if (file != nullptr) {
      fclose(file);
      return true;
    }
  }
  return false;
}

void ShowLog(const Host& host, const char* name) {
  char path[kPathSize];
  if (!JoinPath(path, sizeof path, host.moduleDirectory, name)) return;
  printf("== %s\n", path);
  FILE* file = fopen(path, "rb");
  if (file == nullptr) {
    printf("(missing)\n");
    return;
  }
  char block[4096];
  size_t got;
  while ((got = fread(block, 1, sizeof block, file)) > 0) fwrite(block, 1, got, stdout);
  fclose(file);
  fflush(stdout);
}

int Demo(const Options& options, const Host& host) {
  char samples[kPathSize];
  if (!FindSamples(samples, sizeof samples)) {
    fprintf(stderr, "buslog-host: the samples (demo.candump, demo.script) are not beside this program\n");
    return 1;
  }
  char trace[kPathSize];
  char script[kPathSize];
  if (!JoinPath(trace, sizeof trace, samples, "demo.candump") ||
      !JoinPath(script, sizeof script, samples, "demo.script")) {
    return 1;
  }
  int status = Replay(options, host, trace, "demo-can.log");
  status |= RunScript(options, host, script);
  ShowLog(host, "demo-can.log");
  ShowLog(host, "demo-script.log");
  return status;
}

}  // namespace
}  // namespace buslog_host

int main(int argc, char** argv) {
  using namespace buslog_host;
  if (argc > 1 && IsLogToolCommand(argv[1])) return RunLogTool(argc, argv);
  static Options options;
  if (!ParseOptions(argc, argv, &options)) return 2;
  static Host host;
  if (!LoadHost(options, &host)) return 1;
  int status;
  if (strcmp(options.command, "replay") == 0) {
    status = Replay(options, host, options.input, options.name);
  } else if (strcmp(options.command, "run") == 0) {
    status = RunScript(options, host, options.input);
  } else {
    status = Demo(options, host);
  }
  UnloadModule(&host.module);
  return status;
}
