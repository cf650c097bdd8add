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
      SystemErrorText(static_cast<int>(GetLastError()), reason, reasonSize);
      return false;
    }
  }
  input->handle = reinterpret_cast<intptr_t>(handle);
  DWORD type = GetFileType(handle);
  if (type == FILE_TYPE_DISK) {
    input->kind = InputKind::kRegular;
    LARGE_INTEGER size;
    if (GetFileSizeEx(handle, &size)) input->size = static_cast<uint64_t>(size.QuadPart);
    if (!IdentityOfHandle(reinterpret_cast<intptr_t>(handle), &input->identity) && input->standardInput) {
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

bool IdentityOfFile(FILE* file, FileIdentity* identity) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  return handle != INVALID_HANDLE_VALUE && IdentityOfHandle(reinterpret_cast<intptr_t>(handle), identity);
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

bool TruncateFile(FILE* file, uint64_t size) {
  return _chsize_s(_fileno(file), static_cast<__int64>(size)) == 0;
}

bool CutBackFile(FILE* file, uint64_t bytes) {
  int fd = _fileno(file);
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK) return false;
  __int64 at = _lseeki64(fd, 0, SEEK_CUR);
  if (at < 0 || static_cast<uint64_t>(at) < bytes) return false;
  __int64 to = at - static_cast<__int64>(bytes);
  return _chsize_s(fd, to) == 0 && _lseeki64(fd, to, SEEK_SET) >= 0;
}

// ---- the program, its folder, standard error

bool ExecutableDirectory(char* out, size_t size) {
  if (size < 2) return false;
  DWORD length = GetModuleFileNameA(nullptr, out, static_cast<DWORD>(size));
  if (length == 0 || length >= size) return false;
  char* slash = strrchr(out, '\\');
  if (slash == nullptr) return false;
  slash[1] = '\0';
  return true;
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

void IgnoreFileSizeSignal() {}

}  // namespace buslog_host
