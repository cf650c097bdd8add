// buslog-host: loads the buslog module the way a bus tool does and drives
// its exports, replaying a candump trace, running a call script, or
// showing a demo of both with the samples that ship beside it; and reads
// logs back (convert, stats) without a module.
#include <cstdio>
#include <cstring>

#include "command_line.h"
#include "demo.h"
#include "platform/system.h"
#include "logger/logger.h"
#include "platform/message.h"
#include "platform/module_loader.h"
#include "script/runner.h"
#include "tools/log_tools.h"

namespace buslog_host {
namespace {

struct Host {
  LoadedModule module;
  char moduleDirectory[kPathSize];  // absolute, with separator
};

// The module: the path given, taken relative to the current directory (a
// bare name is not handed to the system's library search); else the one
// beside this program (a build, or Windows), else in ../lib/ of it (an
// install). When none is there, every place tried is named.
bool FindModule(Options* options) {
  if (options->module[0] != '\0') {
    if (strchr(options->module, '/') == nullptr && strchr(options->module, PathSeparator()) == nullptr) {
      char here[kPathSize];
      int length = snprintf(here, sizeof here, ".%c%s", PathSeparator(), options->module);
      if (length < 0 || static_cast<size_t>(length) >= sizeof here) {
        Message("buslog-host: the module's name is too long a path: %s\n", options->module);
        return false;
      }
      memcpy(options->module, here, static_cast<size_t>(length) + 1);
    }
    return true;
  }
  char dir[kPathSize];
  if (!ExecutableDirectory(dir, sizeof dir)) {
    Message("buslog-host: cannot find this program's directory; give --module PATH\n");
    return false;
  }
  char beside[kPathSize];
  char lib[kPathSize];
  char installed[kPathSize];
  if (!JoinPath(beside, sizeof beside, dir, ModuleFileName()) || !JoinPath(lib, sizeof lib, dir, "../lib/") ||
      !JoinPath(installed, sizeof installed, lib, ModuleFileName())) {
    Message("buslog-host: this program's directory is too long a path; give --module PATH\n");
    return false;
  }
  const char* tried[] = {beside, installed};
  for (const char* candidate : tried) {
    if (StateOfPath(candidate) == PathState::kFile) {
      snprintf(options->module, sizeof options->module, "%s", candidate);
      return true;
    }
  }
  Message("buslog-host: no module: tried %s and %s; give --module PATH\n", beside, installed);
  return false;
}

bool LoadHost(const Options& options, Host* host) {
  char error[512];
  if (!LoadModule(options.module, &host->module, error, sizeof error)) {
    Message("buslog-host: %s: %s\n", options.module, error);
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

int ReplayCommand(const Options& options, const Host&) {
  return RunLogger(options.module, MakeLoggerRequest(options, options.input));
}

int RecordCommand(const Options& options, const Host&) { return RunLogger(options.module, MakeLoggerRequest(options, "-")); }

int RunCommand(const Options& options, const Host& host) {
  return RunScript(options, host.module.api, host.moduleDirectory, options.input, nullptr, nullptr, 0);
}

int DemoCommand(const Options& options, const Host& host) {
  return RunDemo(options, host.module.api, host.moduleDirectory);
}

// Every command. The log tools take their own command lines and need no
// module; the others take the options their CommandSpec (command_line.h)
// lists, and find it: the logger hands it to the writer engine, which
// loads it, the script runner and the demo load it here.
struct Command {
  const char* name;
  int (*run)(const Options& options, const Host& host);
  int (*runTool)(int argc, char** argv);  // a log tool: its own options, no module
  bool loadsModule;
};

const Command kCommands[] = {
    {"replay", ReplayCommand, nullptr, false}, {"record", RecordCommand, nullptr, false},
    {"run", RunCommand, nullptr, true},        {"demo", DemoCommand, nullptr, true},
    {"convert", nullptr, RunConvert, false},   {"stats", nullptr, RunStats, false},
    {"verify", nullptr, RunVerify, false},
};

const Command* FindCommand(const char* name) {
  for (const Command& candidate : kCommands) {
    if (strcmp(candidate.name, name) == 0) return &candidate;
  }
  return nullptr;
}

bool IsHelpFlag(const char* arg) { return strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0; }

// buslog-host help [COMMAND], --help, -h: the usage, or one command's.
int Help(int argc, char** argv) {
  if (argc < 3 || IsHelpFlag(argv[1])) {
    PrintUsage(stdout);
    return 0;
  }
  const char* name = argv[2];
  if (argc > 3) {
    CommandLineError("unexpected argument %s (help takes one command)", argv[3]);
    return 2;
  }
  if (strcmp(name, "help") == 0) {
    PrintUsage(stdout);
    return 0;
  }
  const Command* command = FindCommand(name);
  if (command == nullptr) {
    UnknownCommand(name);
    return 2;
  }
  if (command->runTool != nullptr) {
    char helpFlag[] = "--help";
    char* toolArgs[] = {argv[0], argv[2], helpFlag, nullptr};
    return command->runTool(3, toolArgs);
  }
  PrintCommandUsage(stdout, *FindCommandSpec(name));
  return 0;
}

}  // namespace
}  // namespace buslog_host

int main(int argc, char** argv) {
  using namespace buslog_host;
  // A file size limit makes a write fail (EFBIG), which every command
  // reports and the logger gets past, instead of ending the program.
  IgnoreFileSizeSignal();
  if (argc > 1 && strcmp(argv[1], "--version") == 0) {
    printf("buslog-host %s\n", BUSLOG_HOST_VERSION);
    return 0;
  }
  if (argc > 1 && (IsHelpFlag(argv[1]) || strcmp(argv[1], "help") == 0)) return Help(argc, argv);
  const Command* tool = argc > 1 ? FindCommand(argv[1]) : nullptr;
  if (tool != nullptr && tool->runTool != nullptr) return tool->runTool(argc, argv);
  static Options options;
  ParseResult parsed = ParseOptions(argc, argv, &options);
  if (parsed == ParseResult::kHelp) return 0;
  if (parsed == ParseResult::kWrong) return 2;
  const Command* command = FindCommand(options.command);
  static Host host;
  if (!FindModule(&options) || (command->loadsModule && !LoadHost(options, &host))) return 1;
  int status = command->run(options, host);
  if (command->loadsModule) UnloadModule(&host.module);
  return status;
}
