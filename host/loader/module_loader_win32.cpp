// Windows half of the module loader: LoadLibraryA, GetProcAddress,
// FreeLibrary.
#include <io.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "loader/module_loader.h"

namespace buslog_host {

const char* ModuleFileName() { return "buslog.dll"; }

char PathSeparator() { return '\\'; }

bool ExecutableDirectory(char* out, size_t size) {
  if (size < 2) return false;
  DWORD length = GetModuleFileNameA(nullptr, out, static_cast<DWORD>(size));
  if (length == 0 || length >= size) return false;
  char* slash = strrchr(out, '\\');
  if (slash == nullptr) return false;
  slash[1] = '\0';
  return true;
}

bool AbsolutePath(const char* path, char* out, size_t size) {
  DWORD length = GetFullPathNameA(path, static_cast<DWORD>(size), out, nullptr);
  return length != 0 && length < size;
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void* OpenLibrary(const char* path, char* error, size_t errorSize) {
  HMODULE library = LoadLibraryA(path);
  if (library == nullptr) {
    snprintf(error, errorSize, "cannot load (error %lu)", static_cast<unsigned long>(GetLastError()));
  }
  return reinterpret_cast<void*>(library);
}

void* FindSymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

}  // namespace buslog_host
