// POSIX half of the platform layer: open/write/close on a descriptor, with
// O_DSYNC standing in for write-through, and the module's own file from
// dladdr.
#include "platform/platform.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace buslog {

uint32_t PlatformFindModuleDirectory(const void* module, char* directory) {
  directory[0] = '\0';
  Dl_info info = {};
  if (dladdr(module, &info) == 0 || info.dli_fname == nullptr) return 0;
  // dli_fname is the name the module was loaded by, possibly relative to the
  // working directory of that moment; resolve it now, while that still holds.
  char resolved[PATH_MAX];
  if (realpath(info.dli_fname, resolved) == nullptr) return 0;
  const char* lastSeparator = strrchr(resolved, '/');
  if (lastSeparator == nullptr) return 0;
  size_t length = static_cast<size_t>(lastSeparator - resolved) + 1;
  if (length > kMaxPath) return 0;
  memcpy(directory, resolved, length);
  directory[length] = '\0';
  return static_cast<uint32_t>(length);
}

FileHandle PlatformCreateLogFile(const char* path, bool shareRead) {
  // Sharing is a Windows notion; POSIX readers are never locked out.
  (void)shareRead;
  int fd;
  do {
    fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_DSYNC | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? kNoFile : static_cast<FileHandle>(fd);
}

bool PlatformSyncNewEntry(const char* path, FileHandle file) {
  (void)file;
  // O_DSYNC makes each write durable with what is needed to read it back,
  // but the file's name is an entry in its directory, and that entry is the
  // directory's data: only a sync of the directory itself puts it on the
  // disk. Once, after the create, is enough; the entry does not change.
  char directory[kPathBufferSize];
  size_t length = strlen(path);
  const char* lastSeparator = strrchr(path, '/');
  if (length > kMaxPath) return false;
  if (lastSeparator == nullptr) {
    memcpy(directory, ".", 2);
  } else {
    size_t directoryLength = static_cast<size_t>(lastSeparator - path) + 1;
    memcpy(directory, path, directoryLength);
    directory[directoryLength] = '\0';
  }
  int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool synced = fsync(fd) == 0;
  // EINVAL: this file system cannot sync a directory at all (fsync(2) says
  // so for objects that do not support synchronization; some FUSE and
  // network file systems, /proc). There is nothing more the module can do
  // there, so the file is kept, as durable as that file system makes it.
  if (!synced && errno == EINVAL) synced = true;
  close(fd);
  return synced;
}

void PlatformRemoveFile(const char* path) { unlink(path); }

namespace {

// Cuts the last `count` bytes written off the file, makes the cut durable
// and moves the offset back to the new end. Left as it is when the file
// cannot be cut.
void TakeBack(int fd, uint32_t count) {
  off_t end = lseek(fd, 0, SEEK_CUR);
  if (end < static_cast<off_t>(count)) return;  // also when lseek failed
  off_t start = end - static_cast<off_t>(count);
  if (ftruncate(fd, start) != 0) return;
  // O_DSYNC made the cut bytes durable as they were written; the truncation
  // is only in the cache until the file is synced, so a power cut could
  // bring them back as a cut line at the file's end, whole lines of a batch
  // among them. If this sync fails nothing changes for the caller: the line
  // was not written either way, and the bytes are gone from the file as
  // every program sees it; at worst a power cut leaves them as the cut line
  // that a write cut short by the power cut itself would leave.
  int synced;
  do {
    synced = fdatasync(fd);
  } while (synced != 0 && errno == EINTR);
  lseek(fd, start, SEEK_SET);
}

}  // namespace

bool PlatformWriteAll(FileHandle file, const char* bytes, uint32_t count) {
  int fd = static_cast<int>(file);
  uint32_t done = 0;
  while (done < count) {
    ssize_t written = write(fd, bytes + done, count - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      // A part of a line would run into the next line: take it back.
      if (done > 0) TakeBack(fd, done);
      return false;
    }
    done += static_cast<uint32_t>(written);
  }
  return true;
}

void PlatformCloseFile(FileHandle file) { close(static_cast<int>(file)); }

}  // namespace buslog
