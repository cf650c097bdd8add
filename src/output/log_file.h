// The log file: where it lives (the module's own directory), whether others
// may read it while it is open, and its handle from Open to Close.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace buslog {

struct LogFile {
  FileHandle handle;                    // kNoFile while no log file is open
  uint32_t shareModeResult;             // result cell of ShareMode
  char baseDirectory[kPathBufferSize];  // the module's directory, with separator
  uint8_t shareRead;                    // 1: the next Open lets others read
  uint8_t openResult;                   // result cell of Open: 0 to 3
};

// Records the drive and directory of the module that holds `module` as the
// base directory; leaves it empty if that path cannot be had in full.
void InitBaseDirectory(LogFile& log, const void* module);

// Creates the log file named by the `count` bytes at `name` in the base
// directory and keeps it open. Sets openResult: 0 open; 1 empty name or
// base directory plus name longer than kMaxPath; 2 not created, or created
// but its name could not be made durable (then it is removed again), or the
// base directory is unknown; 3 a log file is open already, unchanged.
void OpenLogFile(LogFile& log, uint32_t count, const uint8_t* name);

// With at least one value, chooses shared reading for the next Open (value
// non-zero) or none, and sets shareModeResult to 0 for good. Without a value
// nothing changes.
void SetShareMode(LogFile& log, uint32_t count, const void* values);

// Closes the log file if one is open.
void CloseLogFile(LogFile& log);

}  // namespace buslog
