/* The floor of a one-write-per-line logger: reads a text file in large
 * blocks and writes each of its lines, ended by CR LF, with one write() of
 * its own, doing no formatting at all. Fed the log that a replay wrote, it
 * writes the same bytes in the same writes as the module did, so the gap
 * between the two is what parsing and formatting cost. With --dsync the
 * file is opened O_DSYNC, as the module opens its log.
 *   floor_writer INPUT OUT [--dsync] */
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: floor_writer INPUT OUT [--dsync]\n");
    return 2;
  }
  int flags = O_WRONLY | O_CREAT | O_TRUNC;
  if (argc > 3 && strcmp(argv[3], "--dsync") == 0) flags |= O_DSYNC;
  int in = open(argv[1], O_RDONLY);
  int out = open(argv[2], flags, 0644);
  if (in < 0 || out < 0) {
    perror("open");
    return 1;
  }
  static char block[1 << 20];
  static char line[4098];
  size_t pending = 0;
  unsigned long long lines = 0;
  for (;;) {
    ssize_t got = read(in, block + pending, sizeof block - pending);
    if (got < 0) return 1;
    size_t end = pending + (size_t)got;
    size_t start = 0;
    for (;;) {
      char* newline = memchr(block + start, '\n', end - start);
      if (newline == NULL) break;
      size_t length = (size_t)(newline - (block + start));
      if (length > 0 && block[start + length - 1] == '\r') --length;
      if (length > 4096) length = 4096;
      memcpy(line, block + start, length);
      line[length] = '\r';
      line[length + 1] = '\n';
      if (write(out, line, length + 2) != (ssize_t)(length + 2)) return 1;
      ++lines;
      start = (size_t)(newline - block) + 1;
    }
    pending = end - start;
    memmove(block, block + start, pending);
    if (got == 0) break;
  }
  fprintf(stderr, "%llu lines\n", lines);
  return close(out) == 0 ? 0 : 1;
}
