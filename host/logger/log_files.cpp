// Log paths, the no-clobber rules and rotation.
#include "logger/log_files.h"


#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "file_names.h"
#include "platform/message.h"

namespace buslog_host {
namespace {

// The module takes paths of at most BUSLOG_MAX_PATH bytes: its folder and
// the name.
constexpr size_t kModulePathLimit = BUSLOG_MAX_PATH;

bool ModuleOpen(LogSet* logs, const std::string& moduleName, uint8_t* result) {
  int32_t count;
  void* cell;
  logs->api->Open(static_cast<uint32_t>(moduleName.size()), moduleName.data(), &count, &cell);
  *result = *static_cast<uint8_t*>(cell);
  return *result == BUSLOG_OPEN_OK;
}

const char* OpenResultText(uint8_t result) {
  switch (result) {
    case BUSLOG_OPEN_BAD_NAME: return "the name is empty or too long for the module's directory";
    case BUSLOG_OPEN_FAILED: return "the file could not be created";
    case BUSLOG_OPEN_BUSY: return "a log file is already open";
    default: return "unknown result";
  }
}

// The default name in the current directory, from the local time now:
// buslog-2026-12-09_131743.buslog, or with -2, -3 ... when that is taken.
bool DefaultOutput(char* out, size_t size) {
  time_t now = time(nullptr);
  struct tm local;
  if (!LocalTime(static_cast<int64_t>(now), &local)) return false;
  char stamp[32];
  strftime(stamp, sizeof stamp, "%Y-%m-%d_%H%M%S", &local);
  char name[64];
  snprintf(name, sizeof name, "buslog-%s.buslog", stamp);
  return FreeName(name, out, size);
}

enum class Attempt { kOpened, kTaken, kFailed };

// Opens `path` (full; `moduleName` is how the module reaches it) through
// the module, after the checks that keep the user's files.
Attempt TryOpen(LogSet* logs, const std::string& path, const std::string& moduleName, bool takenIsError) {
  const char* shown = path.c_str();
  size_t reach = logs->moduleDirectory.size() + moduleName.size();
  if (reach > kModulePathLimit) {
    if (logs->request.output == nullptr) {
      // A --name the module cannot take: it says so itself, creating nothing.
      uint8_t result;
      ModuleOpen(logs, moduleName, &result);
      Message("buslog-host: cannot open log %s: Open result %u, %s\n", shown, result, OpenResultText(result));
      return Attempt::kFailed;
    }
    Message(
            "buslog-host: cannot write the log %s: the module reaches it as %s%s, %zu bytes, more than the %zu it "
            "takes; choose a shorter path or one nearer the module's folder\n",
            shown, logs->moduleDirectory.c_str(), moduleName.c_str(), reach, kModulePathLimit);
    return Attempt::kFailed;
  }
  PathState state = StateOfPath(shown);
  if (state == PathState::kFolder) {
    Message("buslog-host: cannot write the log %s: it is a folder\n", shown);
    return Attempt::kFailed;
  }
  bool created = false;
  if (state == PathState::kFile) {
    FileIdentity existing;
    if (IdentityOfPath(shown, &existing) && SameFile(existing, logs->input)) {
      if (!takenIsError) return Attempt::kTaken;
      Message("buslog-host: %s is the input; the log must go to another file\n", shown);
      return Attempt::kFailed;
    }
    if (!takenIsError) return Attempt::kTaken;
    if (logs->inputUnknown) {
      Message("buslog-host: %s exists and the system does not tell whether it is the input; it is not replaced\n",
              shown);
      return Attempt::kFailed;
    }
    if (!logs->request.overwrite) {
      Message("buslog-host: %s exists; give --overwrite to replace it, or choose another name\n", shown);
      return Attempt::kFailed;
    }
  } else {
    bool exists;
    char reason[256];
    if (!CreateNewFile(shown, &exists, reason, sizeof reason)) {
      if (exists && !takenIsError) return Attempt::kTaken;
      Message("buslog-host: cannot write the log %s: %s\n", shown, reason);
      return Attempt::kFailed;
    }
    created = true;
  }
  uint8_t result;
  if (!ModuleOpen(logs, moduleName, &result)) {
    if (created) RemoveFile(shown);
    Message("buslog-host: cannot open log %s: Open result %u, %s\n", shown, result, OpenResultText(result));
    return Attempt::kFailed;
  }
  logs->open = true;
  logs->createdCurrent = created || state == PathState::kFile;
  logs->files.push_back(LogFileEntry{path, 0, false, 0, 0});
  return Attempt::kOpened;
}

}  // namespace

bool PlanLogs(const BuslogApi& api, const char* moduleDirectory, const LogRequest& request,
              const FileIdentity& input, bool inputIsFile, LogSet* logs) {
  logs->api = &api;
  logs->moduleDirectory = moduleDirectory;
  logs->request = request;
  logs->input = input;
  logs->inputUnknown = inputIsFile && !input.known;
  logs->counter = 0;
  logs->open = false;
  logs->createdCurrent = false;
  logs->files.clear();
  if (logs->moduleDirectory.empty()) {
    Message("buslog-host: cannot find the module's folder, from which it opens its logs\n");
    return false;
  }
  if (request.name != nullptr) {
    logs->base = logs->moduleDirectory + request.name;
    logs->moduleBase = request.name;
    return true;
  }
  char chosen[kPathSize];
  const char* output = request.output;
  if (output == nullptr) {
    if (!DefaultOutput(chosen, sizeof chosen)) {
      Message("buslog-host: cannot make a fresh log name in this folder; use --output\n");
      return false;
    }
    output = chosen;
  }
  char full[kPathSize];
  char reason[512];
  if (!FullOutputPath(output, full, sizeof full, reason, sizeof reason)) {
    Message("buslog-host: cannot write the log %s: %s\n", output, reason);
    return false;
  }
  char relative[kPathSize];
  if (!RelativePath(logs->moduleDirectory.c_str(), full, relative, sizeof relative, reason, sizeof reason)) {
    Message("buslog-host: cannot write the log %s: %s\n", full, reason);
    return false;
  }
  logs->base = full;
  logs->moduleBase = relative;
  return true;
}

bool OpenNextLog(LogSet* logs) {
  if (logs->open) CloseLog(logs);
  if (!logs->request.rotating && logs->counter == 0) {
    // The one name asked for. A time jump's next files go on as a rotation
    // would, counting this one as the first: run.csv, run-002.csv, ...
    logs->counter = 1;
    return TryOpen(logs, logs->base, logs->moduleBase, true) == Attempt::kOpened;
  }
  // Rotation never replaces a file: names that are taken are passed over.
  for (int tries = 0; tries < 100000; ++tries) {
    uint32_t number = ++logs->counter;
    Attempt attempt = TryOpen(logs, NumberedName(logs->base, number), NumberedName(logs->moduleBase, number), false);
    if (attempt == Attempt::kOpened) return true;
    if (attempt == Attempt::kFailed) return false;
  }
  Message("buslog-host: no free name for the next log beside %s\n", logs->base.c_str());
  return false;
}

void CloseLog(LogSet* logs) {
  if (!logs->open) return;
  int32_t count;
  logs->api->Close(0, nullptr, &count);
  logs->open = false;
  LogFileEntry& current = logs->files.back();
  if (current.lines == 0 && logs->createdCurrent) {
    RemoveFile(current.path.c_str());
    logs->files.pop_back();
  }
}

}  // namespace buslog_host
