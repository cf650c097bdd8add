// The Windows part of opening a log tool's output.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "log_tools.h"

namespace buslog_host {

bool PathExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool IsSameFile(FILE* open, const char* path) {
  HANDLE a = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(open)));
  HANDLE b = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (a == INVALID_HANDLE_VALUE || b == INVALID_HANDLE_VALUE) {
    if (b != INVALID_HANDLE_VALUE) CloseHandle(b);
    return false;
  }
  BY_HANDLE_FILE_INFORMATION infoA, infoB;
  bool same = GetFileInformationByHandle(a, &infoA) && GetFileInformationByHandle(b, &infoB) &&
              infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber &&
              infoA.nFileIndexHigh == infoB.nFileIndexHigh && infoA.nFileIndexLow == infoB.nFileIndexLow;
  CloseHandle(b);
  return same;
}

FILE* CreateFileForWriting(const char* path, bool exclusive) {
  int flags = _O_WRONLY | _O_CREAT | _O_BINARY | (exclusive ? _O_EXCL : _O_TRUNC);
  int fd = _open(path, flags, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) _close(fd);
  return file;
}

void SetBinaryMode(FILE* file) { _setmode(_fileno(file), _O_BINARY); }

}  // namespace buslog_host
