/* Live-input benchmark for buslog-host: starts the host on a pipe and
 * feeds it candump lines.
 *
 *   live_latency paced RATE COUNT LOG -- HOST ARGS...
 *       writes COUNT lines at RATE lines a second and times each from the
 *       moment it went into the pipe until its line is in LOG (a thread
 *       follows LOG with inotify); prints p50, p99 and max. A line still
 *       not in LOG some seconds after the last was sent (LIVE_WAIT, default
 *       30) counts as later than that: the host is then stopped twice
 *       (SIGINT, its second stop) and the figures say "> N s".
 *   live_latency burst COUNT LOG -- HOST ARGS...
 *       writes COUNT lines into the pipe as fast as it takes them; prints
 *       how long the writer was held, how long until the host had logged
 *       them all, and how long a reader that only drains the pipe holds
 *       the same writer (the least any reader can). A host not done
 *       LIVE_WAIT seconds after the last line went in is stopped the same
 *       way, and the lines in LOG then are counted.
 *
 * The host's standard error goes to LOG.stderr. POSIX only. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static int FormatLine(char* out, long i) {
  return sprintf(out, "(%ld.%06ld) can0 123#11223344%08lX\n", 1700000000L + i / 1000, (i % 1000) * 1000, i);
}

static void WriteAll(int fd, const char* bytes, size_t count) {
  while (count > 0) {
    ssize_t n = write(fd, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      perror("write");
      exit(1);
    }
    bytes += n;
    count -= (size_t)n;
  }
}

/* Starts argv with its standard input from a new pipe; returns the pipe's
 * writing end. */
static int StartHost(char** argv, const char* errPath, pid_t* pid) {
  int fds[2];
  if (pipe(fds) != 0) {
    perror("pipe");
    exit(1);
  }
  *pid = fork();
  if (*pid == 0) {
    dup2(fds[0], 0);
    close(fds[0]);
    close(fds[1]);
    int err = open(errPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err >= 0) dup2(err, 2);
    execv(argv[0], argv);
    perror("exec");
    _exit(127);
  }
  close(fds[0]);
  return fds[1];
}

struct Follower {
  const char* path;
  long count;
  double* logged;     /* when each line was seen in the log */
  volatile long seen; /* lines seen so far */
  volatile int giveUp;
};

static void* Follow(void* arg) {
  struct Follower* f = arg;
  int watch = inotify_init1(IN_CLOEXEC);
  int fd;
  while ((fd = open(f->path, O_RDONLY)) < 0) {
    if (f->giveUp) return NULL;
    usleep(200);
  }
  inotify_add_watch(watch, f->path, IN_MODIFY);
  long seen = 0;
  char buffer[1 << 16];
  char events[4096];
  while (seen < f->count) {
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) {
      double t = Now();
      for (ssize_t k = 0; k < n; ++k) {
        if (buffer[k] == '\n' && seen < f->count) f->logged[seen++] = t;
      }
      f->seen = seen;
    }
    if (seen >= f->count || f->giveUp) break;
    struct pollfd ready = {watch, POLLIN, 0};
    if (poll(&ready, 1, 100) > 0 && read(watch, events, sizeof events) < 0 && errno != EINTR) break;
  }
  close(fd);
  close(watch);
  return NULL;
}

static int Compare(const void* a, const void* b) {
  double x = *(const double*)a, y = *(const double*)b;
  return x < y ? -1 : x > y;
}

/* A latency in milliseconds, or "> N s" for a line not logged in time. */
static const char* Shown(double seconds, double waited, char* out, size_t size) {
  if (seconds >= 1e300) {
    snprintf(out, size, "> %.0f s", waited);
  } else {
    snprintf(out, size, "%.3f ms", 1e3 * seconds);
  }
  return out;
}

