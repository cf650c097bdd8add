// Loading a writer's own instance of the module.
#include "module_instance.h"

#include <mutex>
#include <set>

#include "buslog_writer.h"
#include "file_names.h"
#include "platform/files.h"

namespace buslog_writer {
namespace {

using namespace buslog_files;

std::mutex g_heldMutex;
std::set<std::string> g_held;  // module files a writer of this process holds

// Takes `key` for this writer; false when another writer holds it.
bool Hold(const std::string& key) {
  std::lock_guard<std::mutex> lock(g_heldMutex);
  return g_held.insert(key).second;
}

void Release(const std::string& key) {
  std::lock_guard<std::mutex> lock(g_heldMutex);
  g_held.erase(key);
}

// The folder of a full path, with its separator.
std::string FolderOfFile(const std::string& path) { return path.substr(0, NameStart(path)); }

// The module beside this library (or the program it is linked into).
bool DefaultModule(char* out, size_t size, std::string* error) {
  char here[kPathSize];
  if (!LibraryPathOf(reinterpret_cast<const void*>(&BuslogWriterOpen), here, sizeof here)) {
    *error = "cannot find the writer library's own folder, beside which the module is looked for; give the module";
    return false;
  }
  std::string beside = FolderOfFile(here) + BUSLOG_MODULE_FILE_NAME;
  if (beside.size() >= size) {
    *error = "the module's path is too long: " + beside;
    return false;
  }
  snprintf(out, size, "%s", beside.c_str());
  return true;
}

bool Load(const char* path, ModuleInstance* instance, std::string* error) {
  char reason[512];
  if (!BuslogLoadModule(path, &instance->module, reason, sizeof reason)) {
    *error = std::string(path) + ": " + reason;
    return false;
  }
  return true;
}

// A copy of the module file `full` in a folder of its own, loaded.
bool LoadPrivateCopy(const std::string& full, const char* logFolder, ModuleInstance* instance, std::string* error) {
  char temporary[kPathSize];
  char folder[kPathSize];
  char reason[512];
  if (!PrivateCopyParent(logFolder, temporary, sizeof temporary) ||
      !MakePrivateFolder(temporary, folder, sizeof folder, reason, sizeof reason)) {
    *error = "cannot make a folder for a private copy of the module " + full + " (another writer holds it): " + reason;
    return false;
  }
  std::string copy = std::string(folder) + full.substr(NameStart(full));
  if (!CopyFileTo(full.c_str(), copy.c_str(), reason, sizeof reason)) {
    RemoveFolder(folder);
    *error = "cannot copy the module " + full + " for a second writer: " + reason;
    return false;
  }
  if (!Load(copy.c_str(), instance, error)) {
    RemoveFile(copy.c_str());
    RemoveFolder(folder);
    return false;
  }
  instance->privateFolder = folder;
  instance->privateFile = copy;
  instance->directory = folder;
  return true;
}

}  // namespace

bool LoadModuleInstance(const char* path, const char* logFolder, ModuleInstance* instance, std::string* error) {
  *instance = ModuleInstance{};
  char chosen[kPathSize];
  if (path == nullptr) {
    if (!DefaultModule(chosen, sizeof chosen, error)) return false;
    path = chosen;
  }
  char full[kPathSize];
  if (StateOfPath(path) != PathState::kFile || !AbsolutePath(path, full, sizeof full)) {
    // The loader's own words for a file that is not there.
    return Load(path, instance, error);
  }
  if (!Hold(full)) return LoadPrivateCopy(full, logFolder, instance, error);
  // Loaded already, but not by a writer (a host's own loader): that
  // instance may have a log open.
  if (LibraryLoaded(full)) {
    Release(full);
    return LoadPrivateCopy(full, logFolder, instance, error);
  }
  if (!Load(full, instance, error)) {
    Release(full);
    return false;
  }
  instance->key = full;
  instance->directory = FolderOfFile(full);
  return true;
}

void UnloadModuleInstance(ModuleInstance* instance) {
  BuslogUnloadModule(&instance->module);
  if (!instance->key.empty()) Release(instance->key);
  if (!instance->privateFile.empty()) RemoveFile(instance->privateFile.c_str());
  if (!instance->privateFolder.empty()) RemoveFolder(instance->privateFolder.c_str());
  *instance = ModuleInstance{};
}

}  // namespace buslog_writer
