// A platform layer under the test's control, in place of the real POSIX or
// Windows half: it keeps its "files" in memory, fails on request, and records
// every call, including calls with a handle it never handed out or already
// closed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace buslog_fake {

// What the next calls do. Defaults: everything succeeds.
struct Knobs {
  std::string moduleDirectory = "/fake/logs/";  // empty: the module's path is unknown
  bool refuseCreate = false;                    // PlatformCreateLogFile gives kNoFile
  int failingWrites = 0;                        // so many next writes report failure...
  uint32_t bytesBeforeFailure = 0;              // ...after storing this prefix of the bytes
  bool closeFails = false;                      // the system reports a failed close
  bool entrySyncFails = false;                  // PlatformSyncNewEntry reports failure
};

struct FakeFile {
  std::string path;
  bool shareRead;
  bool open;
  std::string content;
  bool removed;  // PlatformRemoveFile was called with its path
};

struct FakePlatform {
  Knobs knobs;
  int createCalls = 0;
  std::vector<std::string> createdPaths;  // every path PlatformCreateLogFile was asked for
  std::vector<FakeFile> files;            // handle h is files[h - kFirstHandle]
  std::vector<std::string> writeRequests; // the bytes of every PlatformWriteAll call
  int failedCloses = 0;
  std::vector<std::string> syncedEntries;  // every path PlatformSyncNewEntry was asked for
  std::vector<std::string> misuse;        // calls with a handle that was not open
};

// Handles start here, so that no small number and no kNoFile is ever valid.
constexpr buslog::FileHandle kFirstHandle = 1000;

// The one fake behind the platform functions.
FakePlatform& Fake();

// Forgets all files and calls and sets the knobs back to their defaults.
void ResetFake();

// Number of fake files that are open now.
int OpenFileCount();

}  // namespace buslog_fake
