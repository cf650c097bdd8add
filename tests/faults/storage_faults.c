/* Storage faults on cue, for tests of programs that write logs: a library
 * preloaded (LD_PRELOAD) under the program, standing in for write and
 * ftruncate. It touches only files whose path matches a pattern; every
 * other descriptor (standard error, pipes, other files) is passed through.
 * What it does is chosen by environment variables, read once:
 *
 *   BUSLOG_FAULT_PATH=PATTERN  the files it acts on: fnmatch(3) against the
 *                              open file's path (its /proc/self/fd link, so
 *                              a deleted file still matches); nothing is
 *                              done without it
 *   BUSLOG_FAULT_WRITE=N       the N-th write into a matching file (from 1,
 *                              over all of them) fails, and those after it
 *                              as BUSLOG_FAULT_TIMES and _SECONDS say
 *   BUSLOG_FAULT_ERRNO=NAME    the error they fail with: EIO (default),
 *                              ENOSPC, EFBIG, EDQUOT, EROFS, ENXIO, or a number
 *   BUSLOG_FAULT_TIMES=K       K writes fail, then writes work again
 *                              (default 1; 0: without end, or for _SECONDS)
 *   BUSLOG_FAULT_SECONDS=S     writes fail for S seconds (a decimal) from
 *                              the first failure, then work again
 *   BUSLOG_FAULT_PARTIAL=B     the N-th write puts only its first B bytes
 *                              into the file (fewer if the buffer is not
 *                              longer) and says so; the failures begin with
 *                              the write after it, which is the rest
 *   BUSLOG_FAULT_FTRUNCATE=NAME  every ftruncate of a matching file fails
 *                              with this error
 *   BUSLOG_FAULT_MAX_SIZE=BYTES  a matching file cannot grow past BYTES: a
 *                              write that would pass it writes up to it,
 *                              one at the limit fails with EFBIG (the
 *                              largest file of a file system, such as FAT32's
 *                              4 GiB), for every write, whatever _WRITE says
 *   BUSLOG_FAULT_REPORT=PATH   appends a line for each fault made, e.g.
 *                              "write 7 EIO" or "write 5 partial 12 of 40",
 *                              so that a test can see that its fault happened
 *   BUSLOG_FAULT_CASE=NAME     for a program that runs several cases in one
 *                              process (the table of write cases): when the
 *                              name changes, the variables above are read
 *                              again and the counts start over
 *
 * Only calls through the C library's exported write and ftruncate are seen:
 * the C library's own streams (fwrite, fclose) write through internal
 * entries and are not. A real file system makes those faults (a full tmpfs,
 * a file size limit). */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

static pthread_once_t g_once = PTHREAD_ONCE_INIT;
static pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;
static ssize_t (*g_realWrite)(int, const void*, size_t);
static int (*g_realFtruncate)(int, off_t);

static const char* g_pattern;
static long g_firstFailing;     /* BUSLOG_FAULT_WRITE, 0: none */
static int g_error = EIO;
static long g_times = 1;        /* 0: no end by count */
static double g_seconds;        /* 0: no end by time */
static long g_partial = -1;     /* -1: no partial write */
static int g_ftruncateError;    /* 0: passed on */
static long long g_maxSize = -1;
static const char* g_report;

static long g_writes;           /* writes into matching files so far */
static long g_failed;           /* writes failed on cue so far */
static int g_partialDone;
static int g_over;              /* the failures have ended */
static struct timespec g_failingSince;

static const struct {
  const char* name;
  int value;
} kErrors[] = {{"EIO", EIO},     {"ENOSPC", ENOSPC}, {"EFBIG", EFBIG}, {"EDQUOT", EDQUOT},
               {"EROFS", EROFS}, {"ENXIO", ENXIO},   {"EPERM", EPERM}, {"EACCES", EACCES}};

static int ErrorOf(const char* text) {
  for (size_t i = 0; i < sizeof kErrors / sizeof kErrors[0]; ++i) {
    if (strcmp(text, kErrors[i].name) == 0) return kErrors[i].value;
  }
  return atoi(text) > 0 ? atoi(text) : EIO;
}

static const char* NameOf(int error) {
  for (size_t i = 0; i < sizeof kErrors / sizeof kErrors[0]; ++i) {
    if (kErrors[i].value == error) return kErrors[i].name;
  }
  return "errno";
}

static char g_case[256];

static void ReadSettings(void) {
  const char* text;
  g_firstFailing = 0;
  g_error = EIO;
  g_times = 1;
  g_seconds = 0;
  g_partial = -1;
  g_ftruncateError = 0;
  g_maxSize = -1;
  g_writes = g_failed = 0;
  g_partialDone = g_over = 0;
  g_pattern = getenv("BUSLOG_FAULT_PATH");
  if ((text = getenv("BUSLOG_FAULT_WRITE")) != NULL) g_firstFailing = atol(text);
  if ((text = getenv("BUSLOG_FAULT_ERRNO")) != NULL) g_error = ErrorOf(text);
  if ((text = getenv("BUSLOG_FAULT_SECONDS")) != NULL) {
    g_seconds = atof(text);
    g_times = 0;
  }
  if ((text = getenv("BUSLOG_FAULT_TIMES")) != NULL) g_times = atol(text);
  if ((text = getenv("BUSLOG_FAULT_PARTIAL")) != NULL) g_partial = atol(text);
  if ((text = getenv("BUSLOG_FAULT_FTRUNCATE")) != NULL) g_ftruncateError = ErrorOf(text);
  if ((text = getenv("BUSLOG_FAULT_MAX_SIZE")) != NULL) g_maxSize = atoll(text);
  g_report = getenv("BUSLOG_FAULT_REPORT");
}

