/* Group commit in a host of buslog, in C99: several lines, one Write.
 *
 * The module copies PutString's bytes as they are, CR LF included, so a
 * host may put the fields of several lines into the line buffer, each line
 * but the last ended by PutString("\r\n"), and write them all with one
 * Write: one system call and, on a write-through log, one sync for all of
 * them. The log's bytes are the same as with one Write a line. The rules:
 *   - one Write holds at most 4,096 bytes before the CR LF that Write adds;
 *     text beyond is dropped. Know each line's length (or a bound that is
 *     never too small) before adding it, and write the batch first when the
 *     line would not fit;
 *   - Write result 0: every line of the batch is in the log. Anything else:
 *     none of them is (the module cuts a partial write off again). Log the
 *     batch's lines again one Write each to learn which cannot be written;
 *   - batch only lines that are already at hand; a line that comes alone is
 *     written at once, so that waiting for company never delays it.
 *
 *   c-batch [MODULE [BATCHED-LOG [SINGLE-LOG]]]
 * logs the same 300 CAN frames into BATCHED-LOG (default c-batch.log) in
 * batches and into SINGLE-LOG (default c-single.log) one Write each, both
 * in the module's folder, and says how many Writes each took. The two logs
 * are byte-identical. */
#include <stdio.h>
#include <string.h>

#include "buslog.h"
#include "buslog_loader.h"

/* What one Write holds before its CR LF (4,096 bytes). */
#define LINE_LIMIT BUSLOG_MAX_LINE

static BuslogApi api;

/* A frame: standard identifier, received on channel 0, up to 8 bytes. */
struct Frame {
  uint32_t number, seconds, micros, id, length;
  uint8_t data[8];
};

/* The exact length of a frame's line before its CR LF: frame number (9
 * digits below 1,000,000,000), time stamp (10), ",I,CAN     , 1,OK" (17),
 * ",0,1,23,2" (9) and 3 for each data byte. */
static uint32_t LineLength(const struct Frame* f) { return 9 + 10 + 17 + 9 + 3 * f->length; }

/* The fields of one frame's line into the module's line buffer. */
static void PutLine(const struct Frame* f) {
  int32_t count;
  uint32_t stamp[2];
  uint8_t record[BUSLOG_CAN_RECORD_SIZE(0, 8)];
  uint32_t size = BuslogBuildCanRecord(record, sizeof record, 0, f->id, f->length, f->data, f->length);
  stamp[0] = f->seconds;
  stamp[1] = f->micros;
  api.PutFrameId(1, &f->number, &count);
  api.PutTimeStamp(2, stamp, &count);
  api.PutFrame(BUSLOG_KIND_IN, BUSLOG_BUS_CAN, 0, BUSLOG_STATUS_OK, size, record, &count);
}

static int WriteLine(void) {
  int32_t count;
  void* cell;
  api.Write(0, NULL, &count, &cell);
  return *(const uint8_t*)cell;
}

static unsigned long writes;

/* Writes frames[0..n) with one Write; on a failure, one Write each.
 * Returns how many frames could not be written. */
static int WriteBatch(const struct Frame* frames, int n) {
  int i, failed = 0;
  for (i = 0; i < n; ++i) {
    int32_t count;
    if (i > 0) api.PutString(2, "\r\n", &count);
    PutLine(&frames[i]);
  }
  ++writes;
  if (WriteLine() == BUSLOG_WRITE_OK) return 0;
  for (i = 0; i < n; ++i) {
    PutLine(&frames[i]);
    ++writes;
    if (WriteLine() != BUSLOG_WRITE_OK) {
      fprintf(stderr, "c-batch: frame %u could not be written\n", (unsigned)frames[i].number);
      ++failed;
    }
  }
  return failed;
}

/* Logs the frames into `name`, in batches up to the line limit when
 * `batched`, else one Write each; returns the frames not written. */
static int LogFrames(const char* name, const struct Frame* frames, int n, int batched) {
  int32_t count;
  void* cell;
  int first = 0, i, failed = 0;
  uint32_t used = 0; /* bytes of the batch so far, CR LF between lines included */
  api.Open((uint32_t)strlen(name), name, &count, &cell);
  if (*(const uint8_t*)cell != BUSLOG_OPEN_OK) {
    fprintf(stderr, "c-batch: cannot open %s: Open result %u\n", name, *(const uint8_t*)cell);
    return n;
  }
  writes = 0;
  for (i = 0; i < n; ++i) {
    uint32_t length = LineLength(&frames[i]) + (i > first ? 2 : 0);
    if (i > first && (!batched || used + length > LINE_LIMIT)) {
      failed += WriteBatch(frames + first, i - first);
      first = i;
      length -= 2;
      used = 0;
    }
    used += length;
  }
  failed += WriteBatch(frames + first, n - first);
  api.Close(0, NULL, &count);
  printf("%s: %d frames in %lu Writes\n", name, n, writes);
  return failed;
}

int main(int argc, char** argv) {
#ifdef BUSLOG_MODULE_PATH
  const char* modulePath = argc > 1 ? argv[1] : BUSLOG_MODULE_PATH;
#else
  const char* modulePath = argc > 1 ? argv[1] : BUSLOG_MODULE_FILE_NAME;
#endif
  const char* batchedName = argc > 2 ? argv[2] : "c-batch.log";
  const char* singleName = argc > 3 ? argv[3] : "c-single.log";
  static struct Frame frames[300];
  BuslogModule module;
  char error[512];
  int i, b, failed;
  for (i = 0; i < 300; ++i) {
    frames[i].number = (uint32_t)i + 1;
    frames[i].seconds = (uint32_t)i / 100;
    frames[i].micros = (uint32_t)(i % 100) * 10000;
    frames[i].id = 0x100 + (uint32_t)i % 7;
    frames[i].length = (uint32_t)i % 9;
    for (b = 0; b < 8; ++b) frames[i].data[b] = (uint8_t)(i + b);
  }
  if (!BuslogLoadModule(modulePath, &module, error, sizeof error)) {
    fprintf(stderr, "c-batch: %s: %s\n", modulePath, error);
    return 1;
  }
  api = module.api;
  failed = LogFrames(batchedName, frames, 300, 1);
  failed += LogFrames(singleName, frames, 300, 0);
  BuslogUnloadModule(&module);
  return failed == 0 ? 0 : 1;
}
