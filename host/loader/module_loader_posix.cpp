// POSIX half of the host's system calls: its own folder, absolute paths,
// whether standard error is a terminal.
#include <limits.h>
#include <stdlib.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "loader/module_loader.h"

namespace buslog_host {

const char* ModuleFileName() { return BUSLOG_MODULE_FILE_NAME; }

char PathSeparator() { return '/'; }

bool ExecutableDirectory(char* out, size_t size) {
  if (size < 2) return false;
  ssize_t length = readlink("/proc/self/exe", out, size - 1);
  if (length <= 0 || static_cast<size_t>(length) >= size - 1) return false;
  out[length] = '\0';
  char* slash = strrchr(out, '/');
  if (slash == nullptr) return false;
  slash[1] = '\0';
  return true;
}

bool AbsolutePath(const char* path, char* out, size_t size) {
  char resolved[PATH_MAX];
  if (realpath(path, resolved) == nullptr || strlen(resolved) >= size) return false;
  memcpy(out, resolved, strlen(resolved) + 1);
  return true;
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace buslog_host
