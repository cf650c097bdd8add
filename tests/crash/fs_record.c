/* Records what a program does to the files of one folder, for the
 * crash-state test (tests/crash/crash_states.py): a library preloaded
 * (LD_PRELOAD) under the program and every program it starts, standing in
 * for the C library's calls that change files. Each call on a file under
 * the folder is passed on and, once it returned, sent as one event to the
 * test, which builds from them every state that a power cut could leave:
 *
 *   BUSLOG_RECORD_ROOT=DIR       the folder whose files (and subfolders) are
 *                                recorded; nothing is recorded without it
 *   BUSLOG_RECORD_SOCKET=PATH    the test's datagram socket (AF_UNIX); each
 *                                event is one datagram, so events of several
 *                                processes and threads arrive whole, in the
 *                                order the calls returned, and a file size
 *                                limit on the program (RLIMIT_FSIZE) does
 *                                not touch the recording
 *
 * Events, a header line of fields and then the event's text or bytes
 * (PROC is "pid.start-nanoseconds", SEQ counts from 0 in each process image):
 *
 *   W PROC SEQ DEV INO OFFSET COUNT OK DSYNC\n BYTES   a write that put COUNT
 *        bytes at OFFSET; OK 1 when the call wrote all it was asked to,
 *        DSYNC 1 when the file was opened O_DSYNC or O_SYNC (a long write is
 *        sent in several W events, OK the call's for each)
 *   E PROC SEQ DEV INO ERRNO                      a write that failed
 *   O PROC SEQ DEV INO CREATED TRUNCATED\n PATH\n  an open for writing
 *   T PROC SEQ DEV INO LENGTH                     a truncation
 *   S PROC SEQ DEV INO                            fsync or fdatasync of a file
 *   D PROC SEQ\n PATH\n                           fsync or fdatasync of a folder
 *   U PROC SEQ DEV INO\n PATH\n                   a name removed
 *   R PROC SEQ DEV INO\n OLD\n NEW\n               a rename
 *   C PROC SEQ DEV INO                            a close
 *   G PROC SEQ                                    sync or syncfs: all of it
 *
 * Only the C library's exported entries are seen (open, write, ftruncate,
 * fsync, unlink, rename ... and their 64-bit and *at forms); its own streams
 * (fopen, fwrite) use internal entries and are not, and neither are mmap
 * writes or folders made and removed. POSIX (Linux) only. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

/* Bytes of a write carried by one datagram; a longer write is sent in
 * parts. The kernel's default send buffer of a datagram socket holds more. */
#define PART_BYTES 32768
#define HEADER_BYTES 256

static pthread_once_t g_once = PTHREAD_ONCE_INIT;
/* Held around each recorded call and its event, so that the events of one
 * process are in the order its calls took effect. */
static pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;

static char g_root[PATH_MAX];
static size_t g_rootLength;
static struct sockaddr_un g_address;
static int g_socket = -1;
static char g_proc[64];
static unsigned long long g_sequence;
static int g_lostSaid;

static int (*g_open)(const char*, int, ...);
static int (*g_open64)(const char*, int, ...);
static int (*g_openat)(int, const char*, int, ...);
static int (*g_openat64)(int, const char*, int, ...);
static ssize_t (*g_write)(int, const void*, size_t);
static ssize_t (*g_pwrite)(int, const void*, size_t, off_t);
static ssize_t (*g_pwrite64)(int, const void*, size_t, off_t);
static ssize_t (*g_writev)(int, const struct iovec*, int);
static int (*g_ftruncate)(int, off_t);
static int (*g_ftruncate64)(int, off_t);
static int (*g_truncate)(const char*, off_t);
static int (*g_truncate64)(const char*, off_t);
static int (*g_fsync)(int);
static int (*g_fdatasync)(int);
static void (*g_sync)(void);
static int (*g_syncfs)(int);
static int (*g_unlink)(const char*);
static int (*g_unlinkat)(int, const char*, int);
static int (*g_rename)(const char*, const char*);
static int (*g_renameat)(int, const char*, int, const char*);
static int (*g_renameat2)(int, const char*, int, const char*, unsigned int);
static int (*g_close)(int);

