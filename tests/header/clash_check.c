/* Compiled, never run: the public headers under C99's strictest warnings,
 * in a program that has functions of its own named like the module's
 * exports. Any clash or warning fails the build. */
#include "buslog.h"
#include "buslog_loader.h"

int Open(const char* path);
void Close(void);
long Write(int fd, const void* data, unsigned long size);
int PutFrame(int frame);
extern int ShareMode;

int Open(const char* path) { return path != 0; }
void Close(void) {}
long Write(int fd, const void* data, unsigned long size) { return fd + (data != 0) + (long)size; }
int PutFrame(int frame) { return frame; }
int ShareMode = 1;

uint32_t BuildEveryRecord(uint8_t* buffer, size_t size);
uint32_t BuildEveryRecord(uint8_t* buffer, size_t size) {
  static const uint8_t data[2] = {1, 2};
  uint32_t total = BuslogBuildCanRecord(buffer, size, BUSLOG_CAN_EXTENDED, 0x123, 2, data, 2);
  total += BuslogBuildLinRecord(buffer, size, 1, 2, 3, data, 2);
  total += BuslogBuildCxpiRecord(buffer, size, 1, 0, 2, 3, 0, 1, data, 2);
  total += BuslogBuildPortRecord(buffer, size, data, data, 2);
  total += BuslogBuildEnvRecord(buffer, size, "name", data, 2);
  total += BuslogBuildMarkerRecord(buffer, size, "text");
  return total;
}

int LoadAndUnload(const char* path);
int LoadAndUnload(const char* path) {
  BuslogModule module;
  char error[256];
  int loaded = BuslogLoadModule(path, &module, error, sizeof error);
  BuslogUnloadModule(&module);
  return loaded;
}
