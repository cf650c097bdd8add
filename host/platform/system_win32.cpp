// Windows half of the host's system services: the ANSI file API, a console
// control handler, volume serial numbers and file indexes.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <windows.h>

#include <atomic>

#include "platform/system.h"

namespace buslog_host {
namespace {

std::atomic<int> g_stopRequests{0};
HANDLE g_done = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      g_stopRequests.fetch_add(1);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The system ends the program when this returns (at the latest some
      // seconds later): hold it until the log is closed.
      g_stopRequests.fetch_add(1);
      if (g_done != nullptr) WaitForSingleObject(g_done, 4500);
      return TRUE;
    default:
      return FALSE;
  }
}

void SystemReason(DWORD error, char* reason, size_t size) {
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, reason,
                                static_cast<DWORD>(size), nullptr);
  while (length > 0 && (reason[length - 1] == '\n' || reason[length - 1] == '\r' || reason[length - 1] == '.')) {
    reason[--length] = '\0';
  }
  if (length == 0) snprintf(reason, size, "system error %lu", static_cast<unsigned long>(error));
}

bool IdentityOfHandle(HANDLE handle, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  *identity = FileIdentity{true, info.dwVolumeSerialNumber,
                           (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return true;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// "C:\", or "\\server\share\" of a UNC path: what must match for a relative
// path to exist. Returns its length.
size_t RootLength(const char* path) {
  if (path[0] != '\0' && path[1] == ':') return IsSeparator(path[2]) ? 3 : 2;
  if (IsSeparator(path[0]) && IsSeparator(path[1])) {
    size_t i = 2;
    for (int parts = 0; parts < 2 && path[i] != '\0'; ++parts) {
      while (path[i] != '\0' && !IsSeparator(path[i])) ++i;
      if (path[i] != '\0') ++i;
    }
    return i;
  }
  return 0;
}

}  // namespace

bool OpenInputFile(const char* path, InputFile* input, char* reason, size_t reasonSize) {
  *input = InputFile{};
  input->standardInput = strcmp(path, "-") == 0;
  HANDLE handle;
  if (input->standardInput) {
    handle = GetStdHandle(STD_INPUT_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
      snprintf(reason, reasonSize, "there is no standard input");
      return false;
    }
  } else {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      snprintf(reason, reasonSize, "is a folder, not a candump trace");
      return false;
    }
    handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      SystemReason(GetLastError(), reason, reasonSize);
      return false;
    }
  }
  input->handle = reinterpret_cast<intptr_t>(handle);
  DWORD type = GetFileType(handle);
  if (type == FILE_TYPE_DISK) {
    input->kind = InputKind::kRegular;
    LARGE_INTEGER size;
    if (GetFileSizeEx(handle, &size)) input->size = static_cast<uint64_t>(size.QuadPart);
    if (!IdentityOfHandle(handle, &input->identity) && input->standardInput) {
      IdentityOfFile(stdin, &input->identity);
    }
    if (input->standardInput) {
      SetBinaryMode(stdin);
      input->stream = stdin;
    } else {
      int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
      input->stream = fd < 0 ? nullptr : _fdopen(fd, "rb");
      if (input->stream == nullptr) {
        snprintf(reason, reasonSize, "cannot be read");
        if (fd < 0) CloseHandle(handle);
        return false;
      }
    }
  } else {
    input->kind = InputKind::kStream;
  }
  return true;
}

void CloseInputFile(InputFile* input) {
  if (input->standardInput) return;
  if (input->stream != nullptr) {
    fclose(input->stream);
  } else {
    CloseHandle(reinterpret_cast<HANDLE>(input->handle));
  }
  input->stream = nullptr;
}

long ReadInput(const InputFile& input, char* bytes, size_t size) {
  DWORD got = 0;
  DWORD want = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
  if (ReadFile(reinterpret_cast<HANDLE>(input.handle), bytes, want, &got, nullptr)) return static_cast<long>(got);
  DWORD error = GetLastError();
  if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return 0;
  if (error == ERROR_OPERATION_ABORTED) return -2;
  return -1;
}

bool WakeInputReader(const InputFile& input) {
  return CancelIoEx(reinterpret_cast<HANDLE>(input.handle), nullptr) != 0;
}

