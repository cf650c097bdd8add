// Finding the nine exports in a loaded module, the same on every platform.
#include "loader/module_loader.h"

#include <stdio.h>

namespace buslog_host {
namespace {

template <typename Fn>
bool FindExport(void* library, const char* name, Fn** slot, char* error, size_t errorSize) {
  void* symbol = FindSymbol(library, name);
  if (symbol == nullptr) {
    snprintf(error, errorSize, "export %s not found", name);
    return false;
  }
  *slot = reinterpret_cast<Fn*>(symbol);
  return true;
}

}  // namespace

bool LoadModule(const char* path, LoadedModule* module, char* error, size_t errorSize) {
  *module = LoadedModule{};
  void* library = OpenLibrary(path, error, errorSize);
  if (library == nullptr) return false;
  BuslogApi& api = module->api;
  bool found = FindExport(library, "Open", &api.Open, error, errorSize) &&
               FindExport(library, "Close", &api.Close, error, errorSize) &&
               FindExport(library, "PutError", &api.PutError, error, errorSize) &&
               FindExport(library, "PutFrame", &api.PutFrame, error, errorSize) &&
               FindExport(library, "PutFrameId", &api.PutFrameId, error, errorSize) &&
               FindExport(library, "PutString", &api.PutString, error, errorSize) &&
               FindExport(library, "PutTimeStamp", &api.PutTimeStamp, error, errorSize) &&
               FindExport(library, "ShareMode", &api.ShareMode, error, errorSize) &&
               FindExport(library, "Write", &api.Write, error, errorSize);
  if (!found) {
    CloseLibrary(library);
    *module = LoadedModule{};
    return false;
  }
  module->library = library;
  return true;
}

void UnloadModule(LoadedModule* module) {
  if (module->library != nullptr) CloseLibrary(module->library);
  *module = LoadedModule{};
}

}  // namespace buslog_host
