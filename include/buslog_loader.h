/*
 * buslog_loader.h: loads the buslog module at run time by its path, the way
 * a bus tool does (LoadLibraryA and GetProcAddress on Windows, dlopen and
 * dlsym elsewhere), and fills a BuslogApi with its nine exports. Header
 * only, C99 and C++; on POSIX link with -ldl where the C library lacks
 * dlopen (pkg-config's "--libs buslog" says so).
 *
 *   BuslogModule module;
 *   char error[512];
 *   if (!BuslogLoadModule("/usr/lib/libbuslog.so", &module, error, sizeof error)) {
 *     fprintf(stderr, "%s\n", error);   // "cannot load: ...: No such file or directory"
 *     return 1;
 *   }
 *   module.api.Open(...); ...
 *   BuslogUnloadModule(&module);        // closes a log that is still open
 *
 * Unloading and loading again gives a module in its first state. One
 * process loads one copy of a module file: loading the same path twice
 * shares the module's state, so load copies under different paths to keep
 * two logs open at once.
 */
#ifndef BUSLOG_LOADER_H
#define BUSLOG_LOADER_H

#include <stdio.h>
#include <string.h>

#include "buslog.h"

#ifdef _WIN32
#include <windows.h>
#define BUSLOG_MODULE_FILE_NAME "buslog.dll"
#ifdef __cplusplus
#define BUSLOG_HMODULE(library) static_cast<HMODULE>(library)
#else
#define BUSLOG_HMODULE(library) (library)
#endif
#else
#include <dlfcn.h>
#define BUSLOG_MODULE_FILE_NAME "libbuslog.so"
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct BuslogModule {
  void* library; /* HMODULE or dlopen handle; null when nothing is loaded */
  BuslogApi api;
} BuslogModule;

/* The library's handle for `path`, or null with the system's reason in
 * words in `error`. */
static inline void* BuslogOpenLibrary(const char* path, char* error, size_t errorSize) {
#ifdef _WIN32
  HMODULE library = LoadLibraryA(path);
  if (!library) {
    DWORD code = GetLastError();
    char reason[256];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code, 0, reason,
                                  sizeof reason, NULL);
    /* System messages end with ".\r\n"; the error is one line. */
    while (length > 0 && (reason[length - 1] == '\r' || reason[length - 1] == '\n' ||
                          reason[length - 1] == ' ' || reason[length - 1] == '.')) {
      --length;
    }
    reason[length] = '\0';
    /* Some messages name the file as "%1"; the caller names it already. */
    {
      char* insert = strstr(reason, "%1");
      if (insert && length + 6 < sizeof reason) {
        memmove(insert + 8, insert + 2, strlen(insert + 2) + 1);
        memcpy(insert, "the file", 8);
      }
    }
    snprintf(error, errorSize, "cannot load: %s (error %lu)", length > 0 ? reason : "unknown reason", code);
  }
  return library;
#else
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* reason = dlerror();
    snprintf(error, errorSize, "cannot load: %s", reason ? reason : "unknown reason");
  }
  return library;
#endif
}

static inline void BuslogCloseLibrary(void* library) {
#ifdef _WIN32
  FreeLibrary(BUSLOG_HMODULE(library));
#else
  dlclose(library);
#endif
}

/* Finds export `name` and stores it into the function pointer at `slot`.
 * Function pointers are copied as bytes: ISO C has no cast between them
 * and object pointers, and GetProcAddress's type differs from each. */
static inline int BuslogFindExport(void* library, const char* name, void* slot, char* error, size_t errorSize) {
#ifdef _WIN32
  FARPROC symbol = GetProcAddress(BUSLOG_HMODULE(library), name);
#else
  void* symbol = dlsym(library, name);
#endif
  if (!symbol) {
    snprintf(error, errorSize, "export %s not found", name);
    return 0;
  }
  memcpy(slot, &symbol, sizeof symbol);
  return 1;
}

/* Loads the module at `path` and finds its nine exports. Returns 1 when
 * all are there; otherwise 0, nothing left loaded, `module` zeroed and a
 * one-line reason in `error` (`errorSize` bytes): "cannot load: <the
 * system's reason>" or "export PutFrame not found". */
static inline int BuslogLoadModule(const char* path, BuslogModule* module, char* error, size_t errorSize) {
  void* library;
  BuslogApi* api = &module->api;
  memset(module, 0, sizeof *module);
  library = BuslogOpenLibrary(path, error, errorSize);
  if (!library) return 0;
  if (!BuslogFindExport(library, "Open", &api->Open, error, errorSize) ||
      !BuslogFindExport(library, "Close", &api->Close, error, errorSize) ||
      !BuslogFindExport(library, "PutError", &api->PutError, error, errorSize) ||
      !BuslogFindExport(library, "PutFrame", &api->PutFrame, error, errorSize) ||
      !BuslogFindExport(library, "PutFrameId", &api->PutFrameId, error, errorSize) ||
      !BuslogFindExport(library, "PutString", &api->PutString, error, errorSize) ||
      !BuslogFindExport(library, "PutTimeStamp", &api->PutTimeStamp, error, errorSize) ||
      !BuslogFindExport(library, "ShareMode", &api->ShareMode, error, errorSize) ||
      !BuslogFindExport(library, "Write", &api->Write, error, errorSize)) {
    BuslogCloseLibrary(library);
    memset(module, 0, sizeof *module);
    return 0;
  }
  module->library = library;
  return 1;
}

/* Unloads a module that BuslogLoadModule loaded (the module closes a log
 * that is still open and drops a line not yet written). Does nothing for a
 * module that is not loaded. */
static inline void BuslogUnloadModule(BuslogModule* module) {
  if (module->library) BuslogCloseLibrary(module->library);
  memset(module, 0, sizeof *module);
}

#ifdef __cplusplus
}
#endif

#endif /* BUSLOG_LOADER_H */