void InstallStopHandlers() {
  if (g_done == nullptr) g_done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int StopRequests() { return g_stopRequests.load(std::memory_order_relaxed); }

void StopHandlingDone() {
  if (g_done != nullptr) SetEvent(g_done);
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

bool IdentityOfPath(const char* path, FileIdentity* identity) {
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  bool known = IdentityOfHandle(handle, identity);
  CloseHandle(handle);
  return known;
}

bool IdentityOfFile(FILE* file, FileIdentity* identity) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  return handle != INVALID_HANDLE_VALUE && IdentityOfHandle(handle, identity);
}

PathState StateOfPath(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathState::kMissing;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathState::kFolder : PathState::kFile;
}

bool CreateNewFile(const char* path, bool* exists, char* reason, size_t reasonSize) {
  *exists = false;
  HANDLE handle = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    return true;
  }
  DWORD error = GetLastError();
  switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: *exists = true; snprintf(reason, reasonSize, "a file of that name exists"); break;
    case ERROR_PATH_NOT_FOUND: snprintf(reason, reasonSize, "the folder does not exist"); break;
    case ERROR_ACCESS_DENIED: snprintf(reason, reasonSize, "permission denied: this user may not create files in that folder"); break;
    case ERROR_WRITE_PROTECT: snprintf(reason, reasonSize, "the folder is on a write-protected volume"); break;
    default: SystemReason(error, reason, reasonSize); break;
  }
  return false;
}

FILE* CreateOutputFile(const char* path, bool replace) {
  // The C runtime's open sets errno, which the callers report.
  int fd = _open(path, _O_WRONLY | _O_CREAT | _O_BINARY | (replace ? _O_TRUNC : _O_EXCL), _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) _close(fd);
  return file;
}

void SetBinaryMode(FILE* file) { _setmode(_fileno(file), _O_BINARY); }

bool RemoveFile(const char* path) { return DeleteFileA(path) != 0; }

bool SyncFolderOf(const char*) {
  // FlushFileBuffers is documented for files and for a whole volume (which
  // needs administrator rights), not for a folder: the removal is as
  // durable as the file system makes it.
  return true;
}

bool TruncateFile(FILE* file, uint64_t size) {
  return _chsize_s(_fileno(file), static_cast<__int64>(size)) == 0;
}

bool SizeOfFile(const char* path, uint64_t* size) {
  // A folder entry's size may lag behind a file that is open for writing;
  // the file's own size does not. Asking for no access at all is allowed
  // even while the module holds the log without sharing.
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    LARGE_INTEGER bytes;
    bool known = GetFileSizeEx(handle, &bytes) != 0;
    CloseHandle(handle);
    if (known) {
      *size = static_cast<uint64_t>(bytes.QuadPart);
      return true;
    }
  }
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
  *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

bool FullOutputPath(const char* path, char* out, size_t size, char* reason, size_t reasonSize) {
  size_t length = strlen(path);
  if (length == 0 || IsSeparator(path[length - 1])) {
    snprintf(reason, reasonSize, "names a folder, not a file");
    return false;
  }
  DWORD full = GetFullPathNameA(path, static_cast<DWORD>(size), out, nullptr);
  if (full == 0 || full >= size) {
    snprintf(reason, reasonSize, "the path is too long");
    return false;
  }
  char* last = strrchr(out, '\\');
  if (last == nullptr) {
    snprintf(reason, reasonSize, "has no folder");
    return false;
  }
  // The folder without its last separator, except for a drive's root.
  char* cut = last > out && last[-1] != ':' ? last : last + 1;
  char saved = *cut;
  *cut = '\0';
  DWORD attributes = GetFileAttributesA(out);
  *cut = saved;
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    snprintf(reason, reasonSize, "its folder does not exist");
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    snprintf(reason, reasonSize, "its folder is not a folder");
    return false;
  }
  if (StateOfPath(out) == PathState::kFolder) {
    snprintf(reason, reasonSize, "is a folder, not a file");
    return false;
  }
  return true;
}

bool RelativePath(const char* fromDirectory, const char* to, char* out, size_t size, char* reason,
                  size_t reasonSize) {
  size_t root = RootLength(fromDirectory);
  bool sameRoot = root > 0 && RootLength(to) == root;
  for (size_t i = 0; sameRoot && i < root; ++i) {
    if (IsSeparator(fromDirectory[i]) ? !IsSeparator(to[i]) : Lower(fromDirectory[i]) != Lower(to[i])) {
      sameRoot = false;
    }
  }
  if (!sameRoot) {
    snprintf(reason, reasonSize,
             "it is on another drive than the module (%.*s), which opens logs on its own drive only; choose an "
             "--output on %.*s",
             static_cast<int>(root), fromDirectory, static_cast<int>(root), fromDirectory);
    return false;
  }
  // Windows compares names without regard to case.
  size_t common = root;
  for (size_t i = root; fromDirectory[i] != '\0' && to[i] != '\0'; ++i) {
    bool bothSeparators = IsSeparator(fromDirectory[i]) && IsSeparator(to[i]);
    if (!bothSeparators && Lower(fromDirectory[i]) != Lower(to[i])) break;
    if (bothSeparators) common = i + 1;
  }
  size_t used = 0;
  for (const char* p = fromDirectory + common; *p != '\0'; ++p) {
    if (!IsSeparator(*p)) continue;
    if (used + 3 >= size) {
      snprintf(reason, reasonSize, "the path is too long");
      return false;
    }
    memcpy(out + used, "..\\", 3);
    used += 3;
  }
  int written = snprintf(out + used, size - used, "%s", to + common);
  if (written < 0 || static_cast<size_t>(written) >= size - used) {
    snprintf(reason, reasonSize, "the path is too long");
    return false;
  }
  return true;
}

