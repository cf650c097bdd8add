// The file system as the writer and the host see it: which file a path or a
// handle is, exclusive creation and removal, paths relative to the module's
// folder, a second handle that watches a log the module holds open, folder
// syncs, and the system's reasons in words. Two halves implement this
// header, files_posix.cpp and files_win32.cpp, in the same order; the build
// picks one. No system header is seen above it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace buslog_files {

// Which file a path or a handle is: device and inode on POSIX, volume
// serial number and file index on Windows.
struct FileIdentity {
  bool known;
  uint64_t device;
  uint64_t index;
};

inline bool SameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.known && b.known && a.device == b.device && a.index == b.index;
}

// Identity of the file at `path`; false when it does not exist or cannot
// be examined.
bool IdentityOfPath(const char* path, FileIdentity* identity);
// Identity of the file open as `handle` (a descriptor, or a HANDLE); false
// when it cannot be examined.
bool IdentityOfHandle(intptr_t handle, FileIdentity* identity);
// Identity of standard input, and whether it is a regular file (which a
// log must then never replace, even when its identity cannot be told).
void IdentityOfStandardInput(FileIdentity* identity, bool* regularFile);

enum class PathState { kMissing, kFile, kFolder };
PathState StateOfPath(const char* path);

// Creates `path` as a new empty file, failing if anything of that name
// exists. On failure writes the reason ("exists", "permission denied", "the
// folder does not exist", ...) and sets `exists` when a file was in the way.
bool CreateNewFile(const char* path, bool* exists, char* reason, size_t reasonSize);
bool RemoveFile(const char* path);
// Size of the file at `path` in bytes; false when it cannot be found.
bool SizeOfFile(const char* path, uint64_t* size);
// Makes the folder that holds `path` durable (its entries: a new file's
// name, a removal, a rename). True where it was synced or the file system
// cannot sync a folder at all.
bool SyncFolderOf(const char* path);

// The full path of an output file given relative to the current directory
// (or absolute), with its folder resolved as the system will resolve it. The
// folder must exist; otherwise false with the reason.
bool FullOutputPath(const char* path, char* out, size_t size, char* reason, size_t reasonSize);

// The path that leads from the folder `fromDirectory` (full, ending with a
// separator) to the file `to` (full), with ".." segments as needed. False
// with the reason when there is none (another drive).
bool RelativePath(const char* fromDirectory, const char* to, char* out, size_t size, char* reason,
                  size_t reasonSize);

// Local time of `seconds` since 1970.
bool LocalTime(int64_t seconds, struct tm* out);

// Directory separator of this platform.
char PathSeparator();

// Writes the absolute form of `path` into `out`; false if it cannot.
bool AbsolutePath(const char* path, char* out, size_t size);

// The names in `folder` (without "." and ".."); false when it cannot be read.
bool ListFolder(const char* folder, std::vector<std::string>* names);

// ---- a private copy of a library

// The file the code at `address` was loaded from (a shared library or the
// program), full; false when the system does not say.
bool LibraryPathOf(const void* address, char* out, size_t size);
// True when the library at the full path `path` is already loaded in this
// process (by anyone); loading it again would give that instance.
bool LibraryLoaded(const char* path);
// Makes a new folder with a name of its own inside `parent` and writes its
// full path, with a separator at the end; false with the reason.
bool MakePrivateFolder(const char* parent, char* out, size_t size, char* reason, size_t reasonSize);
// The system's folder for temporary files, with a separator at the end.
bool TemporaryFolder(char* out, size_t size);
// Where a private copy of the module goes: the temporary folder, but on
// Windows, where the module opens logs on its own drive only, the folder
// `logFolder` when the temporary folder is on another drive. With a
// separator at the end.
bool PrivateCopyParent(const char* logFolder, char* out, size_t size);
// Copies the file `from` to the new file `to`; false with the reason.
bool CopyFileTo(const char* from, const char* to, char* reason, size_t reasonSize);
bool RemoveFolder(const char* path);
// Makes the folder `path` (its parent must exist), readable by others as
// the umask allows. On failure writes the system's reason.
bool MakeFolder(const char* path, char* reason, size_t reasonSize);

// ---- the log's storage

// The system's reason for the last failed call of this thread: errno on
// POSIX, GetLastError on Windows. Cleared before a module call whose
// failure is to be explained, taken right after it, before anything else
// (a message) can change it.
void ClearSystemError();
int LastSystemError();
// The reason in words ("No space left on device", "There is not enough
// space on the disk"); for 0, that the system gave none.
void SystemErrorText(int error, char* text, size_t size);

enum class ErrorKind {
  kOther,
  kFileTooLarge,  // the file may not grow: a process limit or the file system's largest file
  kNoSpace,       // the disk or a quota is full
};
ErrorKind KindOfError(int error);

// A second handle on a log that the module holds open, taken by its path
// right after the module's Open, asking for nothing that sharing could
// refuse: it tells the file's identity, links and size from the file
// itself, so that a log deleted, renamed or replaced under the writer is
// seen.
struct FileWatch {
  intptr_t handle;  // descriptor or HANDLE; -1: none
  bool canRead;     // its bytes can be read (POSIX; Windows when shared)
};
bool WatchFile(const char* path, FileWatch* watch);
void EndWatch(FileWatch* watch);

struct WatchedFile {
  FileIdentity identity;
  uint64_t size;
  uint64_t links;  // 0: deleted (its name removed)
};
bool LookAtWatched(const FileWatch& watch, WatchedFile* state);

enum class FileEnd { kWhole, kCut, kUnknown };
// Whether the file of `size` bytes ends with a whole line (CR LF, or is
// empty), or with a part of one.
FileEnd EndOfWatched(const FileWatch& watch, uint64_t size);

// Where the watched file is now, when the system can tell (a renamed log).
bool PathOfWatched(const FileWatch& watch, char* out, size_t size);

}  // namespace buslog_files
