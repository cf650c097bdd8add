// Log paths, the no-clobber rules and rotation.
#include "logger/log_files.h"


#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "file_names.h"
#include "logger/rotation.h"
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

// Says why a log cannot be opened: on standard error, or (after the first
// log, while the logger goes on) into `failure` for the logger to say once.
void Refuse(OpenFailure* failure, const std::string& path, int error, const char* reason) {
  if (failure == nullptr) {
    Message("buslog-host: cannot write the log %s: %s\n", path.c_str(), reason);
    return;
  }
  failure->path = path;
  failure->error = error;
  failure->reason = reason;
}

// Opens `path` (full; `moduleName` is how the module reaches it) through
// the module, after the checks that keep the user's files.
Attempt TryOpen(LogSet* logs, const std::string& path, const std::string& moduleName, bool takenIsError,
                OpenFailure* failure) {
  const char* shown = path.c_str();
  size_t reach = logs->moduleDirectory.size() + moduleName.size();
  if (reach > kModulePathLimit) {
    if (logs->request.output == nullptr && failure == nullptr) {
      // A --name the module cannot take: it says so itself, creating nothing.
      uint8_t result;
      ModuleOpen(logs, moduleName, &result);
      Message("buslog-host: cannot open log %s: Open result %u, %s\n", shown, result, OpenResultText(result));
      return Attempt::kFailed;
    }
    char reason[512];
    snprintf(reason, sizeof reason,
             "the module reaches it as %s%s, %zu bytes, more than the %zu it takes; choose a shorter path or one "
             "nearer the module's folder",
             logs->moduleDirectory.c_str(), moduleName.c_str(), reach, kModulePathLimit);
    Refuse(failure, path, 0, reason);
    return Attempt::kFailed;
  }
  PathState state = StateOfPath(shown);
  if (state == PathState::kFolder) {
    if (!takenIsError) return Attempt::kTaken;
    Refuse(failure, path, 0, "it is a folder");
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
    ClearSystemError();
    if (!CreateNewFile(shown, &exists, reason, sizeof reason)) {
      int error = LastSystemError();
      if (exists && !takenIsError) return Attempt::kTaken;
      Refuse(failure, path, error, reason);
      return Attempt::kFailed;
    }
    created = true;
  }
  uint8_t result;
  ClearSystemError();
  if (!ModuleOpen(logs, moduleName, &result)) {
    int error = LastSystemError();
    if (created) RemoveFile(shown);
    char reason[256];
    if (result == BUSLOG_OPEN_FAILED && error != 0) {
      SystemErrorText(error, reason, sizeof reason);
    } else {
      snprintf(reason, sizeof reason, "Open result %u, %s", result, OpenResultText(result));
    }
    Refuse(failure, path, error, reason);
    return Attempt::kFailed;
  }
  logs->open = true;
  logs->createdCurrent = created || state == PathState::kFile;
  LogFileEntry entry = {};
  entry.path = path;
  entry.created = created;
  entry.fate = FileFate::kKept;
  WatchFile(shown, &entry.watch);
  WatchedFile watched;
  if (LookAtWatched(entry.watch, &watched)) entry.identity = watched.identity;
  logs->files.push_back(entry);
  return Attempt::kOpened;
}

// The folder of a full path, and its name.
std::string FolderOf(const std::string& path) {
  size_t name = NameStart(path);
  return name == 0 ? std::string(".") : path.substr(0, name);
}

// True when `name` is `stem` "-" digits `extension`: a file of the series
// run-001.csv, run-002.csv ... of the base run.csv.
bool InSeries(const std::string& name, const std::string& stem, const std::string& extension) {
  if (name.size() < stem.size() + 2 + extension.size()) return false;
  if (name.compare(0, stem.size(), stem) != 0 || name[stem.size()] != '-') return false;
  if (name.compare(name.size() - extension.size(), extension.size(), extension) != 0) return false;
  size_t digits = name.size() - extension.size() - stem.size() - 1;
  if (digits < 3) return false;
  for (size_t i = stem.size() + 1; i < stem.size() + 1 + digits; ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
  }
  return true;
}

