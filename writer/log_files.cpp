// Opening and closing the log files, and the ring.
#include "log_files.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "file_names.h"

namespace buslog_writer {
namespace {

using namespace buslog_files;

// The module takes paths of at most BUSLOG_MAX_PATH bytes: its folder and
// the name.
constexpr size_t kModulePathLimit = BUSLOG_MAX_PATH;
// The longest line the module writes: its line limit and CR LF.
constexpr uint64_t kLongestLogLine = BUSLOG_MAX_LINE + 2;

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

enum class Attempt { kOpened, kTaken, kFailed };

void Refuse(OpenFailure* failure, const std::string& path, int error, const std::string& reason) {
  failure->path = path;
  failure->error = error;
  failure->reason = reason;
}

// The logs the writers of this process have open: one is never replaced
// by another writer, --overwrite or not.
std::mutex openLogsMutex;
std::vector<FileIdentity> openLogs;

bool OpenByAWriter(const FileIdentity& identity) {
  std::lock_guard<std::mutex> lock(openLogsMutex);
  for (const FileIdentity& open : openLogs) {
    if (SameFile(open, identity)) return true;
  }
  return false;
}

void NoteOpen(const FileIdentity& identity) {
  std::lock_guard<std::mutex> lock(openLogsMutex);
  openLogs.push_back(identity);
}

void NoteClosed(const FileIdentity& identity) {
  std::lock_guard<std::mutex> lock(openLogsMutex);
  for (size_t i = 0; i < openLogs.size(); ++i) {
    if (SameFile(openLogs[i], identity)) {
      openLogs.erase(openLogs.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
}

// Whether the existing file at `path` may be replaced; kOpened means yes.
// `takenIsError` false: a name in a series that is taken is passed over.
Attempt MayReplace(LogSet* logs, const std::string& path, bool takenIsError, OpenFailure* failure) {
  FileIdentity existing;
  bool known = IdentityOfPath(path.c_str(), &existing);
  bool isInput = known && SameFile(existing, logs->input);
  if (!takenIsError) return Attempt::kTaken;
  if (isInput) {
    Refuse(failure, path, 0, "is the input; the log must go to another file");
  } else if (known && OpenByAWriter(existing)) {
    Refuse(failure, path, 0, "is being written by another writer of this program; it is not replaced");
  } else if (logs->inputUnknown) {
    Refuse(failure, path, 0, "exists and the system does not tell whether it is the input; it is not replaced");
  } else if (!logs->request.overwrite) {
    Refuse(failure, path, 0, "exists; give --overwrite to replace it, or choose another name");
  } else {
    return Attempt::kOpened;
  }
  return Attempt::kFailed;
}

// The file entry of a log just opened.
void AddEntry(LogSet* logs, const std::string& path, bool created) {
  LogFileEntry entry = {};
  entry.path = path;
  entry.created = created;
  entry.fate = BUSLOG_FILE_KEPT;
  WatchFile(path.c_str(), &entry.watch);
  WatchedFile watched;
  if (LookAtWatched(entry.watch, &watched)) entry.identity = watched.identity;
  if (entry.identity.known) NoteOpen(entry.identity);
  logs->files.push_back(entry);
}

// Opens `path` (full; `moduleName` is how the module reaches it) through
// the module, after the checks that keep the user's files.
Attempt TryOpen(LogSet* logs, const std::string& path, const std::string& moduleName, bool takenIsError,
                OpenFailure* failure) {
  size_t reach = logs->moduleDirectory.size() + moduleName.size();
  if (reach > kModulePathLimit) {
    char reason[512];
    uint8_t result;
    if (logs->request.name != nullptr && !ModuleOpen(logs, moduleName, &result)) {
      // A name relative to the module's folder: the module says so itself,
      // creating nothing.
      snprintf(reason, sizeof reason, "Open result %u, %s", result, OpenResultText(result));
      Refuse(failure, path, 0, reason);
      return Attempt::kFailed;
    }
    snprintf(reason, sizeof reason,
             "the module reaches it as %s%s, %zu bytes, more than the %zu it takes; choose a shorter path or one "
             "nearer the module's folder",
             logs->moduleDirectory.c_str(), moduleName.c_str(), reach, kModulePathLimit);
    Refuse(failure, path, 0, reason);
    return Attempt::kFailed;
  }
  PathState state = StateOfPath(path.c_str());
  if (state == PathState::kFolder) {
    if (!takenIsError) return Attempt::kTaken;
    Refuse(failure, path, 0, "it is a folder");
    return Attempt::kFailed;
  }
  bool created = false;
  if (state == PathState::kFile) {
    Attempt replace = MayReplace(logs, path, takenIsError, failure);
    if (replace != Attempt::kOpened) return replace;
  } else {
    bool exists;
    char reason[256];
    ClearSystemError();
    if (!CreateNewFile(path.c_str(), &exists, reason, sizeof reason)) {
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
    if (created) RemoveFile(path.c_str());
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
  AddEntry(logs, path, created);
  return Attempt::kOpened;
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

// With a ring: removes this writer's oldest files while a new file could
// pass maxFiles or maxTotal.
void KeepRing(LogSet* logs) {
  const LogRequest& request = logs->request;
  if (!Ring(request)) return;
  for (;;) {
    uint32_t kept = 0;
    uint64_t total = 0;
    for (const LogFileEntry& file : logs->files) {
      if (file.fate != BUSLOG_FILE_KEPT || !file.created) continue;
      ++kept;
      total += file.bytes;
    }
    bool tooMany = request.maxFiles != 0 && kept + 1 > request.maxFiles;
    bool tooBig = request.maxTotal != 0 && total + request.fileBytes + kLongestLogLine > request.maxTotal;
    if (!tooMany && !tooBig) return;
    if (RemoveOldestOwnFile(logs) == nullptr) return;
  }
}

// True while the file's name still leads to the file written.
bool StillThere(const LogFileEntry& file) {
  FileIdentity atPath;
  return !file.identity.known || (IdentityOfPath(file.path.c_str(), &atPath) && SameFile(atPath, file.identity));
}

}  // namespace

bool OpenFirstLog(LogSet* logs, std::string* error) {
  OpenFailure failure;
  bool opened;
  if (!logs->request.rotating) {
    // The one name asked for. The next files (a failure, a lost log) go on
    // as a rotation would, counting this one as the first: run.csv,
    // run-002.csv, ...
    logs->counter = 1;
    opened = TryOpen(logs, logs->base, logs->moduleBase, true, &failure) == Attempt::kOpened;
  } else {
    opened = OpenNumbered(logs, &failure);
  }
  if (!opened) {
    bool said = failure.reason.compare(0, 3, "is ") == 0 || failure.reason.compare(0, 7, "exists;") == 0 ||
                failure.reason.compare(0, 7, "exists ") == 0;
    *error = said ? failure.path + " " + failure.reason : "cannot write the log " + failure.path + ": " + failure.reason;
  }
  return opened;
}

std::string LookAtOpenLog(LogFileEntry* file) {
  WatchedFile state;
  if (file->fate != BUSLOG_FILE_KEPT || !LookAtWatched(file->watch, &state)) return std::string();
  FileIdentity atPath;
  if (state.links > 0 && IdentityOfPath(file->path.c_str(), &atPath) && SameFile(atPath, state.identity)) {
    return std::string();
  }
  std::string lines = std::to_string(file->lines);
  if (state.links == 0) {
    file->fate = BUSLOG_FILE_DELETED;
    return "the log " + file->path + " was deleted under the logger; its " + lines + " lines are lost";
  }
  char where[kPathSize];
  FileIdentity there;
  if (PathOfWatched(file->watch, where, sizeof where) && IdentityOfPath(where, &there) &&
      SameFile(there, state.identity)) {
    std::string note = "the log " + file->path + " was renamed or moved to " + where + "; its lines are there";
    file->path = where;
    return note;
  }
  file->fate = BUSLOG_FILE_UNREACHABLE;
  return "the log " + file->path + " can no longer be reached under its name; its " + lines +
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
    if (file.fate != BUSLOG_FILE_KEPT || !file.created) continue;
    // Only while its name still leads to the file this writer wrote.
    if (!StillThere(file) || !RemoveFile(file.path.c_str())) {
      file.created = false;
      continue;
    }
    // The removal is durable before anything else is written: a removed
    // file that came back after a power cut would push the ring past its
    // limit.
    SyncFolderOf(file.path.c_str());
    file.fate = BUSLOG_FILE_REMOVED;
    ++logs->removed;
    for (const std::pair<uint32_t, uint32_t>& run : file.runs) logs->framesRemoved += run.second - run.first + 1u;
    if (file.firstFrame != 0) {
      if (logs->removedFirst == 0) logs->removedFirst = file.firstFrame;
      logs->removedLast = file.lastFrame;
    }
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
  // The engine looked at it just before (CloseOpenLog); one that goes
  // after that is found at the end (LookAtClosedLogs).
  EndWatch(&current.watch);
  if (current.identity.known) NoteClosed(current.identity);
  // Only while its name still leads to the file written: never another.
  if (current.lines == 0 && logs->createdCurrent && current.fate == BUSLOG_FILE_KEPT && StillThere(current)) {
    RemoveFile(current.path.c_str());
    logs->files.pop_back();
  }
}

void LookAtClosedLogs(LogSet* logs) {
  for (LogFileEntry& file : logs->files) {
    if (file.fate != BUSLOG_FILE_KEPT || !file.identity.known || StillThere(file)) continue;
    file.fate = StateOfPath(file.path.c_str()) == PathState::kMissing ? BUSLOG_FILE_DELETED : BUSLOG_FILE_UNREACHABLE;
  }
}

}  // namespace buslog_writer
