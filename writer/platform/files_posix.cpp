// POSIX half of the file system layer: stat identities, exclusive open,
// realpath, fsync of folders, dladdr for a library's own file.
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform/files.h"

#include "file_names.h"

namespace buslog_files {
namespace {

void Reason(char* reason, size_t size, int error) { snprintf(reason, size, "%s", strerror(error)); }

bool IsSlash(char c) { return c == '/'; }

FileIdentity IdentityOfStat(const struct stat& st) {
  return FileIdentity{true, static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

}  // namespace

bool IdentityOfPath(const char* path, FileIdentity* identity) {
  struct stat st;
  if (stat(path, &st) != 0) return false;
  *identity = IdentityOfStat(st);
  return true;
}

bool IdentityOfHandle(intptr_t handle, FileIdentity* identity) {
  struct stat st;
  if (fstat(static_cast<int>(handle), &st) != 0) return false;
  *identity = IdentityOfStat(st);
  return true;
}

void IdentityOfStandardInput(FileIdentity* identity, bool* regularFile) {
  struct stat st;
  *identity = FileIdentity{};
  *regularFile = false;
  if (fstat(STDIN_FILENO, &st) != 0) return;
  *identity = IdentityOfStat(st);
  *regularFile = S_ISREG(st.st_mode);
}

PathState StateOfPath(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0) {
    // A dangling symbolic link is still something in the way.
    return lstat(path, &st) == 0 ? PathState::kFile : PathState::kMissing;
  }
  return S_ISDIR(st.st_mode) ? PathState::kFolder : PathState::kFile;
}

bool CreateNewFile(const char* path, bool* exists, char* reason, size_t reasonSize) {
  *exists = false;
  int fd;
  do {
    fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) {
    close(fd);
    return true;
  }
  switch (errno) {
    case EEXIST: *exists = true; snprintf(reason, reasonSize, "a file of that name exists"); break;
    case ENOENT: {
      // The folder may be there and still make no files (/proc, /sys).
      char folder[PATH_MAX];
      const char* slash = strrchr(path, '/');
      snprintf(folder, sizeof folder, "%.*s", slash == nullptr ? 1 : slash == path ? 1 : static_cast<int>(slash - path),
               slash == nullptr ? "." : path);
      struct stat st;
      if (stat(folder, &st) == 0 && S_ISDIR(st.st_mode)) {
        snprintf(reason, reasonSize, "the folder %s does not take new files (the system says: %s)", folder,
                 strerror(ENOENT));
      } else {
        snprintf(reason, reasonSize, "the folder does not exist");
      }
      break;
    }
    case ENOTDIR: snprintf(reason, reasonSize, "a part of the folder's path is not a folder"); break;
    case EACCES:
    case EPERM: snprintf(reason, reasonSize, "permission denied: this user may not create files in that folder"); break;
    case EROFS: snprintf(reason, reasonSize, "the folder is on a read-only file system"); break;
    default: Reason(reason, reasonSize, errno); break;
  }
  return false;
}

bool RemoveFile(const char* path) { return unlink(path) == 0; }

bool SizeOfFile(const char* path, uint64_t* size) {
  struct stat st;
  if (stat(path, &st) != 0) return false;
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool SyncFolderOf(const char* path) {
  char folder[PATH_MAX];
  const char* slash = strrchr(path, '/');
  if (slash == nullptr) {
    snprintf(folder, sizeof folder, ".");
  } else {
    snprintf(folder, sizeof folder, "%.*s", slash == path ? 1 : static_cast<int>(slash - path), path);
  }
  int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool synced = fsync(fd) == 0;
  // EINVAL: this file system cannot sync a folder at all (fsync(2)).
  if (!synced && errno == EINVAL) synced = true;
  close(fd);
  return synced;
}

bool FullOutputPath(const char* path, char* out, size_t size, char* reason, size_t reasonSize) {
  size_t length = strlen(path);
  if (length == 0 || path[length - 1] == '/') {
    snprintf(reason, reasonSize, "names a folder, not a file");
    return false;
  }
  const char* slash = strrchr(path, '/');
  const char* name = slash == nullptr ? path : slash + 1;
  if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) {
    snprintf(reason, reasonSize, "names a folder, not a file");
    return false;
  }
  char folder[PATH_MAX];
  if (slash == nullptr) {
    snprintf(folder, sizeof folder, ".");
  } else if (slash == path) {
    snprintf(folder, sizeof folder, "/");
  } else {
    snprintf(folder, sizeof folder, "%.*s", static_cast<int>(slash - path), path);
  }
  // The module's ".." steps are taken by the system from the real folder,
  // so the folder is resolved as the system sees it (symbolic links too).
  char resolved[PATH_MAX];
  if (realpath(folder, resolved) == nullptr) {
    switch (errno) {
      case ENOENT: snprintf(reason, reasonSize, "the folder %s does not exist", folder); break;
      case ENOTDIR: snprintf(reason, reasonSize, "%s is not a folder", folder); break;
      case EACCES: snprintf(reason, reasonSize, "permission denied on the folder %s", folder); break;
      default: snprintf(reason, reasonSize, "%s: %s", folder, strerror(errno)); break;
    }
    return false;
  }
  const char* separator = strcmp(resolved, "/") == 0 ? "" : "/";
  int written = snprintf(out, size, "%s%s%s", resolved, separator, name);
  if (written < 0 || static_cast<size_t>(written) >= size) {
    snprintf(reason, reasonSize, "the path is too long");
    return false;
  }
  if (StateOfPath(out) == PathState::kFolder) {
    snprintf(reason, reasonSize, "is a folder, not a file");
    return false;
  }
  return true;
}

bool RelativePath(const char* fromDirectory, const char* to, char* out, size_t size, char* reason,
                  size_t reasonSize) {
  // The longest common run of whole folders.
  size_t common = 0;
  for (size_t i = 0; fromDirectory[i] != '\0' && fromDirectory[i] == to[i]; ++i) {
    if (fromDirectory[i] == '/') common = i + 1;
  }
  return buslog_files::UpThenDown(fromDirectory + common, IsSlash, "../", to + common, out, size, reason, reasonSize);
}

bool LocalTime(int64_t seconds, struct tm* out) {
  time_t t = static_cast<time_t>(seconds);
  return localtime_r(&t, out) != nullptr;
}

bool PrivateCopyParent(const char*, char* out, size_t size) { return TemporaryFolder(out, size); }

char PathSeparator() { return '/'; }

bool AbsolutePath(const char* path, char* out, size_t size) {
  char resolved[PATH_MAX];
  if (realpath(path, resolved) == nullptr || strlen(resolved) >= size) return false;
  memcpy(out, resolved, strlen(resolved) + 1);
  return true;
}

bool ListFolder(const char* folder, std::vector<std::string>* names) {
  DIR* dir = opendir(folder);
  if (dir == nullptr) return false;
  while (struct dirent* entry = readdir(dir)) {
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
    names->push_back(entry->d_name);
  }
  closedir(dir);
  return true;
}

bool LibraryPathOf(const void* address, char* out, size_t size) {
  Dl_info info = {};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return false;
  char resolved[PATH_MAX];
  if (realpath(info.dli_fname, resolved) == nullptr || strlen(resolved) >= size) return false;
  memcpy(out, resolved, strlen(resolved) + 1);
  return true;
}

bool LibraryLoaded(const char* path) {
  void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

bool MakePrivateFolder(const char* parent, char* out, size_t size, char* reason, size_t reasonSize) {
  char pattern[PATH_MAX];
  int length = snprintf(pattern, sizeof pattern, "%s.buslog-XXXXXX", parent);
  if (length < 0 || static_cast<size_t>(length) + 2 > size || static_cast<size_t>(length) >= sizeof pattern) {
    snprintf(reason, reasonSize, "the path is too long");
    return false;
  }
  if (mkdtemp(pattern) == nullptr) {
    Reason(reason, reasonSize, errno);
    return false;
  }
  snprintf(out, size, "%s/", pattern);
  return true;
}

bool TemporaryFolder(char* out, size_t size) {
  const char* folder = getenv("TMPDIR");
  if (folder == nullptr || folder[0] == '\0') folder = "/tmp";
  size_t length = strlen(folder);
  bool slash = folder[length - 1] == '/';
  int written = snprintf(out, size, "%s%s", folder, slash ? "" : "/");
  return written > 0 && static_cast<size_t>(written) < size;
}

bool CopyFileTo(const char* from, const char* to, char* reason, size_t reasonSize) {
  int in = open(from, O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    Reason(reason, reasonSize, errno);
    return false;
  }
  int out = open(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0700);
  bool copied = out >= 0;
  char block[64 * 1024];
  while (copied) {
    ssize_t got = read(in, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      copied = got == 0;
      break;
    }
    for (ssize_t done = 0; copied && done < got;) {
      ssize_t put = write(out, block + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      copied = put > 0;
      if (copied) done += put;
    }
  }
  if (!copied) Reason(reason, reasonSize, errno);
  if (out >= 0) close(out);
  close(in);
  if (!copied) unlink(to);
  return copied;
}

bool RemoveFolder(const char* path) { return rmdir(path) == 0; }

bool MakeFolder(const char* path, char* reason, size_t reasonSize) {
  if (mkdir(path, 0777) == 0) return true;
  Reason(reason, reasonSize, errno);
  return false;
}

void ClearSystemError() { errno = 0; }

int LastSystemError() { return errno; }

void SystemErrorText(int error, char* text, size_t size) {
  if (error == 0) {
    snprintf(text, size, "the system gave no reason");
  } else {
    snprintf(text, size, "%s", strerror(error));
  }
}

ErrorKind KindOfError(int error) {
  if (error == EFBIG) return ErrorKind::kFileTooLarge;
  if (error == ENOSPC || error == EDQUOT) return ErrorKind::kNoSpace;
  return ErrorKind::kOther;
}

bool WatchFile(const char* path, FileWatch* watch) {
  int fd;
  do {
    fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  *watch = FileWatch{fd, fd >= 0};
  return fd >= 0;
}

void EndWatch(FileWatch* watch) {
  if (watch->handle >= 0) close(static_cast<int>(watch->handle));
  watch->handle = -1;
  watch->canRead = false;
}

bool LookAtWatched(const FileWatch& watch, WatchedFile* state) {
  struct stat st;
  if (watch.handle < 0 || fstat(static_cast<int>(watch.handle), &st) != 0) return false;
  state->identity = IdentityOfStat(st);
  state->size = static_cast<uint64_t>(st.st_size);
  state->links = static_cast<uint64_t>(st.st_nlink);
  return true;
}

FileEnd EndOfWatched(const FileWatch& watch, uint64_t size) {
  if (size == 0) return FileEnd::kWhole;
  if (!watch.canRead || size < 2) return size < 2 ? FileEnd::kCut : FileEnd::kUnknown;
  char last[2];
  ssize_t got = pread(static_cast<int>(watch.handle), last, 2, static_cast<off_t>(size - 2));
  if (got != 2) return FileEnd::kUnknown;
  return last[0] == '\r' && last[1] == '\n' ? FileEnd::kWhole : FileEnd::kCut;
}

bool PathOfWatched(const FileWatch& watch, char* out, size_t size) {
  if (watch.handle < 0 || size == 0) return false;
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", static_cast<int>(watch.handle));
  ssize_t length = readlink(link, out, size - 1);
  if (length <= 0) return false;
  out[length] = '\0';
  return true;
}

}  // namespace buslog_files
