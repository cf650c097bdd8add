// The host's and the tests' names for the one module loader that hosts get
// with the public headers (buslog_loader.h).
#pragma once

#include <cstddef>

#include "buslog_loader.h"

namespace buslog_host {

using LoadedModule = BuslogModule;

// File name of the module on this platform: "buslog.dll" or "libbuslog.so".
const char* ModuleFileName();

// Loads the module at `path` and looks up all nine exports. On failure
// returns false, leaves nothing loaded and writes a one-line reason into
// `error` (`errorSize` bytes): "cannot load: <the system's reason>" or
// "export PutFrame not found".
bool LoadModule(const char* path, LoadedModule* module, char* error, size_t errorSize);

// Unloads a module that LoadModule loaded; the module closes a log file that
// is still open. Safe to call on a module that is not loaded.
void UnloadModule(LoadedModule* module);

}  // namespace buslog_host
