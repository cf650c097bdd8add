// buslog-host: loads the buslog module the way a bus tool does and drives
// its exports, replaying a candump trace, running a call script, or
// showing a demo of both with the samples that ship beside it; and reads
// logs back (convert, stats) without a module.
#include <cstdio>
#include <cstring>

#include "command_line.h"
#include "demo.h"
#include "file_names.h"
#include "logger/logger.h"
#include "platform/message.h"
#include "platform/module_loader.h"
#include "platform/system.h"
#include "script/runner.h"
#include "tools/log_tools.h"

namespace buslog_host {
namespace {

struct Host {
  LoadedModule module;
  char moduleDirectory[kPathSize];  // absolute, with separator
};

// The module beside this program in a build or on Windows; in lib/ of an
// install.
bool FindModule(Options* options) {
  if (options->module[0] != '\0') return true;
  char dir[kPathSize];
  if (!ExecutableDirectory(dir, sizeof dir)) {
    Message("buslog-host: cannot find this program's directory; use --module\n");
    return false;
  }
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
  return true;
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

int ReplayCommand(const Options& options, const Host& host) {
  return RunLogger(host.module.api, host.moduleDirectory, MakeLoggerRequest(options, options.input));
}

int RecordCommand(const Options& options, const Host& host) {
  return RunLogger(host.module.api, host.moduleDirectory, MakeLoggerRequest(options, "-"));
}

int RunCommand(const Options& options, const Host& host) {
  return RunScript(options, host.module.api, host.moduleDirectory, options.input, nullptr, nullptr, 0);
}

int DemoCommand(const Options& options, const Host& host) {
  return RunDemo(options, host.module.api, host.moduleDirectory);
}

// Every command. The log tools take their own command lines and need no
// module; the others share the options of command_line.h and load it.
struct Command {
  const char* name;
  const char* input;  // what its one argument is, or null when it takes none
  int (*run)(const Options& options, const Host& host);
  int (*runTool)(int argc, char** argv);  // a log tool: its own options, no module
};

const Command kCommands[] = {
    {"replay", "a candump trace (- for standard input)", ReplayCommand, nullptr},
    {"record", nullptr, RecordCommand, nullptr},
    {"run", "a call script", RunCommand, nullptr},
    {"demo", nullptr, DemoCommand, nullptr},
    {"convert", nullptr, nullptr, RunConvert},
    {"stats", nullptr, nullptr, RunStats},
};

const Command* FindCommand(const char* name) {
  for (const Command& candidate : kCommands) {
    if (strcmp(candidate.name, name) == 0) return &candidate;
  }
  return nullptr;
}

}  // namespace
}  // namespace buslog_host

int main(int argc, char** argv) {
  using namespace buslog_host;
  const Command* tool = argc > 1 ? FindCommand(argv[1]) : nullptr;
  if (tool != nullptr && tool->runTool != nullptr) return tool->runTool(argc, argv);
  static Options options;
  ParseResult parsed = ParseOptions(argc, argv, &options);
  if (parsed == ParseResult::kHelp) return 0;
  if (parsed == ParseResult::kWrong) return 2;
  const Command* command = FindCommand(options.command);
  if (command == nullptr || command->run == nullptr) {
    UsageError("unknown command %s", options.command);
    return 2;
  }
  if (command->input != nullptr && options.input == nullptr) {
    char what[256];
    snprintf(what, sizeof what, "%s needs %s", command->name, command->input);
    UsageError("%s", what);
    return 2;
  }
  if (command->input == nullptr && options.input != nullptr) {
    UsageError("unexpected argument %s", options.input);
    return 2;
  }
  static Host host;
  if (!FindModule(&options) || !LoadHost(options, &host)) return 1;
  int status = command->run(options, host);
  UnloadModule(&host.module);
  return status;
}