static void* Next(const char* name) { return dlsym(RTLD_NEXT, name); }

static void NameThisProcess(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  snprintf(g_proc, sizeof g_proc, "%d.%lld", (int)getpid(), (long long)now.tv_sec * 1000000000LL + now.tv_nsec);
  g_sequence = 0;
}

/* A fork waits for a recorded call of another thread to finish, so that
 * the child does not start with the mutex held; the child is a process of
 * its own: its own name and count. */
static void BeforeFork(void) { pthread_mutex_lock(&g_mutex); }
static void AfterForkInParent(void) { pthread_mutex_unlock(&g_mutex); }
static void AfterForkInChild(void) {
  pthread_mutex_unlock(&g_mutex);
  NameThisProcess();
}

static void Setup(void) {
  *(void**)&g_open = Next("open");
  *(void**)&g_open64 = Next("open64");
  *(void**)&g_openat = Next("openat");
  *(void**)&g_openat64 = Next("openat64");
  *(void**)&g_write = Next("write");
  *(void**)&g_pwrite = Next("pwrite");
  *(void**)&g_pwrite64 = Next("pwrite64");
  *(void**)&g_writev = Next("writev");
  *(void**)&g_ftruncate = Next("ftruncate");
  *(void**)&g_ftruncate64 = Next("ftruncate64");
  *(void**)&g_truncate = Next("truncate");
  *(void**)&g_truncate64 = Next("truncate64");
  *(void**)&g_fsync = Next("fsync");
  *(void**)&g_fdatasync = Next("fdatasync");
  *(void**)&g_sync = Next("sync");
  *(void**)&g_syncfs = Next("syncfs");
  *(void**)&g_unlink = Next("unlink");
  *(void**)&g_unlinkat = Next("unlinkat");
  *(void**)&g_rename = Next("rename");
  *(void**)&g_renameat = Next("renameat");
  *(void**)&g_renameat2 = Next("renameat2");
  *(void**)&g_close = Next("close");

  const char* root = getenv("BUSLOG_RECORD_ROOT");
  const char* socketPath = getenv("BUSLOG_RECORD_SOCKET");
  if (root == NULL || socketPath == NULL || realpath(root, g_root) == NULL) return;
  if (strlen(socketPath) >= sizeof g_address.sun_path) return;
  g_address.sun_family = AF_UNIX;
  strcpy(g_address.sun_path, socketPath);
  g_socket = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (g_socket < 0) return;
  g_rootLength = strlen(g_root);
  NameThisProcess();
  pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild);
}

static int Recording(void) {
  pthread_once(&g_once, Setup);
  return g_rootLength > 0;
}

/* Whether the full path `path` is the root folder or lies under it. */
static int UnderRoot(const char* path) {
  return strncmp(path, g_root, g_rootLength) == 0 && (path[g_rootLength] == '/' || path[g_rootLength] == '\0');
}

/* The path the descriptor `fd` was opened by (a deleted file keeps its
 * name, with " (deleted)" after it). */
static int PathOfDescriptor(int fd, char* path, size_t size) {
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t length = readlink(link, path, size - 1);
  if (length <= 0) return 0;
  path[length] = '\0';
  return 1;
}

/* Whether `fd` is a regular file or a folder under the root; `folder` says
 * which. */
static int Watched(int fd, int* folder) {
  if (fd < 0 || !Recording()) return 0;
  char path[PATH_MAX];
  if (!PathOfDescriptor(fd, path, sizeof path) || !UnderRoot(path)) return 0;
  struct stat st;
  if (fstat(fd, &st) != 0) return 0;
  *folder = S_ISDIR(st.st_mode);
  return S_ISDIR(st.st_mode) || S_ISREG(st.st_mode);
}

/* The full path of `path` taken relative to the folder `dirfd` (AT_FDCWD:
 * the current one): its folder resolved, its last name kept as it is, so
 * that a name removed or not yet made still has one. False when the folder
 * cannot be resolved. */
