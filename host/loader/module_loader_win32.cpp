// Windows half of the host's system calls: its own folder, absolute paths,
// whether standard error is a terminal.
#include <io.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "loader/module_loader.h"

namespace buslog_host {

const char* ModuleFileName() { return BUSLOG_MODULE_FILE_NAME; }

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

}  // namespace buslog_host
