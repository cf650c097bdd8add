// The POSIX part of opening a log tool's output.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "log_tools.h"

namespace buslog_host {

bool PathExists(const char* path) {
  struct stat info;
  return stat(path, &info) == 0;
}

bool IsSameFile(FILE* open, const char* path) {
  struct stat a, b;
  return fstat(fileno(open), &a) == 0 && stat(path, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

FILE* CreateFileForWriting(const char* path, bool exclusive) {
  int flags = O_WRONLY | O_CREAT | (exclusive ? O_EXCL : O_TRUNC);
  int fd = open(path, flags, 0666);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "wb");
  if (file == nullptr) close(fd);
  return file;
}

void SetBinaryMode(FILE*) {}

}  // namespace buslog_host
