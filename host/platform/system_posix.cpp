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

}  // namespace

bool OpenInputFile(const char* path, InputFile* input, char* reason, size_t reasonSize) {
  *input = InputFile{};
  input->standardInput = strcmp(path, "-") == 0;
  int fd = 0;
  if (!input->standardInput) {
    // A folder is refused before open(), which would take it.
    struct stat before;
    if (stat(path, &before) != 0) {
      SystemErrorText(errno, reason, reasonSize);
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
      SystemErrorText(errno, reason, reasonSize);
      return false;
    }
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    SystemErrorText(errno, reason, reasonSize);
    if (!input->standardInput) close(fd);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    snprintf(reason, reasonSize, "is a folder, not a candump trace");
    if (!input->standardInput) close(fd);
    return false;
  }
  input->handle = fd;
  IdentityOfHandle(fd, &input->identity);
  if (S_ISREG(st.st_mode)) {
    input->kind = InputKind::kRegular;
    input->size = static_cast<uint64_t>(st.st_size);
    input->stream = input->standardInput ? stdin : fdopen(fd, "rb");
    if (input->stream == nullptr) {
      SystemErrorText(errno, reason, reasonSize);
      close(fd);
      return false;
    }
  } else {
    input->kind = InputKind::kStream;
    if (!MakeWakePipe()) {
      SystemErrorText(errno, reason, reasonSize);
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

bool IdentityOfFile(FILE* file, FileIdentity* identity) { return IdentityOfHandle(fileno(file), identity); }

FILE* CreateOutputFile(const char* path, bool replace) {
  int fd = open(path, O_WRONLY | O_CREAT | (replace ? O_TRUNC : O_EXCL), 0666);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "wb");
  if (file == nullptr) close(fd);
  return file;
}

void SetBinaryMode(FILE*) {}

bool TruncateFile(FILE* file, uint64_t size) {
  return ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
}

bool CutBackFile(FILE* file, uint64_t bytes) {
  struct stat st;
  int fd = fileno(file);
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  off_t at = lseek(fd, 0, SEEK_CUR);
  if (at < 0 || static_cast<uint64_t>(at) < bytes) return false;
  return ftruncate(fd, at - static_cast<off_t>(bytes)) == 0 && lseek(fd, at - static_cast<off_t>(bytes), SEEK_SET) >= 0;
}

// ---- the program, its folder, standard error

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

void IgnoreFileSizeSignal() { signal(SIGXFSZ, SIG_IGN); }

}  // namespace buslog_host