static int FullPath(int dirfd, const char* path, char* out, size_t size) {
  char joined[PATH_MAX * 2];
  if (path[0] == '/') {
    snprintf(joined, sizeof joined, "%s", path);
  } else {
    char base[PATH_MAX];
    if (dirfd == AT_FDCWD) {
      if (getcwd(base, sizeof base) == NULL) return 0;
    } else if (!PathOfDescriptor(dirfd, base, sizeof base)) {
      return 0;
    }
    snprintf(joined, sizeof joined, "%s/%s", base, path);
  }
  char* slash = strrchr(joined, '/');
  const char* name = slash + 1;
  char folder[PATH_MAX];
  *slash = '\0';
  if (realpath(joined[0] == '\0' ? "/" : joined, folder) == NULL) return 0;
  int written = snprintf(out, size, "%s/%s", strcmp(folder, "/") == 0 ? "" : folder, name);
  return written > 0 && (size_t)written < size;
}

static void Send(const char* header, size_t headerLength, const void* bytes, size_t count) {
  struct iovec parts[2] = {{(void*)header, headerLength}, {(void*)bytes, count}};
  struct msghdr message;
  memset(&message, 0, sizeof message);
  message.msg_name = &g_address;
  message.msg_namelen = sizeof g_address;
  message.msg_iov = parts;
  message.msg_iovlen = count > 0 ? 2 : 1;
  ssize_t sent;
  do {
    sent = sendmsg(g_socket, &message, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0 && !g_lostSaid) {
    /* The test sees the gap in the sequence; say why here. */
    char line[160];
    int length = snprintf(line, sizeof line, "fs_record: an event could not be sent: %s\n", strerror(errno));
    g_lostSaid = 1;
    if (length > 0) g_write(2, line, (size_t)length);
  }
  ++g_sequence;
}

/* Sends one event: `format` fills the header after "KIND PROC SEQ". The
 * caller holds the mutex; errno is kept. */
static void Event(char kind, const void* bytes, size_t count, const char* format, ...) {
  int saved = errno;
  char header[HEADER_BYTES + 2 * PATH_MAX];
  int length = snprintf(header, sizeof header, "%c %s %llu", kind, g_proc, g_sequence);
  va_list args;
  va_start(args, format);
  length += vsnprintf(header + length, sizeof header - (size_t)length, format, args);
  va_end(args);
  if (length >= (int)sizeof header) length = (int)sizeof header - 1;
  Send(header, (size_t)length, bytes, count);
  errno = saved;
}

static void Identify(int fd, unsigned long long* device, unsigned long long* inode) {
  struct stat st;
  if (fstat(fd, &st) != 0) memset(&st, 0, sizeof st);
  *device = (unsigned long long)st.st_dev;
  *inode = (unsigned long long)st.st_ino;
}

/* After a write on `fd` that wrote `result` of `count` bytes ending at the
 * file offset `end` (-1: the descriptor's offset now). */
static void WriteEvent(int fd, const void* bytes, size_t count, ssize_t result, off_t end) {
  int error = errno;
  unsigned long long device, inode;
  Identify(fd, &device, &inode);
  if (result < 0) {
    errno = error;
    Event('E', NULL, 0, " %llu %llu %d\n", device, inode, error);
    return;
  }
  if (end < 0) end = lseek(fd, 0, SEEK_CUR);
  off_t at = end - (off_t)result;
  int dsync = (fcntl(fd, F_GETFL) & O_DSYNC) != 0;
  int whole = (size_t)result == count;
  size_t done = 0;
  do {
    size_t part = (size_t)result - done > PART_BYTES ? PART_BYTES : (size_t)result - done;
    Event('W', (const char*)bytes + done, part, " %llu %llu %lld %zu %d %d\n", device, inode,
          (long long)(at + (off_t)done), part, whole, dsync);
    done += part;
  } while (done < (size_t)result);
}

/* ---- opens */

static int OpenEvent(int fd, const char* full, int flags, int existed) {
  if (fd < 0) return fd;
  unsigned long long device, inode;
  Identify(fd, &device, &inode);
  int created = (flags & O_CREAT) != 0 && !existed;
  int truncated = (flags & O_TRUNC) != 0 && existed;
  Event('O', NULL, 0, " %llu %llu %d %d\n%s\n", device, inode, created, truncated, full);
  return fd;
}

/* Whether an open with `flags` can change a file: made, emptied or written. */
static int Changes(int flags) { return (flags & (O_CREAT | O_TRUNC | O_WRONLY | O_RDWR)) != 0; }

#define OPEN_BODY(CALL, DIRFD)                                                         \
  mode_t mode = 0;                                                                     \
  if ((flags & O_CREAT) != 0 || (flags & __O_TMPFILE) == __O_TMPFILE) {                \
    va_list args;                                                                      \
    va_start(args, flags);                                                             \
    mode = (mode_t)va_arg(args, int);                                                  \
    va_end(args);                                                                      \
  }                                                                                    \
  char full[PATH_MAX];                                                                 \
  if (!Recording() || !Changes(flags) || !FullPath(DIRFD, path, full, sizeof full) ||  \
      !UnderRoot(full)) {                                                              \
    return CALL;                                                                       \
  }                                                                                    \
  pthread_mutex_lock(&g_mutex);                                                        \
  struct stat before;                                                                  \
  int existed = lstat(full, &before) == 0;                                             \
  int fd = CALL;                                                                       \
  struct stat after;                                                                   \
  if (fd >= 0 && fstat(fd, &after) == 0 && S_ISREG(after.st_mode)) {                  \
    OpenEvent(fd, full, flags, existed);                                               \
  }                                                                                    \
  pthread_mutex_unlock(&g_mutex);                                                      \
  return fd;

int open(const char* path, int flags, ...) { OPEN_BODY(g_open(path, flags, mode), AT_FDCWD) }
int open64(const char* path, int flags, ...) { OPEN_BODY(g_open64(path, flags, mode), AT_FDCWD) }
int openat(int dirfd, const char* path, int flags, ...) { OPEN_BODY(g_openat(dirfd, path, flags, mode), dirfd) }
int openat64(int dirfd, const char* path, int flags, ...) {
  OPEN_BODY(g_openat64(dirfd, path, flags, mode), dirfd)
}
int creat(const char* path, mode_t mode) { return open(path, O_CREAT | O_WRONLY | O_TRUNC, mode); }
int creat64(const char* path, mode_t mode) { return open64(path, O_CREAT | O_WRONLY | O_TRUNC, mode); }
/* The fortified entries, which take no mode (never O_CREAT). */
int __open_2(const char* path, int flags) { return open(path, flags); }
int __open64_2(const char* path, int flags) { return open64(path, flags); }
int __openat_2(int dirfd, const char* path, int flags) { return openat(dirfd, path, flags); }
int __openat64_2(int dirfd, const char* path, int flags) { return openat64(dirfd, path, flags); }

/* ---- writes */

ssize_t write(int fd, const void* bytes, size_t count) {
  pthread_once(&g_once, Setup);
  int folder;
  if (fd <= 2 || !Watched(fd, &folder)) return g_write(fd, bytes, count);
  pthread_mutex_lock(&g_mutex);
  ssize_t result = g_write(fd, bytes, count);
  WriteEvent(fd, bytes, count, result, -1);
  pthread_mutex_unlock(&g_mutex);
  return result;
}

static ssize_t PositionedWrite(ssize_t (*call)(int, const void*, size_t, off_t), int fd, const void* bytes,
                               size_t count, off_t offset) {
  int folder;
  if (!Watched(fd, &folder)) return call(fd, bytes, count, offset);
  pthread_mutex_lock(&g_mutex);
  ssize_t result = call(fd, bytes, count, offset);
  WriteEvent(fd, bytes, count, result, result < 0 ? 0 : offset + result);
  pthread_mutex_unlock(&g_mutex);
  return result;
}

ssize_t pwrite(int fd, const void* bytes, size_t count, off_t offset) {
  pthread_once(&g_once, Setup);
  return PositionedWrite(g_pwrite, fd, bytes, count, offset);
}
ssize_t pwrite64(int fd, const void* bytes, size_t count, off_t offset) {
  pthread_once(&g_once, Setup);
  return PositionedWrite(g_pwrite64, fd, bytes, count, offset);
}

ssize_t writev(int fd, const struct iovec* parts, int partCount) {
  pthread_once(&g_once, Setup);
  int folder;
  if (fd <= 2 || !Watched(fd, &folder)) return g_writev(fd, parts, partCount);
  size_t count = 0;
  for (int i = 0; i < partCount; ++i) count += parts[i].iov_len;
  /* The bytes in one piece for the event: gathered before the call. */
  char* joined = malloc(count > 0 ? count : 1);
  if (joined == NULL) return g_writev(fd, parts, partCount);
  size_t at = 0;
  for (int i = 0; i < partCount; ++i) {
    memcpy(joined + at, parts[i].iov_base, parts[i].iov_len);
    at += parts[i].iov_len;
  }
  pthread_mutex_lock(&g_mutex);
  ssize_t result = g_writev(fd, parts, partCount);
  WriteEvent(fd, joined, count, result, -1);
  pthread_mutex_unlock(&g_mutex);
  free(joined);
  return result;
}

/* ---- truncations */

static int DescriptorTruncate(int (*call)(int, off_t), int fd, off_t length) {
  int folder;
  if (!Watched(fd, &folder)) return call(fd, length);
  pthread_mutex_lock(&g_mutex);
  int result = call(fd, length);
  if (result == 0) {
    unsigned long long device, inode;
    Identify(fd, &device, &inode);
    Event('T', NULL, 0, " %llu %llu %lld\n", device, inode, (long long)length);
  }
  pthread_mutex_unlock(&g_mutex);
  return result;
}

int ftruncate(int fd, off_t length) {
  pthread_once(&g_once, Setup);
  return DescriptorTruncate(g_ftruncate, fd, length);
}
int ftruncate64(int fd, off_t length) {
  pthread_once(&g_once, Setup);
  return DescriptorTruncate(g_ftruncate64, fd, length);
}

static int PathTruncate(int (*call)(const char*, off_t), const char* path, off_t length) {
  char full[PATH_MAX];
  if (!Recording() || !FullPath(AT_FDCWD, path, full, sizeof full) || !UnderRoot(full)) return call(path, length);
  pthread_mutex_lock(&g_mutex);
  struct stat st;
  int known = stat(full, &st) == 0;
  int result = call(path, length);
  if (result == 0 && known) {
    Event('T', NULL, 0, " %llu %llu %lld\n", (unsigned long long)st.st_dev, (unsigned long long)st.st_ino,
          (long long)length);
  }
  pthread_mutex_unlock(&g_mutex);
  return result;
}

int truncate(const char* path, off_t length) {
  pthread_once(&g_once, Setup);
  return PathTruncate(g_truncate, path, length);
}
int truncate64(const char* path, off_t length) {
  pthread_once(&g_once, Setup);
  return PathTruncate(g_truncate64, path, length);
}

/* ---- syncs */

static int SyncDescriptor(int (*call)(int), int fd) {
  int folder;
  if (!Watched(fd, &folder)) return call(fd);
  pthread_mutex_lock(&g_mutex);
  int result = call(fd);
  if (result == 0) {
    if (folder) {
      char path[PATH_MAX];
      PathOfDescriptor(fd, path, sizeof path);
      Event('D', NULL, 0, "\n%s\n", path);
    } else {
      unsigned long long device, inode;
      Identify(fd, &device, &inode);
      Event('S', NULL, 0, " %llu %llu\n", device, inode);
    }
  }
  pthread_mutex_unlock(&g_mutex);
  return result;
}

int fsync(int fd) {
  pthread_once(&g_once, Setup);
  return SyncDescriptor(g_fsync, fd);
}
int fdatasync(int fd) {
  pthread_once(&g_once, Setup);
  return SyncDescriptor(g_fdatasync, fd);
}

void sync(void) {
  pthread_once(&g_once, Setup);
  if (!Recording()) {
    g_sync();
    return;
  }
  pthread_mutex_lock(&g_mutex);
  g_sync();
  Event('G', NULL, 0, "\n");
  pthread_mutex_unlock(&g_mutex);
}

int syncfs(int fd) {
  pthread_once(&g_once, Setup);
  if (!Recording()) return g_syncfs(fd);
  pthread_mutex_lock(&g_mutex);
  int result = g_syncfs(fd);
  if (result == 0) Event('G', NULL, 0, "\n");
  pthread_mutex_unlock(&g_mutex);
  return result;
}

/* ---- names */

static int RemoveName(int dirfd, const char* path, int flags) {
  char full[PATH_MAX];
  if (!Recording() || (flags & AT_REMOVEDIR) != 0 || !FullPath(dirfd, path, full, sizeof full) ||
      !UnderRoot(full)) {
    return g_unlinkat(dirfd, path, flags);
  }
  pthread_mutex_lock(&g_mutex);
  struct stat st;
  int known = lstat(full, &st) == 0 && S_ISREG(st.st_mode);
  int result = g_unlinkat(dirfd, path, flags);
  if (result == 0 && known) {
    Event('U', NULL, 0, " %llu %llu\n%s\n", (unsigned long long)st.st_dev, (unsigned long long)st.st_ino, full);
  }
  pthread_mutex_unlock(&g_mutex);
  return result;
}

int unlink(const char* path) {
  pthread_once(&g_once, Setup);
  return RemoveName(AT_FDCWD, path, 0);
}
int unlinkat(int dirfd, const char* path, int flags) {
  pthread_once(&g_once, Setup);
  return RemoveName(dirfd, path, flags);
}

static int Rename(int oldDir, const char* oldPath, int newDir, const char* newPath, unsigned int flags) {
  char oldFull[PATH_MAX];
  char newFull[PATH_MAX];
  int recorded = Recording() && FullPath(oldDir, oldPath, oldFull, sizeof oldFull) &&
                 FullPath(newDir, newPath, newFull, sizeof newFull) && (UnderRoot(oldFull) || UnderRoot(newFull));
  if (!recorded) return g_renameat2(oldDir, oldPath, newDir, newPath, flags);
  pthread_mutex_lock(&g_mutex);
  struct stat st;
  int known = lstat(oldFull, &st) == 0 && S_ISREG(st.st_mode);
  int result = g_renameat2(oldDir, oldPath, newDir, newPath, flags);
  if (result == 0 && known) {
    Event('R', NULL, 0, " %llu %llu\n%s\n%s\n", (unsigned long long)st.st_dev, (unsigned long long)st.st_ino,
          oldFull, newFull);
  }
  pthread_mutex_unlock(&g_mutex);
  return result;
}

int rename(const char* oldPath, const char* newPath) {
  pthread_once(&g_once, Setup);
  return Rename(AT_FDCWD, oldPath, AT_FDCWD, newPath, 0);
}
int renameat(int oldDir, const char* oldPath, int newDir, const char* newPath) {
  pthread_once(&g_once, Setup);
  return Rename(oldDir, oldPath, newDir, newPath, 0);
}
int renameat2(int oldDir, const char* oldPath, int newDir, const char* newPath, unsigned int flags) {
  pthread_once(&g_once, Setup);
  return Rename(oldDir, oldPath, newDir, newPath, flags);
}

/* ---- closes */

int close(int fd) {
  pthread_once(&g_once, Setup);
  int folder;
  if (fd <= 2 || !Watched(fd, &folder) || folder) return g_close(fd);
  pthread_mutex_lock(&g_mutex);
  unsigned long long device, inode;
  Identify(fd, &device, &inode);
  int result = g_close(fd);
  Event('C', NULL, 0, " %llu %llu\n", device, inode);
  pthread_mutex_unlock(&g_mutex);
  return result;
}
