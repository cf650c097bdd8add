// The host's own system services beside the module loader: opening and
// reading the input, stop requests (signals, console events), file identity,
// exclusive creation and removal of log files, the log tools' output files,
// paths and local time, the program's own folder, standard error. Two halves
// implement this header, system_posix.cpp and system_win32.cpp, in the same
// order; the build picks one. No system header is seen above it, and no
// other file of the host has a system header or an #ifdef.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace buslog_host {

// ---- input

enum class InputKind {
  kRegular,  // a file with a size: read in large blocks
  kStream,   // a pipe, FIFO, terminal or socket: read as bytes arrive
};

// Which file a path or a handle is: device and inode on POSIX, volume
// serial number and file index on Windows.
struct FileIdentity {
  bool known;
  uint64_t device;
  uint64_t index;
};

struct InputFile {
  intptr_t handle;  // file descriptor or HANDLE
  bool standardInput;
  InputKind kind;
  uint64_t size;    // bytes, for regular files
  FileIdentity identity;
  FILE* stream;     // regular files: the block reader's stream
};

// Opens `path` for reading ("-" is standard input) and finds what it is.
// A missing, unreadable or directory input returns false with a short
// reason ("No such file or directory", "is a folder, not a trace").
bool OpenInputFile(const char* path, InputFile* input, char* reason, size_t reasonSize);
void CloseInputFile(InputFile* input);

// Waits for bytes of a stream input and reads up to `size` of them. Returns
// how many, 0 at the end of the input, -1 when reading failed, -2 when a
// stop was requested while it waited (POSIX; Windows returns -2 only when
// the read was cancelled).
long ReadInput(const InputFile& input, char* bytes, size_t size);

// Makes a ReadInput that waits in another thread return. Returns false
// where this system cannot interrupt it (the reader then stays blocked
// until its input says something).
bool WakeInputReader(const InputFile& input);

// ---- stops

// Counts SIGINT, SIGTERM and SIGHUP (Windows: Ctrl+C, Ctrl+Break, closing
// the console, logging off) from now on instead of ending the program.
void InstallStopHandlers();
// How many stop requests arrived so far.
int StopRequests();
// Tells a console-close handler waiting on Windows that the logging is
// done, and gives the stop requests back to the system's default handling.
void StopHandlingDone();

// ---- files and paths

// Identity of the file at `path`; false when it does not exist or cannot
// be examined.
bool IdentityOfPath(const char* path, FileIdentity* identity);
// Identity of the file open as `file`; false when it cannot be examined.
bool IdentityOfFile(FILE* file, FileIdentity* identity);
inline bool SameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.known && b.known && a.device == b.device && a.index == b.index;
}

enum class PathState { kMissing, kFile, kFolder };
PathState StateOfPath(const char* path);

// Creates `path` as a new empty file, failing if anything of that name
// exists. On failure writes the reason ("exists", "permission denied", "the
// folder does not exist", ...) and sets `exists` when a file was in the way.
bool CreateNewFile(const char* path, bool* exists, char* reason, size_t reasonSize);
// Creates `path` and opens it for writing in binary mode: only as a new file,
// or with `replace` also over an existing one, which it empties. Returns null
// with errno set when it cannot.
FILE* CreateOutputFile(const char* path, bool replace);
// Makes an open stream write bytes as they are (Windows would otherwise put
// a CR before every LF).
void SetBinaryMode(FILE* file);
bool RemoveFile(const char* path);
// Makes the removal of the file at `path` durable by syncing the folder
// that held it (POSIX: fsync of the folder), so that it cannot come back
// after a power cut. Returns false if the system could not; a file system
// that cannot sync a folder at all counts as done. Windows documents no
// way for a program to flush a folder: nothing is done there, and true is
// returned.
bool SyncFolderOf(const char* path);
// Cuts the file open as `file` to `size` bytes (the log tools' output after
// a failed write); false when it cannot.
bool TruncateFile(FILE* file, uint64_t size);
// Size of the file at `path` in bytes; false when it cannot be found.
bool SizeOfFile(const char* path, uint64_t* size);

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

// ---- the program, its folder, standard error

// Directory separator of this platform.
char PathSeparator();

// Writes the directory of the running program, with its separator, into
// `out` (`size` bytes). Returns false if it does not fit or is unknown.
bool ExecutableDirectory(char* out, size_t size);

// Writes the absolute form of `path` into `out`; false if it cannot.
bool AbsolutePath(const char* path, char* out, size_t size);

// True when standard error is a terminal (for progress lines).
bool StderrIsTerminal();

// Hands `count` bytes to standard error's file in as few writes as the
// system takes (Windows: with its LF to CR LF translation).
void WriteStandardError(const char* bytes, size_t count);

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

// A write past the process's file size limit fails (EFBIG) instead of
// ending the program (POSIX: SIGXFSZ ignored; Windows has no such signal).
void IgnoreFileSizeSignal();

// A second handle on a log that the module holds open, taken by its path
// right after the module's Open, asking for nothing that sharing could
// refuse: it tells the file's identity, links and size from the file
// itself, so that a log deleted, renamed or replaced under the logger is
// seen and a rotation by size reads the file being written.
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

// The names in `folder` (without "." and ".."); false when it cannot be read.
bool ListFolder(const char* folder, std::vector<std::string>* names);

}  // namespace buslog_host
