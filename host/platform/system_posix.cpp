// POSIX half of the host's system services: descriptors, poll with a
// self-pipe that a signal handler writes to, stat identities, realpath.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "platform/system.h"

namespace buslog_host {
namespace {

std::atomic<int> g_stopRequests{0};
// Written by the signal handler and by WakeInputReader, watched by the
// reader thread's poll. Both ends are non-blocking: a full pipe already
// says all there is to say.
int g_wakePipe[2] = {-1, -1};

bool MakeWakePipe() {
  if (g_wakePipe[0] >= 0) return true;
  int fds[2];
  if (pipe(fds) != 0) return false;
  for (int fd : fds) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  g_wakePipe[0] = fds[0];
  g_wakePipe[1] = fds[1];
  return true;
}

void Poke() {
  if (g_wakePipe[1] < 0) return;
  char byte = 1;
  ssize_t ignored = write(g_wakePipe[1], &byte, 1);
  (void)ignored;
}

void OnStopSignal(int) {
  int savedErrno = errno;
  g_stopRequests.fetch_add(1);
  Poke();
  errno = savedErrno;
}

void Reason(char* reason, size_t size, int error) { snprintf(reason, size, "%s", strerror(error)); }

FileIdentity IdentityOfStat(const struct stat& st) {
  return FileIdentity{true, static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

}  // namespace

bool OpenInputFile(const char* path, InputFile* input, char* reason, size_t reasonSize) {
  *input = InputFile{};
  input->standardInput = strcmp(path, "-") == 0;
  int fd = 0;
  if (!input->standardInput) {
    // A folder is refused before open(), which would take it.
    struct stat before;
    if (stat(path, &before) != 0) {
      Reason(reason, reasonSize, errno);
      return false;
    }
    if (S_ISDIR(before.st_mode)) {
      snprintf(reason, reasonSize, "is a folder, not a candump trace");
      return false;
    }
    do {
      fd = open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      Reason(reason, reasonSize, errno);
      return false;
    }
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    Reason(reason, reasonSize, errno);
    if (!input->standardInput) close(fd);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    snprintf(reason, reasonSize, "is a folder, not a candump trace");
    if (!input->standardInput) close(fd);
    return false;
  }
  input->handle = fd;
  input->identity = IdentityOfStat(st);
  if (S_ISREG(st.st_mode)) {
    input->kind = InputKind::kRegular;
    input->size = static_cast<uint64_t>(st.st_size);
    input->stream = input->standardInput ? stdin : fdopen(fd, "rb");
    if (input->stream == nullptr) {
      Reason(reason, reasonSize, errno);
      close(fd);
      return false;
    }
  } else {
    input->kind = InputKind::kStream;
    if (!MakeWakePipe()) {
      Reason(reason, reasonSize, errno);
      if (!input->standardInput) close(fd);
      return false;
    }
  }
  return true;
}

void CloseInputFile(InputFile* input) {
  if (input->standardInput) return;
  if (input->stream != nullptr) {
    fclose(input->stream);
  } else {
    close(static_cast<int>(input->handle));
  }
  input->stream = nullptr;
}

long ReadInput(const InputFile& input, char* bytes, size_t size) {
  int fd = static_cast<int>(input.handle);
  for (;;) {
    struct pollfd watched[2] = {{fd, POLLIN, 0}, {g_wakePipe[0], POLLIN, 0}};
    int ready = poll(watched, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) {
        if (g_stopRequests.load() > 0) return -2;
        continue;
      }
      return -1;
    }
    if (watched[1].revents != 0) return -2;
    if (watched[0].revents == 0) continue;
    ssize_t got = read(fd, bytes, size);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    return got < 0 ? -1 : static_cast<long>(got);
  }
}

bool WakeInputReader(const InputFile&) {
  Poke();
  return true;
}

void InstallStopHandlers() {
  MakeWakePipe();
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // Interrupted system calls restart: the module's writes and the block
  // reader carry on, and only the reader's poll returns early.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}

int StopRequests() { return g_stopRequests.load(std::memory_order_relaxed); }

void StopHandlingDone() {
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  signal(SIGHUP, SIG_DFL);
}

bool IdentityOfPath(const char* path, FileIdentity* identity) {
  struct stat st;
  if (stat(path, &st) != 0) return false;
  *identity = IdentityOfStat(st);
  return true;
}

bool IdentityOfFile(FILE* file, FileIdentity* identity) {
  struct stat st;
  if (fstat(fileno(file), &st) != 0) return false;
  *identity = IdentityOfStat(st);
  return true;
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

FILE* CreateOutputFile(const char* path, bool replace) {
  int fd = open(path, O_WRONLY | O_CREAT | (replace ? O_TRUNC : O_EXCL), 0666);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "wb");
  if (file == nullptr) close(fd);
  return file;
}

void SetBinaryMode(FILE*) {}

bool RemoveFile(const char* path) { return unlink(path) == 0; }

bool SyncFolderOf(const char* path) {
  const char* slash = strrchr(path, '/');
  std::string folder = slash == nullptr ? std::string(".") : std::string(path, slash == path ? 1 : slash - path);
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int synced;
  do {
    synced = fsync(fd);
  } while (synced != 0 && errno == EINTR);
  // EINVAL: this file system cannot sync a folder (some FUSE and network
  // file systems); there is nothing more to do there.
  bool done = synced == 0 || errno == EINVAL;
  close(fd);
  return done;
}

bool TruncateFile(FILE* file, uint64_t size) {
  return ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
}

bool SizeOfFile(const char* path, uint64_t* size) {
  struct stat st;
  if (stat(path, &st) != 0) return false;
  *size = static_cast<uint64_t>(st.st_size);
  return true;
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
  size_t used = 0;
  for (const char* p = fromDirectory + common; *p != '\0'; ++p) {
    if (*p != '/') continue;
    if (used + 3 >= size) {
      snprintf(reason, reasonSize, "the path is too long");
      return false;
    }
    memcpy(out + used, "../", 3);
    used += 3;
  }
  int written = snprintf(out + used, size - used, "%s", to + common);
  if (written < 0 || static_cast<size_t>(written) >= size - used) {
    snprintf(reason, reasonSize, "the path is too long");
    return false;
  }
  return true;
}

bool LocalTime(int64_t seconds, struct tm* out) {
  time_t t = static_cast<time_t>(seconds);
  return localtime_r(&t, out) != nullptr;
}

// ---- the program, its folder, standard error

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

void WriteStandardError(const char* bytes, size_t count) {
  while (count > 0) {
    ssize_t written = write(fileno(stderr), bytes, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    bytes += written;
    count -= static_cast<size_t>(written);
  }
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

void IgnoreFileSizeSignal() { signal(SIGXFSZ, SIG_IGN); }

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

}  // namespace buslog_host