static int Paced(double rate, long count, const char* log, char** host) {
  char errPath[4096];
  snprintf(errPath, sizeof errPath, "%s.stderr", log);
  pid_t pid;
  int feed = StartHost(host, errPath, &pid);
  double* sent = calloc((size_t)count, sizeof *sent);
  struct Follower follower = {log, count, calloc((size_t)count, sizeof(double)), 0, 0};
  pthread_t thread;
  pthread_create(&thread, NULL, Follow, &follower);
  double start = Now() + 0.3;
  char line[128];
  for (long i = 0; i < count; ++i) {
    double due = start + (double)i / rate;
    double wait = due - Now();
    if (wait > 0) {
      struct timespec t = {(time_t)wait, (long)((wait - (double)(time_t)wait) * 1e9)};
      nanosleep(&t, NULL);
    }
    int length = FormatLine(line, i);
    sent[i] = Now();
    WriteAll(feed, line, (size_t)length);
  }
  double fed = Now();
  const char* waitText = getenv("LIVE_WAIT");
  double waitLimit = waitText != NULL ? atof(waitText) : 30.0;
  while (follower.seen < count && Now() - fed < waitLimit) usleep(10000);
  long seen = follower.seen;
  if (seen < count) {
    /* Too slow: a first stop would log the rest; the second gives it up. */
    follower.giveUp = 1;
    kill(pid, SIGINT);
    usleep(200000);
    kill(pid, SIGINT);
  }
  double allLogged = Now() - fed;
  pthread_join(thread, NULL);
  seen = follower.seen;
  close(feed);
  int status;
  waitpid(pid, &status, 0);
  double* latency = calloc((size_t)count, sizeof *latency);
  for (long i = 0; i < count; ++i) latency[i] = i < seen ? follower.logged[i] - sent[i] : 1e308;
  qsort(latency, (size_t)count, sizeof *latency, Compare);
  char p50[32], p99[32], max[32];
  printf("paced %.0f lines/s, %ld lines: latency p50 %s, p99 %s, max %s; ", rate, count,
         Shown(latency[count / 2], waitLimit, p50, sizeof p50),
         Shown(latency[count * 99 / 100], waitLimit, p99, sizeof p99),
         Shown(latency[count - 1], waitLimit, max, sizeof max));
  if (seen < count) {
    printf("%ld lines not logged %.0f s after the last was sent, host stopped", count - seen, waitLimit);
  } else {
    printf("all logged %.3f s after the last was sent", allLogged);
  }
  printf(" (host exit %d)\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  return 0;
}

/* Writes the whole text into `feed`; returns the seconds it took. */
static double Pour(int feed, const char* text, size_t size) {
  double start = Now();
  WriteAll(feed, text, size);
  double held = Now() - start;
  close(feed);
  return held;
}

static int Burst(long lines, const char* log, char** host) {
  size_t size = 0;
  char* text = malloc((size_t)lines * 64);
  for (long i = 0; i < lines; ++i) size += (size_t)FormatLine(text + size, i);

  /* The least: a reader that only drains the pipe (cat), and one that
   * reads the lines and counts them (wc -l). */
  char* drain[] = {"/bin/cat", NULL};
  char* count[] = {"/usr/bin/wc", "-l", NULL};
  pid_t pid;
  char errPath[4096];
  snprintf(errPath, sizeof errPath, "%s.stderr", log);
  int devnull = open("/dev/null", O_WRONLY);
  int savedOut = dup(1);
  fflush(stdout);
  dup2(devnull, 1);
  int feed = StartHost(drain, "/dev/null", &pid);
  double drained = Pour(feed, text, size);
  waitpid(pid, NULL, 0);
  feed = StartHost(count, "/dev/null", &pid);
  double counted = Pour(feed, text, size);
  waitpid(pid, NULL, 0);
  dup2(savedOut, 1);

  double start = Now();
  feed = StartHost(host, errPath, &pid);
  double held = Pour(feed, text, size);
  const char* waitText = getenv("LIVE_WAIT");
  double waitLimit = waitText != NULL ? atof(waitText) : 600.0;
  int status = 0;
  int done = 0;
  while (!done && Now() - start - held < waitLimit) {
    done = waitpid(pid, &status, WNOHANG) == pid;
    if (!done) usleep(10000);
  }
  double logged = Now() - start;
  printf("burst %ld lines (%.1f MB): writer held %.3f s (by cat: %.3f s, by wc -l: %.3f s); ", lines,
         (double)size / 1e6, held, drained, counted);
  if (done) {
    printf("all logged after %.3f s (host exit %d)\n", logged, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return 0;
  }
  kill(pid, SIGINT);
  usleep(200000);
  kill(pid, SIGINT);
  waitpid(pid, &status, 0);
  long inLog = 0;
  FILE* f = fopen(log, "rb");
  if (f != NULL) {
    int c;
    while ((c = getc(f)) != EOF) inLog += c == '\n';
    fclose(f);
  }
  printf("%ld lines logged after %.3f s, the host then stopped (%.0f lines/s)\n", inLog, logged,
         (double)inLog / logged);
  return 0;
}

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  int dash = 0;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--") == 0) {
      dash = i;
      break;
    }
  }
  if (dash == 0 || dash + 1 >= argc) {
    fprintf(stderr, "usage: live_latency paced RATE COUNT LOG -- HOST ARGS... | burst COUNT LOG -- HOST ARGS...\n");
    return 2;
  }
  if (strcmp(argv[1], "paced") == 0 && dash == 5) {
    return Paced(atof(argv[2]), atol(argv[3]), argv[4], argv + dash + 1);
  }
  if (strcmp(argv[1], "burst") == 0 && dash == 4) return Burst(atol(argv[2]), argv[3], argv + dash + 1);
  fprintf(stderr, "live_latency: unknown mode\n");
  return 2;
}
