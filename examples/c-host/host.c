/* A host of buslog in C99: loads the module, logs one record of every kind
 * with the builders of buslog.h, closes the log and prints where it is.
 *   c-host [MODULE [LOG]]
 * MODULE defaults to the path the build was given (BUSLOG_MODULE_PATH), LOG
 * to "c-host.buslog" in the current directory. The module opens logs by a
 * name relative to its own folder, so the host hands it the way from there
 * to LOG ("../../home/me/c-host.buslog").
 */
#ifndef _WIN32
#define _XOPEN_SOURCE 700 /* realpath, getcwd */
#endif
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "buslog.h"
#include "buslog_loader.h"

#ifdef _WIN32
#include <direct.h>
#define FULL_PATH(path, out) _fullpath(out, path, sizeof out)
#define CURRENT_FOLDER(out) _getcwd(out, (int)sizeof out)
#define SEPARATOR "\\"
#define SAME(a, b) (tolower((unsigned char)(a)) == tolower((unsigned char)(b)) || (IS_SEPARATOR(a) && IS_SEPARATOR(b)))
#define IS_SEPARATOR(c) ((c) == '\\' || (c) == '/')
#else
#include <limits.h>
#include <unistd.h>
#define FULL_PATH(path, out) realpath(path, out)
#define CURRENT_FOLDER(out) getcwd(out, sizeof out)
#define SEPARATOR "/"
#define SAME(a, b) ((a) == (b))
#define IS_SEPARATOR(c) ((c) == '/')
#endif
#ifndef PATH_MAX
#define PATH_MAX 260
#endif

static BuslogApi api;

/* The name to give Open for `log` (relative to the current directory, or
 * full) in `name`, and the log's full path in `full`: from the module's real
 * folder up to the folders it shares with the log's, then down. Returns 0
 * with the reason in `name` when there is no such way (another drive). */
static int NameFromModuleFolder(const char* modulePath, const char* log, char* name, size_t nameSize, char* full,
                                size_t fullSize) {
  char module[PATH_MAX];
  char here[PATH_MAX];
  size_t common = 0;
  size_t i;
  size_t used = 0;
  int written;
  if (!FULL_PATH(modulePath, module)) {
    snprintf(name, nameSize, "cannot find the module's folder");
    return 0;
  }
  if (IS_SEPARATOR(log[0]) || (log[0] != '\0' && log[1] == ':')) {
    written = snprintf(full, fullSize, "%s", log);
  } else if (!CURRENT_FOLDER(here)) {
    snprintf(name, nameSize, "cannot find the current directory");
    return 0;
  } else {
    written = snprintf(full, fullSize, "%s%s%s", here, IS_SEPARATOR(here[strlen(here) - 1]) ? "" : SEPARATOR, log);
  }
  if (written < 0 || (size_t)written >= fullSize) {
    snprintf(name, nameSize, "the path is too long");
    return 0;
  }
  for (i = 0; module[i] != '\0' && SAME(module[i], full[i]); ++i) {
    if (IS_SEPARATOR(module[i])) common = i + 1;
  }
  if (common == 0) {
    snprintf(name, nameSize, "on another drive than the module, which opens logs on its own drive only");
    return 0;
  }
  /* One step up for each folder of the module's path past the shared ones. */
  for (i = common; module[i] != '\0'; ++i) {
    if (!IS_SEPARATOR(module[i])) continue;
    if (used + 3 >= nameSize) break;
    memcpy(name + used, ".." SEPARATOR, 3);
    used += 3;
  }
  if (used + strlen(full + common) >= nameSize) {
    snprintf(name, nameSize, "the path is too long");
    return 0;
  }
  snprintf(name + used, nameSize - used, "%s", full + common);
  return 1;
}
static uint32_t frameNumber;

/* Frame number and time stamp: the fields that open every line. */
static void BeginLine(uint32_t seconds, uint32_t micros) {
  int32_t count;
  uint32_t number = ++frameNumber;
  uint32_t stamp[2];
  stamp[0] = seconds;
  stamp[1] = micros;
  api.PutFrameId(1, &number, &count);
  api.PutTimeStamp(2, stamp, &count);
}

/* Ends the line with CR LF and writes it; returns the Write result. */
static int EndLine(void) {
  int32_t count;
  void* cell;
  api.Write(0, NULL, &count, &cell);
  return *(const uint8_t*)cell;
}

