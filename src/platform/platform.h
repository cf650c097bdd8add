// The few system services the module needs: find the directory of its own
// file, create the log file and make its name durable (or remove it again),
// write a whole buffer to it, close it. Two halves implement this header,
// platform_win32.cpp and platform_posix.cpp, in the same order; the build
// picks one. No system header is seen above this layer.
#pragma once

#include <cstdint>

namespace buslog {

// A Windows HANDLE or a POSIX file descriptor, widened to a pointer-sized
// integer. Both systems use all bits set (-1) for "no file".
using FileHandle = intptr_t;
constexpr FileHandle kNoFile = -1;

// Longest path the module hands to the system, without its terminating zero
// (MAX_PATH); path buffers are one byte larger.
constexpr uint32_t kMaxPath = 260;
constexpr uint32_t kPathBufferSize = kMaxPath + 1;

// Writes into `directory` (kPathBufferSize bytes) the drive and directory of
// the module file that holds `module`, ending with its separator, e.g.
// "C:\tools\bus\" or "/opt/bus/", and returns its length. `module` is the
// instance handle on Windows and any address inside the module on POSIX.
// When the module's path cannot be found, or does not fit, `directory` is
// left empty and 0 is returned.
uint32_t PlatformFindModuleDirectory(const void* module, char* directory);

// Creates `path` for writing, replacing an existing file with an empty one,
// write-through (each write reaches the device before it returns). With
// `shareRead` other openers may read the file while it is open; without it
// they are refused (Windows only: POSIX has no mandatory sharing).
// Returns kNoFile on failure.
FileHandle PlatformCreateLogFile(const char* path, bool shareRead);

// Makes the file just created at `path` as `file` durable as a file: after
// a power cut it is still there under its name, not only the lines written
// to it. Returns false if the system could not do so; the caller then closes
// and removes the file. Where a system cannot sync what is there at all (a
// device, a file system without directory sync) there is nothing more to
// do, and that counts as done.
bool PlatformSyncNewEntry(const char* path, FileHandle file);

// Removes the file at `path` (closed before). A failure is not reported.
void PlatformRemoveFile(const char* path);

// Writes all `count` bytes, continuing after short and interrupted writes.
// Returns false if the system reports failure or stops making progress;
// then the part already written is cut off the file again and the cut is
// synced before this returns, so that the file still ends where the line
// began, also after a power cut (when the file allows it: a pipe does not).
// A failed sync of the cut is not reported apart: false is returned either
// way.
bool PlatformWriteAll(FileHandle file, const char* bytes, uint32_t count);

// Closes `file`. A failure is not reported: the handle is gone either way.
void PlatformCloseFile(FileHandle file);

}  // namespace buslog
