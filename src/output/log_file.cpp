// Log file control.
#include "output/log_file.h"

#include <cstring>

namespace buslog {

void InitBaseDirectory(LogFile& log, const void* module) {
  PlatformFindModuleDirectory(module, log.baseDirectory);
}

void OpenLogFile(LogFile& log, uint32_t count, const uint8_t* name) {
  log.openResult = 0;
  if (log.handle != kNoFile) {
    log.openResult = 3;
    return;
  }
  if (count == 0) {
    log.openResult = 1;
    return;
  }
  uint64_t baseLength = strlen(log.baseDirectory);
  if (baseLength + count + 1 > kMaxPath) {
    log.openResult = 1;
    return;
  }
  // Without a known directory the log would land wherever the working
  // directory happens to be; refuse instead.
  if (baseLength == 0) {
    log.openResult = 2;
    return;
  }
  char path[kPathBufferSize] = {};
  memcpy(path, log.baseDirectory, baseLength);
  memcpy(path + baseLength, name, count);
  FileHandle file = PlatformCreateLogFile(path, log.shareRead != 0);
  if (file == kNoFile) {
    log.openResult = 2;
    return;
  }
  // Lines written to a file whose name is lost in a power cut are lost with
  // it: a file that cannot be made durable is not kept.
  if (!PlatformSyncNewEntry(path, file)) {
    PlatformCloseFile(file);
    PlatformRemoveFile(path);
    log.openResult = 2;
    return;
  }
  log.handle = file;
}

void SetShareMode(LogFile& log, uint32_t count, const void* values) {
  if (count < 1) return;
  uint32_t choice;
  memcpy(&choice, values, sizeof choice);
  log.shareModeResult = 0;
  log.shareRead = choice != 0 ? 1 : 0;
}

void CloseLogFile(LogFile& log) {
  if (log.handle == kNoFile) return;
  PlatformCloseFile(log.handle);
  log.handle = kNoFile;
}

}  // namespace buslog
