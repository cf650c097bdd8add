// Windows half of the file system layer: the ANSI file API, volume serial
// numbers and file indexes, GetModuleHandleEx for a library's own file.
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "platform/files.h"

#include "file_names.h"

namespace buslog_files {
namespace {

void SystemReason(DWORD error, char* reason, size_t size) {
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, reason,
                                static_cast<DWORD>(size), nullptr);
  while (length > 0 && (reason[length - 1] == '\n' || reason[length - 1] == '\r' || reason[length - 1] == '.')) {
    reason[--length] = '\0';
  }
  if (length == 0) snprintf(reason, size, "system error %lu", static_cast<unsigned long>(error));
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

bool IdentityOfPath(const char* path, FileIdentity* identity) {
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  bool known = IdentityOfHandle(reinterpret_cast<intptr_t>(handle), identity);
  CloseHandle(handle);
  return known;
}

bool IdentityOfHandle(intptr_t handle, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle), &info)) return false;
  *identity = FileIdentity{true, info.dwVolumeSerialNumber,
                           (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return true;
}

void IdentityOfStandardInput(FileIdentity* identity, bool* regularFile) {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  *identity = FileIdentity{};
  *regularFile = input != nullptr && input != INVALID_HANDLE_VALUE && GetFileType(input) == FILE_TYPE_DISK;
  if (*regularFile) IdentityOfHandle(reinterpret_cast<intptr_t>(input), identity);
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

bool RemoveFile(const char* path) { return DeleteFileA(path) != 0; }

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

bool SyncFolderOf(const char*) {
  // NTFS keeps its folders' entries in its journal; Windows offers no sync
  // of a folder that FAT volumes would honour.
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
  return buslog_files::UpThenDown(fromDirectory + common, IsSeparator, "..\\", to + common, out, size, reason,
                                  reasonSize);
}

bool LocalTime(int64_t seconds, struct tm* out) {
  __time64_t t = seconds;
  return _localtime64_s(out, &t) == 0;
}

char PathSeparator() { return '\\'; }

bool AbsolutePath(const char* path, char* out, size_t size) {
  DWORD length = GetFullPathNameA(path, static_cast<DWORD>(size), out, nullptr);
  return length != 0 && length < size;
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

bool LibraryPathOf(const void* address, char* out, size_t size) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCSTR>(address), &module)) {
    return false;
  }
  DWORD length = GetModuleFileNameA(module, out, static_cast<DWORD>(size));
  return length > 0 && length < size;
}

bool LibraryLoaded(const char* path) { return GetModuleHandleA(path) != nullptr; }

bool MakePrivateFolder(const char* parent, char* out, size_t size, char* reason, size_t reasonSize) {
  DWORD error = 0;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    int length = snprintf(out, size, "%s.buslog-%lu-%u\\", parent, static_cast<unsigned long>(GetCurrentProcessId()),
                          static_cast<unsigned>(GetTickCount()) + attempt);
    if (length < 0 || static_cast<size_t>(length) >= size) {
      snprintf(reason, reasonSize, "the path is too long");
      return false;
    }
    out[length - 1] = '\0';
    bool made = CreateDirectoryA(out, nullptr) != 0;
    error = GetLastError();
    out[length - 1] = '\\';
    if (made) return true;
    if (error != ERROR_ALREADY_EXISTS) break;
  }
  SystemReason(error, reason, reasonSize);
  return false;
}

bool TemporaryFolder(char* out, size_t size) {
  DWORD length = GetTempPathA(static_cast<DWORD>(size), out);
  return length > 0 && length < size;
}

bool PrivateCopyParent(const char* logFolder, char* out, size_t size) {
  if (!TemporaryFolder(out, size)) return false;
  char folder[kPathSize];
  if (!AbsolutePath(logFolder, folder, sizeof folder)) return true;
  size_t root = RootLength(out);
  bool sameRoot = root > 0 && RootLength(folder) == root;
  for (size_t i = 0; sameRoot && i < root; ++i) {
    if (IsSeparator(out[i]) ? !IsSeparator(folder[i]) : Lower(out[i]) != Lower(folder[i])) sameRoot = false;
  }
  if (sameRoot) return true;
  size_t length = strlen(folder);
  bool separator = length > 0 && IsSeparator(folder[length - 1]);
  int written = snprintf(out, size, "%s%s", folder, separator ? "" : "\\");
  return written > 0 && static_cast<size_t>(written) < size;
}

bool CopyFileTo(const char* from, const char* to, char* reason, size_t reasonSize) {
  if (CopyFileA(from, to, TRUE)) return true;
  SystemReason(GetLastError(), reason, reasonSize);
  return false;
}

bool RemoveFolder(const char* path) { return RemoveDirectoryA(path) != 0; }

bool MakeFolder(const char* path, char* reason, size_t reasonSize) {
  if (CreateDirectoryA(path, nullptr) != 0) return true;
  SystemReason(GetLastError(), reason, reasonSize);
  return false;
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

}  // namespace buslog_files
