/* A host of buslog in C99: loads the module, logs one record of every kind
 * with the builders of buslog.h, closes the log and prints where it is.
 *   c-host [MODULE [LOG-NAME]]
 * MODULE defaults to the path the build was given (BUSLOG_MODULE_PATH),
 * LOG-NAME to "c-host.log"; the module creates the log in its own folder.
 */
#include <stdio.h>
#include <string.h>

#include "buslog.h"
#include "buslog_loader.h"

static BuslogApi api;
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
  const char* logName = argc > 2 ? argv[2] : "c-host.log";
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
  size_t folder;

  if (!BuslogLoadModule(modulePath, &module, error, sizeof error)) {
    fprintf(stderr, "c-host: %s: %s\n", modulePath, error);
    return 1;
  }
  api = module.api;
  api.Open((uint32_t)strlen(logName), logName, &count, &cell);
  if (*(const uint8_t*)cell != BUSLOG_OPEN_OK) {
    fprintf(stderr, "c-host: cannot open %s: Open result %u\n", logName, *(const uint8_t*)cell);
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

  /* The module put the log in its own folder. */
  folder = strlen(modulePath);
  while (folder > 0 && modulePath[folder - 1] != '/' && modulePath[folder - 1] != '\\') --folder;
  printf("log: %.*s%s\n", (int)folder, modulePath, logName);
  if (failures > 0) fprintf(stderr, "c-host: %d lines were not written\n", failures);
  return failures > 0 ? 1 : 0;
}
