// Loads the buslog module at run time the way a bus tool does (LoadLibraryA
// and GetProcAddress on Windows, dlopen and dlsym on POSIX), by its path,
// and finds its nine exports; also the few other system calls a host needs.
// Used by the host program and the tests.
#pragma once

#include <cstddef>

#include "buslog.h"

namespace buslog_host {

struct LoadedModule {
  void* library;  // HMODULE or dlopen handle; null when nothing is loaded
  BuslogApi api;
};

// File name of the module on this platform: "buslog.dll" or "libbuslog.so".
const char* ModuleFileName();

// Directory separator of this platform.
char PathSeparator();

// Writes the directory of the running program, with its separator, into
// `out` (`size` bytes). Returns false if it does not fit or is unknown.
bool ExecutableDirectory(char* out, size_t size);

// Loads the module at `path` and looks up all nine exports. On failure
// returns false, leaves nothing loaded and writes a one-line reason into
// `error` (`errorSize` bytes), e.g. "export PutFrame not found".
bool LoadModule(const char* path, LoadedModule* module, char* error, size_t errorSize);

// Unloads a module that LoadModule loaded; the module closes a log file that
// is still open. Safe to call on a module that is not loaded.
void UnloadModule(LoadedModule* module);

// Writes the absolute form of `path` into `out`; false if it cannot.
bool AbsolutePath(const char* path, char* out, size_t size);

// True when standard error is a terminal (for progress lines).
bool StderrIsTerminal();

// The system's own calls, one half per platform.
void* OpenLibrary(const char* path, char* error, size_t errorSize);
void* FindSymbol(void* library, const char* name);
void CloseLibrary(void* library);

}  // namespace buslog_host
