// The first log's path: the caller's, or a default name; the series of a
// rotation that must not continue an earlier writer's.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "file_names.h"
#include "log_files.h"

namespace buslog_writer {
namespace {

using namespace buslog_files;

// The default name in `folder` (empty: the current directory), from the
// local time now: buslog-2026-12-09_131743.buslog, or with -2, -3 ... when
// that is taken.
bool DefaultOutput(const std::string& folder, char* out, size_t size) {
  time_t now = time(nullptr);
  struct tm local;
  if (!LocalTime(static_cast<int64_t>(now), &local)) return false;
  char stamp[32];
  strftime(stamp, sizeof stamp, "%Y-%m-%d_%H%M%S", &local);
  char name[kPathSize];
  int length = snprintf(name, sizeof name, "%sbuslog-%s.buslog", folder.c_str(), stamp);
  return length > 0 && static_cast<size_t>(length) < sizeof name && FreeName(name, out, size);
}

// `output` names a folder: it ends in a separator, or a folder is there.
bool NamesFolder(const char* output) {
  size_t length = strlen(output);
  return length > 0 && (output[length - 1] == '/' || output[length - 1] == PathSeparator() ||
                        StateOfPath(output) == PathState::kFolder);
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

// The lowest file of an earlier series of `stem`, and how many there are.
size_t EarlierSeries(const std::vector<std::string>& names, const std::string& stem, const std::string& extension,
                     std::string* lowest) {
  size_t earlier = 0;
  for (const std::string& name : names) {
    if (!InSeries(name, stem, extension)) continue;
    ++earlier;
    if (lowest->empty() || name < *lowest) *lowest = name;
  }
  return earlier;
}

// A rotation whose first name is taken by an earlier series starts a
// series of its own: run.csv -> run-2.csv (run-2-001.csv ...), the first
// base with no file of its own name or series.
void AvoidEarlierSeries(LogSet* logs) {
  std::vector<std::string> names;
  if (!ListFolder(FolderOf(logs->base).c_str(), &names)) return;
  std::string stem, extension, lowest;
  SplitName(logs->base, &stem, &extension);
  size_t earlier = EarlierSeries(names, stem, extension, &lowest);
  if (earlier == 0) return;
  auto taken = [&](const std::string& s) {
    for (const std::string& name : names) {
      if (name == s + extension || InSeries(name, s, extension)) return true;
    }
    return false;
  };
  for (int n = 2; n < 1000; ++n) {
    std::string candidate = stem + "-" + std::to_string(n);
    if (taken(candidate)) continue;
    size_t cut = logs->base.size() - stem.size() - extension.size();
    logs->base = logs->base.substr(0, cut) + candidate + extension;
    size_t moduleCut = logs->moduleBase.size() - stem.size() - extension.size();
    logs->moduleBase = logs->moduleBase.substr(0, moduleCut) + candidate + extension;
    std::string more = earlier == 1 ? "" : " and " + std::to_string(earlier - 1) + " more";
    Say(logs->messages, BUSLOG_MESSAGE_NOTE, "%s%s%s %s an earlier run's series; this run's logs are %s, %s, ...",
        FolderOf(logs->base).c_str(), lowest.c_str(), more.c_str(), earlier == 1 ? "is" : "are",
        NumberedName(logs->base, 1).c_str(), NumberedName(logs->base, 2).c_str());
    return;
  }
}

// The path asked for, full, with the path the module reaches it by.
bool ChooseOutput(LogSet* logs, const char* output, std::string* error) {
  char chosen[kPathSize];
  std::string folder;
  if (output != nullptr && NamesFolder(output)) {
    folder = output;
    if (folder.back() != '/' && folder.back() != PathSeparator()) folder += PathSeparator();
    output = nullptr;
    // A folder asked for by its trailing separator is made when it is not
    // there yet (its parent must be), as "logs/" on a first run.
    if (StateOfPath(folder.c_str()) == PathState::kMissing) {
      char reason[512];
      if (!MakeFolder(folder.c_str(), reason, sizeof reason)) {
        *error = "cannot make the folder " + folder + " for the logs: " + reason;
        return false;
      }
      Say(logs->messages, BUSLOG_MESSAGE_NOTE, "made the folder %s for the logs", folder.c_str());
    }
  }
  if (output == nullptr) {
    if (!DefaultOutput(folder, chosen, sizeof chosen)) {
      *error = "cannot make a fresh log name in " + (folder.empty() ? std::string("this folder") : folder) +
               "; give a file name";
      return false;
    }
    output = chosen;
  }
  char full[kPathSize];
  char reason[512];
  if (!FullOutputPath(output, full, sizeof full, reason, sizeof reason)) {
    *error = std::string("cannot write the log ") + output + ": " + reason;
    return false;
  }
  char relative[kPathSize];
  if (!RelativePath(logs->moduleDirectory.c_str(), full, relative, sizeof relative, reason, sizeof reason)) {
    *error = std::string("cannot write the log ") + full + ": " + reason;
    return false;
  }
  logs->base = full;
  logs->moduleBase = relative;
  return true;
}

// The input's identity, to compare every log with.
void NoteInput(LogSet* logs, const char* input) {
  logs->input = FileIdentity{};
  logs->inputUnknown = false;
  if (input == nullptr) return;
  if (strcmp(input, "-") == 0) {
    bool regularFile;
    IdentityOfStandardInput(&logs->input, &regularFile);
    logs->inputUnknown = regularFile && !logs->input.known;
  } else if (!IdentityOfPath(input, &logs->input)) {
    logs->inputUnknown = StateOfPath(input) == PathState::kFile;
  }
}

}  // namespace

bool PlanLogs(LogSet* logs, const char* input, std::string* error) {
  logs->counter = 0;
  logs->open = false;
  logs->createdCurrent = false;
  logs->removed = 0;
  logs->framesRemoved = 0;
  logs->removedFirst = logs->removedLast = 0;
  logs->files.clear();
  NoteInput(logs, input);
  if (logs->moduleDirectory.empty()) {
    *error = "cannot find the module's folder, from which it opens its logs";
    return false;
  }
  if (logs->request.name != nullptr) {
    logs->base = logs->moduleDirectory + logs->request.name;
    logs->moduleBase = logs->request.name;
  } else if (!ChooseOutput(logs, logs->request.output, error)) {
    return false;
  }
  if (logs->request.rotating) AvoidEarlierSeries(logs);
  return true;
}

}  // namespace buslog_writer