static void Setup(void) {
  g_realWrite = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
  g_realFtruncate = (int (*)(int, off_t))dlsym(RTLD_NEXT, "ftruncate");
  const char* name = getenv("BUSLOG_FAULT_CASE");
  if (name != NULL) snprintf(g_case, sizeof g_case, "%s", name);
  ReadSettings();
}

/* A new case: its settings, counted afresh. */
static void CheckCase(void) {
  const char* name = getenv("BUSLOG_FAULT_CASE");
  if (name == NULL || strncmp(name, g_case, sizeof g_case) == 0) return;
  pthread_mutex_lock(&g_mutex);
  snprintf(g_case, sizeof g_case, "%s", name);
  ReadSettings();
  pthread_mutex_unlock(&g_mutex);
}

static int Matches(int fd) {
  if (g_pattern == NULL || fd < 0) return 0;
  char link[64];
  char path[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t length = readlink(link, path, sizeof path - 1);
  if (length <= 0) return 0;
  path[length] = '\0';
  return fnmatch(g_pattern, path, 0) == 0;
}

/* Appends `line` to the report file, if one was asked for. */
static void Report(const char* line) {
  if (g_report == NULL) return;
  size_t length = strlen(line);
  int fd = open(g_report, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  g_realWrite(fd, line, length);
  close(fd);
}

static double SecondsSince(const struct timespec* start) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)(now.tv_sec - start->tv_sec) + (double)(now.tv_nsec - start->tv_nsec) / 1e9;
}

/* Whether the write numbered `n` fails on cue; the caller holds the mutex. */
static int FailsNow(long n) {
  if (g_firstFailing <= 0 || n < g_firstFailing || g_over) return 0;
  if (g_failed == 0) clock_gettime(CLOCK_MONOTONIC, &g_failingSince);
  if ((g_times > 0 && g_failed >= g_times) || (g_seconds > 0 && SecondsSince(&g_failingSince) >= g_seconds)) {
    g_over = 1;
    return 0;
  }
  ++g_failed;
  return 1;
}

ssize_t write(int fd, const void* bytes, size_t count) {
  pthread_once(&g_once, Setup);
  CheckCase();
  if (fd <= 2 || g_pattern == NULL || !Matches(fd)) return g_realWrite(fd, bytes, count);

  pthread_mutex_lock(&g_mutex);
  long n = ++g_writes;
  if (g_maxSize >= 0) {
    struct stat st;
    off_t at = lseek(fd, 0, SEEK_CUR);
    if (fstat(fd, &st) == 0 && at >= 0) {
      if ((fcntl(fd, F_GETFL) & O_APPEND) != 0) at = st.st_size;
      if (at >= g_maxSize) {
        pthread_mutex_unlock(&g_mutex);
        char line[96];
        snprintf(line, sizeof line, "write %ld EFBIG at the size limit %lld\n", n, g_maxSize);
        Report(line);
        errno = EFBIG;
        return -1;
      }
      if ((long long)at + (long long)count > g_maxSize) count = (size_t)(g_maxSize - at);
    }
  }
  if (g_partial >= 0 && !g_partialDone && g_firstFailing > 0 && n == g_firstFailing) {
    g_partialDone = 1;
    /* The failures proper begin with the next write. */
    ++g_firstFailing;
    size_t part = (size_t)g_partial < count ? (size_t)g_partial : (count > 0 ? count - 1 : 0);
    pthread_mutex_unlock(&g_mutex);
    ssize_t written = g_realWrite(fd, bytes, part);
    char line[96];
    snprintf(line, sizeof line, "write %ld partial %ld of %zu\n", n, (long)written, count);
    Report(line);
    return written;
  }
  int fails = FailsNow(n);
  pthread_mutex_unlock(&g_mutex);
  if (fails) {
    char line[96];
    snprintf(line, sizeof line, "write %ld %s\n", n, NameOf(g_error));
    Report(line);
    errno = g_error;
    return -1;
  }
  return g_realWrite(fd, bytes, count);
}

int ftruncate(int fd, off_t length) {
  pthread_once(&g_once, Setup);
  CheckCase();
  if (g_ftruncateError != 0 && Matches(fd)) {
    char line[96];
    snprintf(line, sizeof line, "ftruncate %lld %s\n", (long long)length, NameOf(g_ftruncateError));
    Report(line);
    errno = g_ftruncateError;
    return -1;
  }
  return g_realFtruncate(fd, length);
}
