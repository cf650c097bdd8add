/* A model of slow storage for the benchmarks: preloaded into a program
 * (LD_PRELOAD), it delays every write() on a descriptor opened O_DSYNC or
 * O_SYNC, and every fsync() and fdatasync(), by a fixed time, then does the
 * call. Each such call stands for one sync of the device: published
 * figures give 6 to 10 ms for microSD cards and 1 to 3 ms for consumer
 * SSDs. Other writes (pipes, standard error, buffered files) pass
 * untouched.
 *   BUSLOG_SYNC_DELAY_MS   the delay in milliseconds, fractions allowed
 *                          (default 2)
 *   BUSLOG_SYNC_DELAY_REPORT=1  at exit, say on standard error how many
 *                          synced calls there were and how long each took
 *                          on average, the call itself included (a loaded
 *                          machine wakes a sleeper late, so a modelled sync
 *                          may take longer than asked; with a delay of 0 it
 *                          measures the real storage's syncs)
 *   LD_PRELOAD=build/.../libsync_delay.so buslog-host replay - ...
 * Built by CMake on POSIX (bench/CMakeLists.txt) and by
 * scripts/live-bench.sh. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

static long g_delayNanos = -1;
static long g_syncs;
static double g_synced; /* seconds in synced calls, from the clock */

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

__attribute__((destructor)) static void Report(void) {
  const char* report = getenv("BUSLOG_SYNC_DELAY_REPORT");
  if (report == NULL || *report == '\0' || *report == '0') return;
  fprintf(stderr, "sync_delay: %ld syncs, %.3f ms each on average\n", g_syncs,
          g_syncs > 0 ? 1e3 * g_synced / (double)g_syncs : 0.0);
}

static void Delay(void) {
  if (g_delayNanos < 0) {
    const char* text = getenv("BUSLOG_SYNC_DELAY_MS");
    double ms = text != NULL && *text != '\0' ? strtod(text, NULL) : 2.0;
    g_delayNanos = ms > 0 ? (long)(ms * 1e6) : 0;
  }
  if (g_delayNanos == 0) return;
  struct timespec left = {g_delayNanos / 1000000000L, g_delayNanos % 1000000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

/* O_SYNC holds the O_DSYNC bit on Linux; either makes a write a sync.
 * Returns when the call began, or 0 for a call that is no sync. */
static double DelayIfSynced(int fd) {
  int saved = errno;
  int flags = fcntl(fd, F_GETFL);
  double start = 0;
  if (flags >= 0 && (flags & (O_DSYNC | O_SYNC)) != 0) {
    start = Now();
    Delay();
  }
  errno = saved;
  return start;
}

static void Synced(double start) {
  if (start == 0) return;
  ++g_syncs;
  g_synced += Now() - start;
}

ssize_t write(int fd, const void* bytes, size_t count) {
  static ssize_t (*real)(int, const void*, size_t);
  if (real == NULL) real = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
  double start = DelayIfSynced(fd);
  ssize_t done = real(fd, bytes, count);
  int saved = errno;
  Synced(start);
  errno = saved;
  return done;
}

ssize_t pwrite(int fd, const void* bytes, size_t count, off_t offset) {
  static ssize_t (*real)(int, const void*, size_t, off_t);
  if (real == NULL) real = (ssize_t(*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, "pwrite");
  double start = DelayIfSynced(fd);
  ssize_t done = real(fd, bytes, count, offset);
  int saved = errno;
  Synced(start);
  errno = saved;
  return done;
}

ssize_t writev(int fd, const struct iovec* parts, int count) {
  static ssize_t (*real)(int, const struct iovec*, int);
  if (real == NULL) real = (ssize_t(*)(int, const struct iovec*, int))dlsym(RTLD_NEXT, "writev");
  double start = DelayIfSynced(fd);
  ssize_t done = real(fd, parts, count);
  int saved = errno;
  Synced(start);
  errno = saved;
  return done;
}

int fsync(int fd) {
  static int (*real)(int);
  if (real == NULL) real = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
  double start = Now();
  Delay();
  int done = real(fd);
  int saved = errno;
  Synced(start);
  errno = saved;
  return done;
}

int fdatasync(int fd) {
  static int (*real)(int);
  if (real == NULL) real = (int (*)(int))dlsym(RTLD_NEXT, "fdatasync");
  double start = Now();
  Delay();
  int done = real(fd);
  int saved = errno;
  Synced(start);
  errno = saved;
  return done;
}
