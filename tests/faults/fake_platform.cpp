// The fake platform: every function of platform/platform.h with the same
// signature, backed by FakePlatform so a test decides what the system does
// and sees what the module asked of it.
#include "faults/fake_platform.h"

#include <cstring>

namespace buslog_fake {

FakePlatform& Fake() {
  static FakePlatform fake;
  return fake;
}

void ResetFake() { Fake() = FakePlatform(); }

int OpenFileCount() {
  int count = 0;
  for (const FakeFile& file : Fake().files) count += file.open ? 1 : 0;
  return count;
}

namespace {

// The file behind an open handle, or nullptr after recording the misuse.
FakeFile* OpenFile(buslog::FileHandle handle, const char* call) {
  FakePlatform& fake = Fake();
  intptr_t index = handle - kFirstHandle;
  if (index < 0 || index >= static_cast<intptr_t>(fake.files.size()) || !fake.files[index].open) {
    fake.misuse.push_back(std::string(call) + " with handle " + std::to_string(handle));
    return nullptr;
  }
  return &fake.files[index];
}

}  // namespace
}  // namespace buslog_fake

namespace buslog {

using buslog_fake::Fake;

uint32_t PlatformFindModuleDirectory(const void*, char* directory) {
  const std::string& dir = Fake().knobs.moduleDirectory;
  directory[0] = '\0';
  if (dir.empty() || dir.size() > kMaxPath) return 0;
  memcpy(directory, dir.c_str(), dir.size() + 1);
  return static_cast<uint32_t>(dir.size());
}

FileHandle PlatformCreateLogFile(const char* path, bool shareRead) {
  buslog_fake::FakePlatform& fake = Fake();
  ++fake.createCalls;
  fake.createdPaths.push_back(path);
  if (fake.knobs.refuseCreate) return kNoFile;
  fake.files.push_back(buslog_fake::FakeFile{path, shareRead, true, "", false});
  return buslog_fake::kFirstHandle + static_cast<FileHandle>(fake.files.size()) - 1;
}

bool PlatformSyncNewEntry(const char* path, FileHandle file) {
  buslog_fake::FakePlatform& fake = Fake();
  fake.syncedEntries.push_back(path);
  buslog_fake::FakeFile* target = buslog_fake::OpenFile(file, "PlatformSyncNewEntry");
  if (target == nullptr) return false;
  if (target->path != path) {
    fake.misuse.push_back("PlatformSyncNewEntry of " + std::string(path) + " with the handle of " + target->path);
  }
  return !fake.knobs.entrySyncFails;
}

void PlatformRemoveFile(const char* path) {
  buslog_fake::FakePlatform& fake = Fake();
  bool found = false;
  for (buslog_fake::FakeFile& file : fake.files) {
    if (file.path != path || file.removed) continue;
    // Removing a file that is still open works on POSIX only: the module
    // closes it first.
    if (file.open) fake.misuse.push_back("PlatformRemoveFile of open " + file.path);
    file.removed = true;
    found = true;
  }
  if (!found) fake.misuse.push_back("PlatformRemoveFile of " + std::string(path) + ", never created");
}

bool PlatformWriteAll(FileHandle file, const char* bytes, uint32_t count) {
  buslog_fake::FakePlatform& fake = Fake();
  fake.writeRequests.push_back(std::string(bytes, count));
  buslog_fake::FakeFile* target = buslog_fake::OpenFile(file, "PlatformWriteAll");
  if (target == nullptr) return false;
  if (fake.knobs.failingWrites > 0) {
    --fake.knobs.failingWrites;
    uint32_t prefix = fake.knobs.bytesBeforeFailure < count ? fake.knobs.bytesBeforeFailure : count;
    target->content.append(bytes, prefix);
    return false;
  }
  target->content.append(bytes, count);
  return true;
}

void PlatformCloseFile(FileHandle file) {
  buslog_fake::FakeFile* target = buslog_fake::OpenFile(file, "PlatformCloseFile");
  if (target == nullptr) return;
  // A failed close still ends the handle, as on both real systems; it is
  // only the report that differs, and the module gets none.
  if (Fake().knobs.closeFails) ++Fake().failedCloses;
  target->open = false;
}

}  // namespace buslog
