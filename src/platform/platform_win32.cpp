// Windows half of the platform layer: the ANSI file API and the module's own
// file name from GetModuleFileNameA.
#include "platform/platform.h"

#include <stdlib.h>
#include <string.h>
#include <windows.h>

namespace buslog {

uint32_t PlatformFindModuleDirectory(const void* module, char* directory) {
  directory[0] = '\0';
  char fileName[kPathBufferSize] = {};
  DWORD length = GetModuleFileNameA(static_cast<HMODULE>(const_cast<void*>(module)), fileName,
                                    kPathBufferSize);
  // A result of 0 is a failure; a full buffer means the name was cut.
  // _splitpath takes no buffer sizes: a path of at most 258 bytes keeps its
  // directory part within the 257 bytes below.
  if (length == 0 || length >= kMaxPath - 1) return 0;

  char drive[4] = {};
  char dir[257] = {};
  _splitpath(fileName, drive, dir, nullptr, nullptr);
  size_t driveLength = strlen(drive);
  size_t dirLength = strlen(dir);
  if (dirLength == 0 || driveLength + dirLength > kMaxPath) return 0;
  memcpy(directory, drive, driveLength);
  memcpy(directory + driveLength, dir, dirLength + 1);
  return static_cast<uint32_t>(driveLength + dirLength);
}

FileHandle PlatformCreateLogFile(const char* path, bool shareRead) {
  // FILE_FLAG_WRITE_THROUGH: WriteFile returns only once its data is on the
  // disk; the cache may keep a copy for reading but is not flushed lazily.
  // CREATE_ALWAYS makes a new empty file, or empties an existing one. NTFS
  // logs the metadata of the create (the file record and its name in the
  // directory) in its journal, so that a crash leaves the volume consistent,
  // but that does not make the create itself durable: the CreateFile
  // documentation warns that even with write-through and no buffering at
  // all "the file metadata may still be cached", for example when creating
  // an empty file, and names FlushFileBuffers as the way to make sure it
  // reaches the disk. PlatformSyncNewEntry does that once, right after this
  // create. (NTFS keeps the file's name in the file's own record too; the
  // documentation names no flush of a directory for programs to use.)
  HANDLE file = CreateFileA(path, GENERIC_WRITE, shareRead ? FILE_SHARE_READ : 0, nullptr,
                            CREATE_ALWAYS, FILE_FLAG_WRITE_THROUGH | FILE_ATTRIBUTE_NORMAL, nullptr);
  return reinterpret_cast<FileHandle>(file);
}

bool PlatformSyncNewEntry(const char* path, FileHandle file) {
  (void)path;
  HANDLE handle = reinterpret_cast<HANDLE>(file);
  // FlushFileBuffers writes the file's data and metadata out of the cache
  // and has the device flush its own cache (so documented for NTFS, ReFS,
  // FAT and exFAT). Devices and pipes (NUL, COM1, \\.\pipe\...) hold no
  // metadata, and a pipe's flush would wait for its reader: nothing to do
  // there.
  if (GetFileType(handle) != FILE_TYPE_DISK) return true;
  return FlushFileBuffers(handle) != 0;
}

void PlatformRemoveFile(const char* path) { DeleteFileA(path); }

namespace {

// Cuts the last `count` bytes written off the file, makes the cut durable
// and leaves the file pointer at the new end. Left as it is when the file
// cannot be cut.
void TakeBack(HANDLE handle, uint32_t count) {
  LARGE_INTEGER distance;
  distance.QuadPart = -static_cast<LONGLONG>(count);
  if (!SetFilePointerEx(handle, distance, nullptr, FILE_CURRENT)) return;
  if (SetEndOfFile(handle)) {
    // Write-through covers the bytes written, not the new end of the file,
    // which is metadata the cache may keep: without the flush a power cut
    // could bring the cut bytes back. A failed flush changes nothing for
    // the caller (see platform_posix.cpp).
    FlushFileBuffers(handle);
    return;
  }
  distance.QuadPart = count;
  SetFilePointerEx(handle, distance, nullptr, FILE_CURRENT);
}

}  // namespace

bool PlatformWriteAll(FileHandle file, const char* bytes, uint32_t count) {
  HANDLE handle = reinterpret_cast<HANDLE>(file);
  uint32_t done = 0;
  while (done < count) {
    DWORD written = 0;
    // A successful call that wrote nothing would loop for ever.
    if (!WriteFile(handle, bytes + done, count - done, &written, nullptr) || written == 0 ||
        written > count - done) {
      // A part of a line would run into the next line: take it back.
      if (done > 0) TakeBack(handle, done);
      return false;
    }
    done += written;
  }
  return true;
}

void PlatformCloseFile(FileHandle file) { CloseHandle(reinterpret_cast<HANDLE>(file)); }

}  // namespace buslog