/* One line holding one record that a builder made (0 bytes: it refused). */
static int LogRecord(uint32_t seconds, uint32_t micros, uint32_t kind, uint32_t bus, int32_t channel,
                     const uint8_t* record, uint32_t length) {
  int32_t count;
  if (length == 0) return BUSLOG_WRITE_FAILED;
  BeginLine(seconds, micros);
  api.PutFrame(kind, bus, channel, BUSLOG_STATUS_OK, length, record, &count);
  return EndLine();
}

int main(int argc, char** argv) {
#ifdef BUSLOG_MODULE_PATH
  const char* modulePath = argc > 1 ? argv[1] : BUSLOG_MODULE_PATH;
#else
  const char* modulePath = argc > 1 ? argv[1] : BUSLOG_MODULE_FILE_NAME;
#endif
  const char* logPath = argc > 2 ? argv[2] : "c-host.buslog";
  char logName[PATH_MAX];
  char logFull[PATH_MAX];
  static const uint8_t data[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
  static const uint8_t portFirst[2] = {0x05, 0x80};
  static const uint8_t portSecond[2] = {0x03, 0x01};
  uint8_t record[64];
  BuslogModule module;
  char error[512];
  int32_t count;
  void* cell;
  int failures = 0;
  uint32_t errorCode = 0x1F;
  const char* note = ",operator: stopped";

  if (!BuslogLoadModule(modulePath, &module, error, sizeof error)) {
    fprintf(stderr, "c-host: %s: %s\n", modulePath, error);
    return 1;
  }
  api = module.api;
  if (!NameFromModuleFolder(modulePath, logPath, logName, sizeof logName, logFull, sizeof logFull)) {
    fprintf(stderr, "c-host: %s: %s\n", logPath, logName);
    BuslogUnloadModule(&module);
    return 1;
  }
  api.Open((uint32_t)strlen(logName), logName, &count, &cell);
  if (*(const uint8_t*)cell != BUSLOG_OPEN_OK) {
    fprintf(stderr, "c-host: cannot open %s: Open result %u\n", logFull, *(const uint8_t*)cell);
    BuslogUnloadModule(&module);
    return 1;
  }

  failures += LogRecord(0, 0, BUSLOG_KIND_MARKER, 0, 0, record,
                        BuslogBuildMarkerRecord(record, sizeof record, "Start of test"));
  failures += LogRecord(0, 1000, BUSLOG_KIND_IN, BUSLOG_BUS_CAN, 0, record,
                        BuslogBuildCanRecord(record, sizeof record, 0, 0x123, 2, data, 2));
  failures += LogRecord(0, 2000, BUSLOG_KIND_OUT, BUSLOG_BUS_CAN, 1, record,
                        BuslogBuildCanRecord(record, sizeof record, BUSLOG_CAN_EXTENDED, 0x18DAF110, 8, data, 8));
  failures += LogRecord(0, 3000, BUSLOG_KIND_IN, BUSLOG_BUS_LIN, 0, record,
                        BuslogBuildLinRecord(record, sizeof record, 0x0A, 0x3C, 0x02, data, 2));
  failures += LogRecord(0, 4000, BUSLOG_KIND_OUT, BUSLOG_BUS_CXPI, 1, record,
                        BuslogBuildCxpiRecord(record, sizeof record, 3, 1, 0x45, 2, 1, 3, data, 2));
  failures += LogRecord(0, 5000, BUSLOG_KIND_PORT, BUSLOG_BUS_PORT_IN, 0, record,
                        BuslogBuildPortRecord(record, sizeof record, portFirst, portSecond, 1));
  failures += LogRecord(0, 6000, BUSLOG_KIND_PORT, BUSLOG_BUS_PORT_OUT, 0, record,
                        BuslogBuildPortRecord(record, sizeof record, portFirst, portSecond, 2));
  failures += LogRecord(0, 7000, BUSLOG_KIND_ENV, 0, 0, record,
                        BuslogBuildEnvRecord(record, sizeof record, "EngineSpeed", "1500", 4));
  /* An error code and free text need no builder. */
  BeginLine(1, 0);
  api.PutError(1, &errorCode, &count);
  api.PutString((uint32_t)strlen(note), note, &count);
  failures += EndLine();
  api.Close(0, NULL, &count);
  BuslogUnloadModule(&module);

  printf("log: %s\n", logFull);
  if (failures > 0) fprintf(stderr, "c-host: %d lines were not written\n", failures);
  return failures > 0 ? 1 : 0;
}
