// The host's own system services beside the module loader: opening and
// reading the input, stop requests (signals, console events), the log
// tools' output files, the program's own folder, standard error. The file
// system itself (identities, exclusive creation, paths, the system's
// reasons) is the writer's layer, platform/files.h, named here for the
// host's code. Two halves implement this header, system_posix.cpp and
// system_win32.cpp, in the same order; the build picks one. No system header is seen above it, and no
// other file of the host has a system header or an #ifdef.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "file_names.h"
#include "platform/files.h"

namespace buslog_host {

// The file system layer and the names of files (platform/files.h,
// file_names.h), for the host's code.
using namespace buslog_files;

// ---- input

enum class InputKind {
  kRegular,  // a file with a size: read in large blocks
  kStream,   // a pipe, FIFO, terminal or socket: read as bytes arrive
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

// ---- files and paths (the file system layer the writer uses: platform/files.h)

// Identity of the file open as `file`; false when it cannot be examined.
bool IdentityOfFile(FILE* file, FileIdentity* identity);
// Creates `path` and opens it for writing in binary mode: only as a new file,
// or with `replace` also over an existing one, which it empties. Returns null
// with errno set when it cannot.
FILE* CreateOutputFile(const char* path, bool replace);
// Makes an open stream write bytes as they are (Windows would otherwise put
// a CR before every LF).
void SetBinaryMode(FILE* file);
// Cuts the file open as `file` to `size` bytes (the log tools' output after
// a failed write); false when it cannot.
bool TruncateFile(FILE* file, uint64_t size);
// Cuts the last `bytes` written off a regular file open as `file` at its
// current position (standard output sent to a file); false for a pipe or
// a terminal, which cannot be cut.
bool CutBackFile(FILE* file, uint64_t bytes);

// ---- the program, its folder, standard error

// Writes the directory of the running program, with its separator, into
// `out` (`size` bytes). Returns false if it does not fit or is unknown.
bool ExecutableDirectory(char* out, size_t size);

// True when standard error is a terminal (for progress lines).
bool StderrIsTerminal();

// Hands `count` bytes to standard error's file in as few writes as the
// system takes (Windows: with its LF to CR LF translation).
void WriteStandardError(const char* bytes, size_t count);

// ---- the log's storage

// A write past the process's file size limit fails (EFBIG) instead of
// ending the program (POSIX: SIGXFSZ ignored; Windows has no such signal).
void IgnoreFileSizeSignal();

}  // namespace buslog_host
