/* A small library preloaded under the durability tests of the real POSIX
 * platform: it stands in for the C library's fsync, fdatasync and
 * ftruncate, notes each call (which of them, the path of the descriptor and
 * whether it is a directory) and passes it on, or fails a directory's sync,
 * or a file's, with an errno the test chooses. The test reaches the notes
 * through the fsync_spy_* functions below, found with dlsym. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#define SPY_CALLS 16
#define SPY_PATH 4096

static const char* g_kinds[SPY_CALLS];
static char g_paths[SPY_CALLS][SPY_PATH];
static int g_isDirectory[SPY_CALLS];
static int g_calls;
static int g_directoryError;
static int g_fileError;

/* Notes a call of `kind` on `fd`; returns whether `fd` is a directory. */
static int Note(const char* kind, int fd) {
  int directory = 0;
  struct stat status;
  if (fstat(fd, &status) == 0) directory = S_ISDIR(status.st_mode);
  if (g_calls < SPY_CALLS) {
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t length = readlink(link, g_paths[g_calls], SPY_PATH - 1);
    g_paths[g_calls][length > 0 ? length : 0] = '\0';
    g_kinds[g_calls] = kind;
    g_isDirectory[g_calls] = directory;
  }
  ++g_calls;
  return directory;
}

/* The error a sync of `fd` fails with on request, 0 when passed on. */
static int SyncError(int directory) { return directory ? g_directoryError : g_fileError; }

/* A sync named `kind` ("fsync", "fdatasync") of `fd`: noted, then failed on
 * request or passed on. */
static int Sync(const char* kind, int fd) {
  int error = SyncError(Note(kind, fd));
  if (error != 0) {
    errno = error;
    return -1;
  }
  int (*real)(int) = (int (*)(int))dlsym(RTLD_NEXT, kind);
  return real(fd);
}

int fsync(int fd) { return Sync("fsync", fd); }
int fdatasync(int fd) { return Sync("fdatasync", fd); }

int ftruncate(int fd, off_t length) {
  Note("ftruncate", fd);
  int (*real)(int, off_t) = (int (*)(int, off_t))dlsym(RTLD_NEXT, "ftruncate");
  return real(fd, length);
}

/* Forgets the calls so far; from now on a directory's sync fails with
 * `error` (0: it is passed on), a file's is passed on. */
void fsync_spy_reset(int error) {
  g_calls = 0;
  g_directoryError = error;
  g_fileError = 0;
}

/* From now on a file's fsync and fdatasync fail with `error` (0: passed on). */
void fsync_spy_fail_files(int error) { g_fileError = error; }

int fsync_spy_calls(void) { return g_calls; }

/* The path of call `i`, which call it was ("fsync", "fdatasync",
 * "ftruncate") and whether on a directory; "" and 0 for calls beyond those
 * kept. */
const char* fsync_spy_path(int i) { return i >= 0 && i < SPY_CALLS && i < g_calls ? g_paths[i] : ""; }
const char* fsync_spy_kind(int i) { return i >= 0 && i < SPY_CALLS && i < g_calls ? g_kinds[i] : ""; }
int fsync_spy_is_directory(int i) { return i >= 0 && i < SPY_CALLS && i < g_calls ? g_isDirectory[i] : 0; }
