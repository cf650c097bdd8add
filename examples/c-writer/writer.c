/* A C99 host on buslog's logging engine: logs a candump trace. The engine
 * numbers the frames, names the channels, writes the marker lines, writes
 * the frames at hand with one Write, and survives the storage's faults;
 * this program only reads candump lines ("(1700000000.000000) can0
 * 123#DEADBEEF T"). Other lines are passed over.
 *   c-writer TRACE [LOG]      (LOG defaults to c-writer.buslog)
 * Built against the install: libbuslog-writer (buslog::writer, or
 * pkg-config buslog-writer), which loads the module beside itself. */
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "buslog_writer.h"

/* The frame of one candump line, its bytes in `data` and `name`; 0 when the
 * line is no frame. */
static int ParseLine(const char* line, BuslogFrame* f, uint8_t* data, char* name) {
  unsigned long long seconds;
  unsigned micros, value;
  char id[16], body[200] = "", mark[4] = "";
  const char* at = body;
  memset(f, 0, sizeof *f);
  if (sscanf(line, "(%llu.%6u) %31s %15[0-9A-Fa-f]#%199s %3s", &seconds, &micros, name, id, body, mark) < 4) return 0;
  f->seconds = seconds;
  f->micros = micros;
  f->id = (uint32_t)strtoul(id, NULL, 16);
  f->flags = (uint8_t)((strlen(id) == 8 ? BUSLOG_FRAME_EXTENDED : 0) | (strcmp(mark, "T") == 0 ? BUSLOG_FRAME_SENT : 0));
  if (f->id & 0x20000000u) f->flags |= BUSLOG_FRAME_ERROR; /* candump's error flag: the rest is the class */
  f->id &= 0x1FFFFFFFu;
  if (*at == 'R') {
    f->flags |= BUSLOG_FRAME_REMOTE;
    f->lengthCode = (uint8_t)strtoul(at + 1, NULL, 16);
  } else if (*at == '#') {
    if (sscanf(at + 1, "%1x", &value) != 1) return 0;
    f->flags |= BUSLOG_FRAME_FD;
    f->fdFlags = (uint8_t)value;
    at += 2;
  }
  while (!(f->flags & BUSLOG_FRAME_REMOTE) && *at != '\0' && *at != '_') {
    if (*at == '.' && ++at) continue; /* candump may part the bytes with dots */
    if (f->dataLength == 64 || !isxdigit((unsigned char)at[0]) || !isxdigit((unsigned char)at[1])) return 0;
    sscanf(at, "%2x", &value);
    data[f->dataLength++] = (uint8_t)value;
    at += 2;
  }
  if (*at == '_') f->lengthCode = (uint8_t)strtoul(at + 1, NULL, 16); /* "_C": 8 bytes, length code 12 */
  f->data = data;
  f->interfaceName = name;
  f->interfaceLength = (uint32_t)strlen(name);
  return 1;
}

int main(int argc, char** argv) {
  BuslogWriterOptions options;
  BuslogWriter* writer;
  BuslogWriterReport report;
  BuslogFrame frame;
  uint8_t data[64];
  char line[512], name[32], error[512];
  FILE* trace = argc > 1 ? fopen(argv[1], "r") : NULL;
  if (trace == NULL) return fprintf(stderr, "usage: c-writer TRACE [LOG]\n"), 2;
  BuslogWriterDefaults(&options);
  options.output = argc > 2 ? argv[2] : "c-writer.buslog";
  options.writer = "c-writer 1.0";
  options.mode = BUSLOG_WRITER_REPLAY; /* a file: frames at hand in one Write, in this thread */
  options.input = argv[1];
  if (BuslogWriterOpen(&options, &writer, error, sizeof error) != BUSLOG_WRITER_OK) {
    return fprintf(stderr, "c-writer: %s\n", error), 1;
  }
  while (fgets(line, sizeof line, trace) != NULL) {
    if (ParseLine(line, &frame, data, name) && BuslogWriterAdd(writer, &frame) == BUSLOG_WRITER_BAD_ARGUMENT) {
      BuslogWriterCheckFrame(&frame, error, sizeof error);
      fprintf(stderr, "c-writer: frame not logged: %s\n", error);
    }
  }
  fclose(trace);
  int status = BuslogWriterClose(writer, &report) == BUSLOG_WRITER_OK ? 0 : 1;
  while (BuslogWriterNextMessage(writer, error, sizeof error) != 0) fprintf(stderr, "c-writer: %s\n", error);
  if (status != 0) fprintf(stderr, "c-writer: %s\n", report.text);
  printf("log: %s\n", options.output);
  BuslogWriterFree(writer);
  return status;
}