bool LocalTime(int64_t seconds, struct tm* out) {
  __time64_t t = seconds;
  return _localtime64_s(out, &t) == 0;
}

// ---- the program, its folder, standard error

char PathSeparator() { return '\\'; }

bool ExecutableDirectory(char* out, size_t size) {
  if (size < 2) return false;
  DWORD length = GetModuleFileNameA(nullptr, out, static_cast<DWORD>(size));
  if (length == 0 || length >= size) return false;
  char* slash = strrchr(out, '\\');
  if (slash == nullptr) return false;
  slash[1] = '\0';
  return true;
}

bool AbsolutePath(const char* path, char* out, size_t size) {
  DWORD length = GetFullPathNameA(path, static_cast<DWORD>(size), out, nullptr);
  return length != 0 && length < size;
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void WriteStandardError(const char* bytes, size_t count) {
  // _write translates LF to CR LF as the C runtime's own stderr does.
  while (count > 0) {
    int piece = count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(count);
    int written = _write(_fileno(stderr), bytes, static_cast<unsigned>(piece));
    if (written <= 0) return;
    bytes += written;
    count -= static_cast<size_t>(written);
  }
}

void ClearSystemError() { SetLastError(0); }

int LastSystemError() { return static_cast<int>(GetLastError()); }

void SystemErrorText(int error, char* text, size_t size) {
  if (error == 0) {
    snprintf(text, size, "the system gave no reason");
  } else {
    SystemReason(static_cast<DWORD>(error), text, size);
  }
}

ErrorKind KindOfError(int error) {
  if (error == ERROR_FILE_TOO_LARGE) return ErrorKind::kFileTooLarge;
  if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) {
    return ErrorKind::kNoSpace;
  }
  return ErrorKind::kOther;
}

void IgnoreFileSizeSignal() {}

bool WatchFile(const char* path, FileWatch* watch) {
  // Reading is refused while the module holds the log without sharing;
  // asking for no access at all never is.
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE handle = CreateFileA(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool canRead = handle != INVALID_HANDLE_VALUE;
  if (!canRead) handle = CreateFileA(path, 0, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *watch = FileWatch{-1, false};
    return false;
  }
  *watch = FileWatch{reinterpret_cast<intptr_t>(handle), canRead};
  return true;
}

void EndWatch(FileWatch* watch) {
  if (watch->handle != -1) CloseHandle(reinterpret_cast<HANDLE>(watch->handle));
  watch->handle = -1;
  watch->canRead = false;
}

bool LookAtWatched(const FileWatch& watch, WatchedFile* state) {
  if (watch.handle == -1) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(watch.handle), &info)) return false;
  state->identity = FileIdentity{true, info.dwVolumeSerialNumber,
                                 (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  state->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  state->links = info.nNumberOfLinks;
  return true;
}

FileEnd EndOfWatched(const FileWatch& watch, uint64_t size) {
  if (size == 0) return FileEnd::kWhole;
  if (!watch.canRead || size < 2) return size < 2 ? FileEnd::kCut : FileEnd::kUnknown;
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(size - 2);
  at.OffsetHigh = static_cast<DWORD>((size - 2) >> 32);
  char last[2];
  DWORD got = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(watch.handle), last, 2, &got, &at) || got != 2) return FileEnd::kUnknown;
  return last[0] == '\r' && last[1] == '\n' ? FileEnd::kWhole : FileEnd::kCut;
}

bool PathOfWatched(const FileWatch& watch, char* out, size_t size) {
  if (watch.handle == -1 || size == 0) return false;
  DWORD length = GetFinalPathNameByHandleA(reinterpret_cast<HANDLE>(watch.handle), out, static_cast<DWORD>(size),
                                           FILE_NAME_NORMALIZED);
  if (length == 0 || length >= size) return false;
  // "\\?\C:\logs\run.csv" -> "C:\logs\run.csv"
  if (strncmp(out, "\\\\?\\", 4) == 0) memmove(out, out + 4, length - 4 + 1);
  return true;
}

bool ListFolder(const char* folder, std::vector<std::string>* names) {
  std::string pattern = std::string(folder) + "\\*";
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0) continue;
    names->push_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return true;
}

}  // namespace buslog_host