// The name of the base and its extension (a leading dot stays with the name).
void SplitName(const std::string& path, std::string* stem, std::string* extension) {
  std::string name = path.substr(NameStart(path));
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) dot = name.size();
  *stem = name.substr(0, dot);
  *extension = name.substr(dot);
}

// A rotation whose first name is taken by an earlier run's series starts
// a series of its own: run.csv -> run-2.csv (run-2-001.csv ...), the first
// base with no file of its own name or series.
void AvoidEarlierSeries(LogSet* logs) {
  std::vector<std::string> names;
  if (!ListFolder(FolderOf(logs->base).c_str(), &names)) return;
  std::string stem, extension;
  SplitName(logs->base, &stem, &extension);
  auto taken = [&](const std::string& s) {
    for (const std::string& name : names) {
      if (name == s + extension || InSeries(name, s, extension)) return true;
    }
    return false;
  };
  size_t earlier = 0;
  std::string lowest;
  for (const std::string& name : names) {
    if (!InSeries(name, stem, extension)) continue;
    ++earlier;
    if (lowest.empty() || name < lowest) lowest = name;
  }
  if (earlier == 0) return;
  for (int n = 2; n < 1000; ++n) {
    std::string candidate = stem + "-" + std::to_string(n);
    if (taken(candidate)) continue;
    size_t cut = logs->base.size() - stem.size() - extension.size();
    logs->base = logs->base.substr(0, cut) + candidate + extension;
    size_t moduleCut = logs->moduleBase.size() - stem.size() - extension.size();
    logs->moduleBase = logs->moduleBase.substr(0, moduleCut) + candidate + extension;
    std::string folder = FolderOf(logs->base);
    Message("buslog-host: %s%s%s %s an earlier run's series; this run's logs are %s, %s, ...\n", folder.c_str(),
            lowest.c_str(), earlier == 1 ? "" : (" and " + std::to_string(earlier - 1) + " more").c_str(),
            earlier == 1 ? "is" : "are", NumberedName(logs->base, 1).c_str(), NumberedName(logs->base, 2).c_str());
    return;
  }
}

// Opens the next numbered name, passing over names that are taken.
bool OpenNumbered(LogSet* logs, OpenFailure* failure) {
  for (int tries = 0; tries < 100000; ++tries) {
    uint32_t number = ++logs->counter;
    Attempt attempt = TryOpen(logs, NumberedName(logs->base, number), NumberedName(logs->moduleBase, number), false,
                              failure);
    if (attempt == Attempt::kOpened) return true;
    if (attempt == Attempt::kFailed) {
      // The same name is tried again next time.
      --logs->counter;
      return false;
    }
  }
  Refuse(failure, logs->base, 0, "no free name for the next log beside it");
  return false;
}

