/* A small library preloaded under the directory-sync test: it stands in for
 * the C library's fsync, notes each call (the path of the descriptor and
 * whether it is a directory) and passes it on, or fails a directory's sync
 * with an errno the test chooses. The test reaches the notes through the
 * fsync_spy_* functions below, found with dlsym. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#define SPY_CALLS 16
#define SPY_PATH 4096

static char g_paths[SPY_CALLS][SPY_PATH];
static int g_isDirectory[SPY_CALLS];
static int g_calls;
static int g_directoryError;

int fsync(int fd) {
  if (g_calls < SPY_CALLS) {
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t length = readlink(link, g_paths[g_calls], SPY_PATH - 1);
    g_paths[g_calls][length > 0 ? length : 0] = '\0';
    struct stat status;
    g_isDirectory[g_calls] = fstat(fd, &status) == 0 && S_ISDIR(status.st_mode);
  }
  int directory = g_calls < SPY_CALLS ? g_isDirectory[g_calls] : 0;
  ++g_calls;
  if (directory && g_directoryError != 0) {
    errno = g_directoryError;
    return -1;
  }
  int (*real)(int) = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
  return real(fd);
}

/* Forgets the calls so far; from now on a directory's sync fails with
 * `error` (0: it is passed on). */
void fsync_spy_reset(int error) {
  g_calls = 0;
  g_directoryError = error;
}

int fsync_spy_calls(void) { return g_calls; }

/* The path of call `i`, and whether it was a directory; "" and 0 for calls
 * beyond those kept. */
const char* fsync_spy_path(int i) { return i >= 0 && i < SPY_CALLS && i < g_calls ? g_paths[i] : ""; }
int fsync_spy_is_directory(int i) { return i >= 0 && i < SPY_CALLS && i < g_calls ? g_isDirectory[i] : 0; }
