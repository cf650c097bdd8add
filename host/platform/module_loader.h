// The host's and the tests' names for the one module loader that hosts get
// with the public headers (buslog_loader.h), and the few other system calls
// the host needs.
#pragma once

#include <cstddef>

#include "buslog_loader.h"

namespace buslog_host {

using LoadedModule = BuslogModule;

// File name of the module on this platform: "buslog.dll" or "libbuslog.so".
const char* ModuleFileName();

// Directory separator of this platform.
char PathSeparator();

// Writes the directory of the running program, with its separator, into
// `out` (`size` bytes). Returns false if it does not fit or is unknown.
bool ExecutableDirectory(char* out, size_t size);

// Loads the module at `path` and looks up all nine exports. On failure
// returns false, leaves nothing loaded and writes a one-line reason into
// `error` (`errorSize` bytes): "cannot load: <the system's reason>" or
// "export PutFrame not found".
bool LoadModule(const char* path, LoadedModule* module, char* error, size_t errorSize);

// Unloads a module that LoadModule loaded; the module closes a log file that
// is still open. Safe to call on a module that is not loaded.
void UnloadModule(LoadedModule* module);

// Writes the absolute form of `path` into `out`; false if it cannot.
bool AbsolutePath(const char* path, char* out, size_t size);

// True when standard error is a terminal (for progress lines).
bool StderrIsTerminal();

}  // namespace buslog_host