// With a ring: removes this run's oldest files while a new file could pass
// --max-files or --max-total.
void KeepRing(LogSet* logs) {
  const LogRequest& request = logs->request;
  if (!Ring(request)) return;
  for (;;) {
    uint32_t kept = 0;
    uint64_t total = 0;
    for (const LogFileEntry& file : logs->files) {
      if (file.fate != FileFate::kKept || !file.created) continue;
      ++kept;
      total += file.bytes;
    }
    bool tooMany = request.maxFiles != 0 && kept + 1 > request.maxFiles;
    bool tooBig = request.maxTotal != 0 && total + request.fileBytes + kLongestLogLine > request.maxTotal;
    if (!tooMany && !tooBig) return;
    if (RemoveOldestOwnFile(logs) == nullptr) return;
  }
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
  logs->removed = 0;
  if (request.name != nullptr) {
    logs->base = logs->moduleDirectory + request.name;
    logs->moduleBase = request.name;
    if (request.rotating) AvoidEarlierSeries(logs);
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
  if (request.rotating) AvoidEarlierSeries(logs);
  return true;
}

bool OpenNextLog(LogSet* logs) {
  if (logs->open) CloseLog(logs);
  if (!logs->request.rotating && logs->counter == 0) {
    // The one name asked for. The next files (a time jump, a failure) go on
    // as a rotation would, counting this one as the first: run.csv,
    // run-002.csv, ...
    logs->counter = 1;
    return TryOpen(logs, logs->base, logs->moduleBase, true, nullptr) == Attempt::kOpened;
  }
  OpenFailure failure;
  if (OpenNumbered(logs, &failure)) return true;
  if (!failure.reason.empty()) Message("buslog-host: cannot write the log %s: %s\n", failure.path.c_str(),
                                       failure.reason.c_str());
  return false;
}

std::string LookAtOpenLog(LogFileEntry* file) {
  WatchedFile state;
  if (file->fate != FileFate::kKept || !LookAtWatched(file->watch, &state)) return std::string();
  FileIdentity atPath;
  if (state.links > 0 && IdentityOfPath(file->path.c_str(), &atPath) && SameFile(atPath, state.identity)) {
    return std::string();
  }
  std::string lines = std::to_string(file->lines);
  if (state.links == 0) {
    file->fate = FileFate::kDeleted;
    return "buslog-host: the log " + file->path + " was deleted under the logger; its " + lines + " lines are lost";
  }
  char where[kPathSize];
  FileIdentity there;
  if (PathOfWatched(file->watch, where, sizeof where) && IdentityOfPath(where, &there) &&
      SameFile(there, state.identity)) {
    std::string note = "buslog-host: the log " + file->path + " was renamed or moved to " + where + "; its lines are there";
    file->path = where;
    return note;
  }
  file->fate = FileFate::kUnreachable;
  return "buslog-host: the log " + file->path + " can no longer be reached under its name; its " + lines +
         " lines are counted as lost";
}

bool BeginNewFile(LogSet* logs, OpenFailure* failure) {
  if (logs->open) CloseLog(logs);
  // A log that was to be one file goes on as a series: run.csv, run-002.csv ...
  if (logs->counter == 0) logs->counter = logs->request.rotating ? 0 : 1;
  KeepRing(logs);
  *failure = OpenFailure{};
  return OpenNumbered(logs, failure);
}

LogFileEntry* RemoveOldestOwnFile(LogSet* logs) {
  size_t last = logs->open ? logs->files.size() - 1 : logs->files.size();
  for (size_t i = 0; i < last; ++i) {
    LogFileEntry& file = logs->files[i];
    if (file.fate != FileFate::kKept || !file.created) continue;
    // Only while its name still leads to the file this run wrote.
    FileIdentity atPath;
    if (!IdentityOfPath(file.path.c_str(), &atPath) || !SameFile(atPath, file.identity)) {
      file.created = false;
      continue;
    }
    if (!RemoveFile(file.path.c_str())) {
      file.created = false;
      continue;
    }
    // Until its folder is synced the removal is only in the cache: after a
    // power cut the file could stand again beside the ring's next one and
    // take the ring past its limit. A failed sync is not reported: the file
    // is gone for every program, and its frames are counted as removed.
    SyncFolderOf(file.path.c_str());
    file.fate = FileFate::kRemovedByRing;
    ++logs->removed;
    return &file;
  }
  return nullptr;
}

void CloseLog(LogSet* logs) {
  if (!logs->open) return;
  int32_t count;
  logs->api->Close(0, nullptr, &count);
  logs->open = false;
  LogFileEntry& current = logs->files.back();
  WatchedFile watched;
  if (LookAtWatched(current.watch, &watched)) current.bytes = watched.size;
  // A log renamed or deleted since the last look is seen as it is closed.
  std::string note = LookAtOpenLog(&current);
  if (!note.empty()) Message("%s\n", note.c_str());
  EndWatch(&current.watch);
  // Only while its name still leads to the file written: never another.
  FileIdentity atPath;
  if (current.lines == 0 && logs->createdCurrent && current.fate == FileFate::kKept &&
      (!current.identity.known ||
       (IdentityOfPath(current.path.c_str(), &atPath) && SameFile(atPath, current.identity)))) {
    RemoveFile(current.path.c_str());
    logs->files.pop_back();
  }
}

}  // namespace buslog_host
